#include "ui/ReportCommand.h"

#include "core/BrowserTables.h"
#include "core/Clock.h"
#include "core/Departments.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/PrintReport.h"

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QStringList>

namespace vok {

int writeTableReport(const ReportRequest& request, QString* error)
{
    const BrowserTable* table = findBrowserTable(request.table);
    if (!table) {
        QStringList names;
        for (const BrowserTable* t : browserTables())
            names << t->table.toString();
        *error = QStringLiteral("没有表“%1”的报表，可用：%2")
                     .arg(request.table, names.join(QLatin1Char(' ')));
        return 2;
    }
    const std::optional<QString> cs =
        departmentConnectionString(request.department, request.preparer, QString());
    if (!cs) {
        *error = QStringLiteral("部门选择项不正确: %1（可选: %2）")
                     .arg(request.department, departmentNames().join(QLatin1Char(' ')));
        return 2;
    }
    QString select = table->selectAll();
    if (request.query) {
        try {
            select = composeQuery(table->queryFields, request.field, request.op, request.value);
        } catch (const DbError& e) {
            *error = comErrorText(e);
            return 2;
        }
        if (select.isEmpty()) {
            QStringList fields;
            for (const QueryField& f : table->queryFields)
                fields << f.text.toString();
            *error =
                QStringLiteral("表 %1 没有查询项“%2”，可用：%3")
                    .arg(table->table.toString(), request.field, fields.join(QLatin1Char(' ')));
            return 2;
        }
    }

    RecordListModel list(table->columns());
    try {
        const ConnectionPtr connection = openConnection(*cs);
        list.fill(*connection, select);
        connection->close();
    } catch (const DbError& e) {
        *error = comErrorText(e);
        return 1;
    }

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(request.pdfFile);
    const bool written = printTableReport(
        printer, *table->report, list.rowCount(),
        [&list](int row, int column) { return list.text(row, column); }, request.preparer,
        Clock::now());
    if (!written) {
        QFile::remove(request.pdfFile);
        *error =
            QStringLiteral("无法写入文件“%1”。").arg(QDir::toNativeSeparators(request.pdfFile));
        return 1;
    }
    return 0;
}

} // namespace vok

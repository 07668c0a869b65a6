#include "ui/ReportCommand.h"

#include "core/Clock.h"
#include "core/Departments.h"
#include "core/OutputFile.h"
#include "core/TableAccess.h"
#include "core/TableReport.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/PrintReport.h"

#include <QDir>
#include <QPrinter>
#include <QStringList>

namespace vok {

QString writeTableReport(const ReportRequest& request)
{
    const TableDescription* table = tables::find(request.table);
    if (!table || !table->printedByName)
        return QStringLiteral("没有表“%1”的报表，可用：%2")
            .arg(request.table, tables::printedNames().join(QLatin1Char(' ')));
    const std::optional<QString> cs =
        departmentConnectionString(request.department, request.preparer, QString());
    if (!cs)
        return unknownDepartmentText(request.department);
    // The condition is checked before any database is opened.
    bool known = true;
    if (request.query) {
        try {
            known = composeQuery(table->name(), table->queryFields, request.field, request.op,
                                 request.value, Engine::Sqlite)
                        .has_value();
        } catch (const DbError& e) {
            return comErrorText(e);
        }
    }
    if (!known) {
        QStringList fields;
        for (const QueryField& f : table->queryFields)
            fields << f.text.toString();
        return QStringLiteral("表 %1 没有查询项“%2”，可用：%3")
            .arg(table->name(), request.field, fields.join(QLatin1Char(' ')));
    }

    // The list reads its rows as the report draws them: the connection
    // stays open until the report is written.
    RecordListModel list(table->listColumns());
    const ConnectionPtr connection = openConnection(*cs);
    const TableAccess access(*connection, *table);
    TableRows rows = access.all();
    if (request.query)
        rows = *access.query(request.field, request.op, request.value);
    access.fill(list, rows);

    OutputFile out(request.pdfFile);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(out.writingName());
    const bool written = printTableReport(
        printer, *table->report, list.countAll(),
        [&list](int row, int column) { return list.text(row, column); }, request.preparer,
        Clock::now());
    if (const auto failure = list.takeFailure())
        throw *failure;
    if (!written)
        throw DbError(
            DbError::kFail,
            QStringLiteral("无法写入文件“%1”。").arg(QDir::toNativeSeparators(request.pdfFile)));
    out.commitPdf();
    return QString();
}

} // namespace vok

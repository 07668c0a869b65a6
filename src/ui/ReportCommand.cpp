#include "ui/ReportCommand.h"

#include "core/Clock.h"
#include "core/CommandLine.h"
#include "core/OutputFile.h"
#include "core/TableAccess.h"
#include "core/TableReport.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/PrintReport.h"

#include <QDir>
#include <QStringList>

namespace vok {

void writeTableReport(const ReportRequest& request)
{
    const TableDescription* table =
        &CommandLine::table(request.table, tables::printedNames(),
                            QStringLiteral("没有表“%1”的报表，可用：%2"), QStringLiteral(" "));
    const CommandLine::Department department(request.department, request.preparer);
    // The condition is checked before any database is opened.
    if (request.query && !composeQuery(table->name(), table->queryFields, request.field, request.op,
                                       request.value, Engine::Sqlite)) {
        QStringList fields;
        for (const QueryField& f : table->queryFields)
            fields << f.text.toString();
        CommandLine::refuse(QStringLiteral("表 %1 没有查询项“%2”，可用：%3")
                                .arg(table->name(), request.field, fields.join(QLatin1Char(' '))));
    }

    ReportFontLoader fonts(*table->report);
    // The list reads its rows as the report draws them: the connection
    // stays open until the report is written.
    RecordListModel list(table->listColumns());
    list.setCountInBackground(false);
    const ConnectionPtr connection = department.open();
    const TableAccess access(*connection, *table);
    TableRows rows = access.all();
    if (request.query)
        rows = *access.query(request.field, request.op, request.value);
    access.fill(list, rows);

    fonts.wait();
    OutputFile out(request.pdfFile);
    const bool written = writeTableReportPdf(
        out.writingName(), *table->report, list.countAll(),
        [&list](int row, int column) { return list.checkedText(row, column); }, request.preparer,
        Clock::now());
    if (!written)
        throw DbError(
            DbError::Kind::File,
            QStringLiteral("无法写入文件“%1”。").arg(QDir::toNativeSeparators(request.pdfFile)));
    out.commitPdf();
}

} // namespace vok

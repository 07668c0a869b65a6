#pragma once

#include <QString>

namespace vok {

// A report of one browser's table written to a PDF file without a window
// (vok --report TABLE --pdf FILE): the rows the browser's list would show,
// the whole table or the result of a query composed as its query builder
// composes it.
struct ReportRequest
{
    QString table;
    QString pdfFile;
    QString department = QStringLiteral("部门A");
    QString preparer;
    bool query = false;
    QString field, op, value;
};

// Writes the report. A request that cannot be served (unknown table,
// department, query field, operator or date) is thrown as a refusal,
// before any file is made; a failure of the database or the file leaves
// no file.
void writeTableReport(const ReportRequest& request);

} // namespace vok

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

// Writes the report. Returns why a request cannot be served (unknown
// table, department, query field, operator or date), in Chinese, or an
// empty text when the report was written; throws DbError when the
// database or the file fails (no file is left then).
[[nodiscard]] QString writeTableReport(const ReportRequest& request);

} // namespace vok

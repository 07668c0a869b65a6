#pragma once

#include <QString>

namespace vok {

// The period summary written to a file without a window (vok --summary
// YYYY-MM[..YYYY-MM] (--pdf | --xlsx | --csv) FILE): the rows and the
// total line the summary form shows for those months.
struct SummaryRequest
{
    QString months; // "2026-02" or "2026-01..2026-03"
    QString pdfFile, xlsxFile, csvFile;
    QString department = QStringLiteral("部门A");
    QString preparer;
};

// Writes the summary. A request that cannot be served (the months, the
// files, the department) is thrown as a refusal; a failure of the
// database or the file leaves no file.
void writeSummaryReport(const SummaryRequest& request);

} // namespace vok

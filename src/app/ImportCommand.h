#pragma once

#include <QString>

namespace vok {

// An import from the command line (vok --import TABLE FILE [--department D]
// [--dry-run]): the file checked as the preview checks it and, unless only
// a dry run, written in one transaction.
struct ImportRequest
{
    QString table;
    QString file;
    QString department = QStringLiteral("部门A");
    QString userName;
    bool dryRun = false;
};

// Runs it. Returns 0 when every row was written (or, in a dry run, would
// be), 1 when the file has problems (each told on standard error, nothing
// written) or the file or the database fails, 2 for a request that cannot
// be served (unknown table or department).
int runImport(const ImportRequest& request);

} // namespace vok

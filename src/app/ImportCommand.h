#pragma once

#include <QString>

namespace vok {

// An import from the command line (vok --import TABLE FILE [--department D]
// [--columns "数量=件数,…"] [--dry-run]): the file's columns matched by
// heading, then as chosen by hand for the table's last import in the
// preview, then as --columns says; the file checked as the preview checks
// it and, unless only a dry run, written in one transaction.
struct ImportRequest
{
    QString table;
    QString file;
    QString department = QStringLiteral("部门A");
    QString userName;
    QString columns; // "表中的列=文件中的列,…", as TableImport::matchColumns() takes them
    bool dryRun = false;
};

// Runs it: every row written (or, in a dry run, checked). A request that
// cannot be served (unknown table or department, columns that cannot be
// matched) is thrown as a refusal; a file with problems (each told on
// standard error, nothing written) as a failure of the file.
void runImport(const ImportRequest& request);

} // namespace vok

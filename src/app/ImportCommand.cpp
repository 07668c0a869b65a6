#include "app/ImportCommand.h"

#include "core/CommandLine.h"
#include "core/TableImport.h"
#include "core/Tables.h"
#include "db/DbError.h"

#include <QStringList>

#include <cstdio>

namespace vok {

namespace {

void printLine(FILE* stream, const QString& text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
}

void printError(const QString& text)
{
    printLine(stderr, QStringLiteral("vok: ") + text);
}

} // namespace

void runImport(const ImportRequest& request)
{
    const TableDescription& table =
        CommandLine::table(request.table, tables::importedNames(),
                           QStringLiteral("不能导入表“%1”，可导入：%2"), QStringLiteral(", "));
    if (request.file.isEmpty())
        CommandLine::refuse(QStringLiteral("缺少要导入的文件。"));
    const CommandLine::Department department(request.department, request.userName);
    TableImport import(table);
    import.open(request.file);
    if (const QString remembered = TableImport::rememberedColumns(table); !remembered.isEmpty()) {
        import.matchColumns(remembered, true);
        if (const QString used = import.matchedByHand(); !used.isEmpty())
            printError(QStringLiteral("按上次导入时选的对应列：%1").arg(used));
    }
    if (const QString problem = import.matchColumns(request.columns); !problem.isEmpty())
        CommandLine::refuse(QStringLiteral("--columns：%1").arg(problem));
    if (const QStringList ignored = import.ignoredHeadings(); !ignored.isEmpty())
        printError(QStringLiteral("这些列不导入：%1").arg(ignored.join(QStringLiteral("、"))));
    const ConnectionPtr connection = department.open();
    import.check(*connection); // no progress: never cancelled
    if (import.problemCount() > 0) {
        for (const ImportProblem& p : import.problems())
            printError(p.describe());
        if (const qint64 more = import.problemCount() - qint64(import.problems().size()))
            printError(QStringLiteral("另有%1个问题未列出。").arg(more));
        throw DbError(
            DbError::Kind::File,
            QStringLiteral("文件中有%1个问题，没有导入任何记录。").arg(import.problemCount()));
    }
    if (request.dryRun) {
        printLine(stdout, QStringLiteral("检查了%1行，没有发现问题；没有写入（--dry-run）。")
                              .arg(import.rowCount()));
        return;
    }
    // The command line is the administrator's.
    import.write(*connection, 1, request.userName);
    connection->close();
    printLine(stdout, QStringLiteral("已导入%1行到 %2。").arg(import.rowCount()).arg(table.name()));
}

} // namespace vok

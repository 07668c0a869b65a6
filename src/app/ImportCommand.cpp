#include "app/ImportCommand.h"

#include "core/Departments.h"
#include "core/TableImport.h"
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

int runImport(const ImportRequest& request)
{
    const TableDescription* table = tables::find(request.table);
    if (!table || !table->imported) {
        printError(QStringLiteral("不能导入表“%1”，可导入：%2")
                       .arg(request.table, tables::importedNames().join(QStringLiteral(", "))));
        return 2;
    }
    if (request.file.isEmpty()) {
        printError(QStringLiteral("缺少要导入的文件。"));
        return 2;
    }
    const std::optional<QString> cs =
        departmentConnectionString(request.department, request.userName, QString());
    if (!cs) {
        printError(unknownDepartmentText(request.department));
        return 2;
    }
    TableImport import(*table);
    if (!import.open(request.file)) {
        printError(import.error());
        return 1;
    }
    if (const QString remembered = TableImport::rememberedColumns(*table); !remembered.isEmpty()) {
        import.matchColumns(remembered, true);
        if (const QString used = import.matchedByHand(); !used.isEmpty())
            printError(QStringLiteral("按上次导入时选的对应列：%1").arg(used));
    }
    if (const QString problem = import.matchColumns(request.columns); !problem.isEmpty()) {
        printError(QStringLiteral("--columns：%1").arg(problem));
        return 2;
    }
    if (const QStringList ignored = import.ignoredHeadings(); !ignored.isEmpty())
        printError(QStringLiteral("这些列不导入：%1").arg(ignored.join(QStringLiteral("、"))));
    try {
        const ConnectionPtr connection = openConnection(*cs);
        if (import.check(*connection) != TableImport::Status::Done) {
            printError(import.error());
            return 1;
        }
        if (import.problemCount() > 0) {
            for (const ImportProblem& p : import.problems())
                printError(p.describe());
            if (const qint64 more = import.problemCount() - qint64(import.problems().size()))
                printError(QStringLiteral("另有%1个问题未列出。").arg(more));
            printError(
                QStringLiteral("文件中有%1个问题，没有导入任何记录。").arg(import.problemCount()));
            return 1;
        }
        if (request.dryRun) {
            printLine(stdout, QStringLiteral("检查了%1行，没有发现问题；没有写入（--dry-run）。")
                                  .arg(import.rowCount()));
            return 0;
        }
        // The command line is the administrator's.
        if (import.write(*connection, 1, request.userName) != TableImport::Status::Done) {
            printError(import.error());
            return 1;
        }
        connection->close();
    } catch (const DbError& e) {
        printError(comErrorText(e));
        return 1;
    }
    printLine(stdout,
              QStringLiteral("已导入%1行到 %2。").arg(import.rowCount()).arg(table->name()));
    return 0;
}

} // namespace vok

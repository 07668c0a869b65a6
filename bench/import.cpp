// import --file FILE [--rows N] [--bad-row R] [--db FILE | --dsn VOKn]: how long the
// import of N stock-in rows takes from opening the file (a workbook for
// .xlsx, else CSV) until every row is checked and written, and the peak
// memory of the process. The file and the database (one catalogue code)
// are made first in a child process when the file is missing; with
// --bad-row the data row R holds a quantity out of range, and nothing may
// be written. Prints one line:
// format=F rows=N seconds=S check_seconds=C cpu_seconds=… check_cpu_seconds=…
// peak_rss_mb=P written=W problems=K first_problem=… (processor seconds: the
// figure other work on a shared machine disturbs less)
#include "BenchSupport.h"
#include "core/ListExport.h"
#include "core/TableImport.h"
#include "db/DbError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace vok;
using namespace vok::bench;

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: import --file FILE [--rows N] [--bad-row R] [--db FILE | --dsn VOKn]\n");
    return 2;
}

// N stock-in rows as a list exports them.
bool writeFile(const QString& path, qint64 rows, qint64 badRow)
{
    ExportSource s;
    s.rows = int(rows);
    s.columns = 7;
    static const QString headings[] = {QStringLiteral("设备号"), QStringLiteral("入库时间"),
                                       QStringLiteral("供应商"), QStringLiteral("供应商电话"),
                                       QStringLiteral("数量"),   QStringLiteral("价格"),
                                       QStringLiteral("采购员")};
    s.heading = [](int c) { return headings[c]; };
    s.numeric = [](int c) { return c == 4 || c == 5; };
    s.text = [badRow](int r, int c) -> QString {
        switch (c) {
        case 0:
            return QStringLiteral("000001");
        case 1:
            return QStringLiteral("2024-%1-%2 %3:%4:00")
                .arg(1 + r % 12)
                .arg(1 + r % 28)
                .arg(r % 24)
                .arg(r % 60);
        case 2:
            return QStringLiteral("供应商%1").arg(r % 500);
        case 3:
            return QStringLiteral("010%1").arg(r % 100000);
        case 4:
            return r + 1 == badRow ? QStringLiteral("20000") : QString::number(1 + r % 100);
        case 5:
            return QStringLiteral("%1.5").arg(1 + r % 900);
        default:
            return QStringLiteral("采购员%1").arg(r % 50);
        }
    };
    try {
        return exportList(s, path, exportFormatFor(path));
    } catch (const DbError& e) {
        std::fprintf(stderr, "import: %s\n", qPrintable(e.text()));
        return false;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString file, dsn, db = QStringLiteral("/tmp/vok-bench-import.db");
    qint64 rows = 1000000, badRow = 0;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--file")
            file = args[i + 1];
        else if (args[i] == u"--rows")
            rows = args[i + 1].toLongLong();
        else if (args[i] == u"--bad-row")
            badRow = args[i + 1].toLongLong();
        else if (args[i] == u"--db")
            db = args[i + 1];
        else if (args[i] == u"--dsn")
            dsn = args[i + 1];
        else
            return usage();
    }
    if (file.isEmpty() || rows <= 0)
        return usage();

    const QString source = dsn.isEmpty() ? sourceOfFile(db) : dsn;
    const bool made = buildInChild("import", [&] {
        if (!QFileInfo::exists(file) && !writeFile(file, rows, badRow))
            throw std::runtime_error("cannot write the file");
        auto c = openSource(source);
        refill(
            *c,
            {QStringLiteral("DEVICE_CODE"), QStringLiteral("DEVICE_IN"), QStringLiteral("HOWDO")},
            [&] {
                c->append(QStringLiteral("DEVICE_CODE"),
                          {QStringLiteral("code"), QStringLiteral("name")},
                          {QStringLiteral("000001"), QStringLiteral("设备")});
            });
    });
    if (!made)
        return 1;

    auto c = openSource(source);
    QElapsedTimer timer;
    timer.start();
    TableImport import(tables::deviceIn);
    double checked = 0, checkedCpu = 0;
    try {
        import.open(file);
        import.check(*c);
        checked = timer.nsecsElapsed() / 1e9;
        checkedCpu = cpuSeconds();
        if (import.problemCount() == 0)
            import.write(*c, 1, QStringLiteral("bench"));
    } catch (const DbError& e) {
        std::fprintf(stderr, "import: %s\n", qPrintable(e.text()));
        return 1;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const QString first =
        import.problems().empty() ? QString() : import.problems().front().describe();
    std::printf("format=%s rows=%lld seconds=%.2f check_seconds=%.2f cpu_seconds=%.2f "
                "check_cpu_seconds=%.2f peak_rss_mb=%.0f written=%lld problems=%lld "
                "first_problem=%s\n",
                exportFormatFor(file) == ExportFormat::Csv ? "csv" : "xlsx",
                static_cast<long long>(import.rowCount() + import.problemCount()), seconds, checked,
                cpuSeconds(), checkedCpu, peakRssMb(),
                static_cast<long long>(rowCount(*c, QStringLiteral("DEVICE_IN"))),
                static_cast<long long>(import.problemCount()), first.toLocal8Bit().constData());
    return 0;
}

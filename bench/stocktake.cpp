// stocktake --devices N [--db FILE | --dsn VOKn]: how long a stocktake of N devices
// takes to list and, every device counted and differing from its stock,
// to confirm in one transaction (N stock changes and N adjustments), and
// the peak memory of the process.
// Prints one line: devices=N list_seconds=L confirm_seconds=C peak_rss_mb=P.
#include "core/Stocktake.h"
#include "BenchSupport.h"
#include "db/Connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace vok;
using namespace vok::bench;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: stocktake --devices N [--db FILE | --dsn VOKn]\n");
    return 2;
}

QString codeOf(qint64 i)
{
    return QStringLiteral("%1").arg(i + 1, 6, 10, QLatin1Char('0'));
}

// N devices in the catalogue and the stock table, no adjustments yet.
void createRows(const QString& dsn, qint64 devices)
{
    auto c = openSource(dsn);
    refill(*c, {"DEVICE_CODE", "DEVICE", "DEVICE_ADJUST"}, [&] {
        const QStringList codeNames{QStringLiteral("code"), QStringLiteral("name")};
        const QStringList stockNames{QStringLiteral("code"), QStringLiteral("now_number"),
                                     QStringLiteral("high_number"), QStringLiteral("low_number"),
                                     QStringLiteral("total_number")};
        for (qint64 i = 0; i < devices; ++i) {
            c->append(QStringLiteral("DEVICE_CODE"), codeNames,
                      {codeOf(i), QStringLiteral("设备%1").arg(i + 1)});
            c->append(QStringLiteral("DEVICE"), stockNames,
                      {codeOf(i), float(i % 40), 100.0f, 1.0f, float(i % 40)});
        }
    });
}

} // namespace

int main(int argc, char** argv)
{
    qint64 devices = -1;
    QString file = QDir::tempPath() + QStringLiteral("/vok_stocktake/vok1.db");
    QString dsn; // a data source of the shared server instead of the file
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--devices" && i + 1 < argc)
            devices = QByteArray(argv[++i]).toLongLong();
        else if (a == "--db" && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--dsn" && i + 1 < argc)
            dsn = QString::fromLocal8Bit(argv[++i]);
        else
            return usage();
    }
    if (devices < 0)
        return usage();
    if (dsn.isEmpty())
        QDir().mkpath(QFileInfo(file).absolutePath());
    const QString source = dsn.isEmpty() ? sourceOfFile(file) : dsn;

    // Every run starts from the same stock.
    if (!buildInChild("stocktake", [&] { createRows(source, devices); }))
        return 1;

    QCoreApplication app(argc, argv);
    auto c = openSource(source);

    QElapsedTimer timer;
    timer.start();
    std::vector<StocktakeLine> lines = Stocktake::list(*c, QString());
    const double listSeconds = timer.nsecsElapsed() / 1e9;
    for (StocktakeLine& line : lines)
        line.counted = line.book + 1;

    const double cpuStart = cpuSeconds();
    timer.restart();
    const Stocktake::Confirmation done = Stocktake::confirm(*c, 1, QStringLiteral("盘点员"), lines);
    const double confirmSeconds = timer.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    if (qint64(lines.size()) != devices || done.adjusted != devices ||
        rowCount(*c, QStringLiteral("DEVICE_ADJUST")) != devices) {
        std::fprintf(stderr, "stocktake: %d of %lld devices adjusted\n", done.adjusted,
                     static_cast<long long>(devices));
        return 1;
    }
    std::printf("devices=%lld list_seconds=%.3f confirm_seconds=%.3f peak_rss_mb=%.1f\n",
                static_cast<long long>(devices), listSeconds, confirmSeconds, peakRssMb());
    std::fprintf(stderr, "confirm_cpu_seconds=%.3f\n", cpu);
    return 0;
}

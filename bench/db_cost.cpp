// db_cost --db FILE [--stockins N] [--before]: what the embedded database
// costs. Prints the time to open FILE (the checks run on opening included)
// and the time per stock-in of N stock-ins made as the stock-in form makes
// them (stock-in row and stock row in one transaction, then the log row).
// --before runs the stock-ins with the journal settings earlier versions
// used (synchronous=NORMAL, SQLite's default checkpoints) for comparison.
// Prints one line: open_seconds=S stockins=N ms_per_stockin=M.
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/Schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace vok;

namespace {

void stockIn(Connection& c, int i)
{
    const QString code = QString::number(i % 20);
    {
        Transaction t(c);
        c.append(QStringLiteral("DEVICE_IN"), schema::DeviceIn.columnNames(),
                 {code, QStringLiteral("2004-1-5 9:3:7"), QStringLiteral("北京华信科技有限公司"),
                  QStringLiteral("010-1234"), 2.0f, 15.5f, QStringLiteral("王小明")});
        auto stock =
            c.openRow({QStringLiteral("DEVICE"), SqlText("code=?"), {code}}, schema::Device);
        if (stock->found()) {
            RowRecord& r = stock->record();
            r.setNumber(DeviceCol::now_number, r.number(DeviceCol::now_number) + 2);
            r.setNumber(DeviceCol::total_number, r.number(DeviceCol::total_number) + 2);
            stock->store();
        } else {
            c.append(QStringLiteral("DEVICE"), schema::Device.columnNames(),
                     {code, 2.0f, 1.0f, 1.0f, 2.0f});
        }
        stock.reset();
        t.commit();
    }
    c.append(QStringLiteral("HOWDO"), schema::Howdo.columnNames(),
             {QStringLiteral("王小明"), QStringLiteral("添加入库信息"),
              QStringLiteral("2004-1-5 9:3:7")});
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString file;
    int count = 0;
    bool before = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--db") && i + 1 < args.size())
            file = args[++i];
        else if (args[i] == QLatin1String("--stockins") && i + 1 < args.size())
            count = args[++i].toInt();
        else if (args[i] == QLatin1String("--before"))
            before = true;
        else
            file.clear(), i = int(args.size());
    }
    if (file.isEmpty()) {
        std::fprintf(stderr, "usage: db_cost --db FILE [--stockins N] [--before]\n");
        return 2;
    }
    const QFileInfo info(file);
    DataFolder::setPath(info.absolutePath());
    const QString dsn = info.completeBaseName().toUpper();
    try {
        QElapsedTimer timer;
        timer.start();
        auto c = openConnection(ConnectionString{dsn, {}, {}}.toString());
        const double openSeconds = double(timer.nsecsElapsed()) / 1e9;
        if (before) {
            c->executeWith(QStringLiteral("PRAGMA journal_mode=WAL"), {});
            c->executeWith(QStringLiteral("PRAGMA synchronous=NORMAL"), {});
            c->executeWith(QStringLiteral("PRAGMA wal_autocheckpoint=1000"), {});
        }
        timer.restart();
        for (int i = 0; i < count; ++i)
            stockIn(*c, i);
        const double ms = count ? double(timer.nsecsElapsed()) / 1e6 / count : 0;
        std::printf("open_seconds=%.3f stockins=%d ms_per_stockin=%.2f\n", openSeconds, count, ms);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "db_cost: %s\n", e.what());
        return 1;
    }
    return 0;
}

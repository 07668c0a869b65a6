// transfers [--lines N] [--engines embedded|server|mixed]: a transfer of N
// lines (default 1,000) between two departments: confirmed by the sender
// (the stock taken off, the transfer written and delivered into the
// receiver's database) and by the receiver (every line received, the stock
// added, the codes it lacks added, the receipt acknowledged in the
// sender's). The departments are embedded files in a temporary folder
// (default), the server's data sources VOK1 and VOK3 that $ODBCINI defines
// (server; scripts/pg-cluster.sh starts one; their tables are emptied), or
// a file sending to the server (mixed). Medians of five runs; prints one
// line of figures.
#include "core/Transfers.h"
#include "core/Clock.h"
#include "core/StockChange.h"
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Dialect.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace vok;
using namespace vok::transfer;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A department's database on the server, emptied.
ConnectionPtr onServer(const QString& dsn)
{
    ConnectionPtr c = openConnection(ConnectionString{dsn, {}, {}}.toString());
    for (auto t = schema::all().rbegin(); t != schema::all().rend(); ++t)
        c->executeWith(QStringLiteral("DELETE FROM ") + quoteIdentifier((*t)->name, c->engine()),
                       {});
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int lines = 1000;
    QString engines = QStringLiteral("embedded");
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--lines") && i + 1 < args.size()) {
            lines = args[++i].toInt();
        } else if (args[i] == QLatin1String("--engines") && i + 1 < args.size()) {
            engines = args[++i];
        } else {
            lines = 0;
            break;
        }
    }
    if (lines < 1 || !QStringList{"embedded", "server", "mixed"}.contains(engines)) {
        std::fprintf(stderr, "usage: transfers [--lines N] [--engines embedded|server|mixed]\n");
        return 2;
    }
    std::vector<double> sendMs, receiveMs;
    try {
        for (int run = 0; run < 5; ++run) {
            QTemporaryDir dir;
            DataFolder::setPath(dir.path());
            const ConnectionPtr a =
                engines == QLatin1String("server")
                    ? onServer(QStringLiteral("VOK1"))
                    : openSqliteConnection(DataFolder::databaseFile(QStringLiteral("VOK1")));
            const ConnectionPtr c =
                engines == QLatin1String("embedded")
                    ? openSqliteConnection(DataFolder::databaseFile(QStringLiteral("VOK3")))
                    : onServer(QStringLiteral("VOK3"));
            SendSlip slip{
                QStringLiteral("部门C"), {}, QStringLiteral("整批调拨"), QStringLiteral("张三")};
            {
                Transaction t(*a);
                for (int i = 0; i < lines; ++i) {
                    const QString code = QStringLiteral("T%1").arg(i, 5, 10, QLatin1Char('0'));
                    a->append(QStringLiteral("DEVICE_CODE"),
                              {QStringLiteral("code"), QStringLiteral("name")},
                              {code, QStringLiteral("设备%1").arg(i)});
                    Stock::receive(*a, code, 100);
                    slip.lines.push_back({code, 3});
                }
                t.commit();
            }
            const Opener open = [&](const QString& department) -> ConnectionPtr {
                return department == QStringLiteral("部门A")   ? a
                       : department == QStringLiteral("部门C") ? c
                                                               : nullptr;
            };
            QElapsedTimer timer;
            timer.start();
            const SendResult sent = send({QStringLiteral("部门A"), a}, 1, slip, open);
            sendMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (!sent.problem.isEmpty() || !sent.delivered) {
                std::fprintf(stderr, "send failed: %s\n", qPrintable(sent.problem));
                return 1;
            }
            timer.restart();
            const ReceiveResult got = receive({QStringLiteral("部门C"), c}, 1, sent.id, {},
                                              QStringLiteral("李四"), true, open);
            receiveMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (!got.problem.isEmpty() || !got.acknowledged) {
                std::fprintf(stderr, "receive failed: %s\n", qPrintable(got.problem));
                return 1;
            }
            DataFolder::setPath(QString());
        }
    } catch (const DbError& e) {
        std::fprintf(stderr, "database failure: %s\n", qPrintable(e.text()));
        return 1;
    }
    std::printf("transfer of %d lines (%s): send+deliver %.0f ms, receive+acknowledge %.0f "
                "ms (medians of 5)\n",
                lines, qPrintable(engines), median(sendMs), median(receiveMs));
    return 0;
}

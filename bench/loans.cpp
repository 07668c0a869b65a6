// loans [--lines N] [--open M] [--db FILE | --dsn VOKn]: with N loan lines
// (default 1,000,000) of which M are open (default 100,000), half of those
// overdue, over 1,000 devices: the overdue count at log-in, the open-loan
// list's first screen, a return from scan to saved (the open lines of a
// code listed, one unit given back), and a 100-line loan confirmed in one
// transaction. Medians of five runs; prints one line of figures.
#include "core/Loans.h"
#include "BenchSupport.h"
#include "core/Clock.h"
#include "core/RecordListModel.h"
#include "core/TableAccess.h"
#include "core/Tables.h"
#include "db/Connection.h"
#include "db/Schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

using namespace vok;
using namespace vok::bench;

namespace {

constexpr int kDevices = 1000;
const QDate kToday(2026, 6, 1);

int usage()
{
    std::fprintf(stderr, "usage: loans [--lines N] [--open M] [--db FILE | --dsn VOKn]\n");
    return 2;
}

QString codeOf(qint64 i)
{
    return QStringLiteral("L%1").arg(i % kDevices, 4, 10, QLatin1Char('0'));
}

void createRows(const QString& source, qint64 lines, qint64 open)
{
    auto c = openSource(source);
    refill(
        *c,
        {"DEVICE_CODE", "DEVICE", "DEVICE_OUT", "DEVICE_RETURN", "DEVICE_ADJUST", "DEVICE_LOAN",
         "DEVICE_LOAN_EVENT"},
        [&] {
            for (int i = 0; i < kDevices; ++i) {
                c->append(QStringLiteral("DEVICE_CODE"), {"code", "name"},
                          {codeOf(i), QStringLiteral("设备%1").arg(i)});
                c->append(QStringLiteral("DEVICE"),
                          {"code", "now_number", "high_number", "low_number", "total_number"},
                          {codeOf(i), 1000000.0f, 2000000.0f, 0.0f, 1000000.0f});
            }
            // The open lines spread evenly through the table.
            const qint64 step = open > 0 ? std::max<qint64>(1, lines / open) : lines + 1;
            qint64 i = 0;
            qint64 opened = 0;
            c->appendRows(
                schema::DeviceLoan.name, schema::DeviceLoan.columnNames(), [&](QVariantList& v) {
                    if (i == lines)
                        return false;
                    const bool isOpen = opened < open && i % step == 0;
                    opened += isOpen;
                    const QDate lent = kToday.addDays(-int(i % 60) - 1);
                    // Of the open ones, every other is overdue.
                    const QDate due = isOpen && opened % 2 == 0 ? kToday.addDays(-int(i % 30) - 1)
                                                                : kToday.addDays(int(i % 30) + 1);
                    v = {QStringLiteral("%1-1").arg(i + 1),
                         double(i + 1),
                         codeOf(i),
                         2.0,
                         QStringLiteral("借用人%1").arg(i % 5000),
                         QStringLiteral("部门%1").arg(i % 20),
                         lent.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 09:00:00"),
                         due.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00"),
                         QStringLiteral("张三"),
                         QString(),
                         isOpen ? 0.0 : 2.0,
                         0.0,
                         0.0,
                         0.0,
                         isOpen ? Loans::stateOpen() : Loans::stateClosed()};
                    ++i;
                    return true;
                });
        });
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qint64 lines = 1000000;
    qint64 open = 100000;
    QString file = QDir::tempPath() + QStringLiteral("/vok_loans/vok1.db");
    QString dsn;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--lines" && i + 1 < argc)
            lines = QByteArray(argv[++i]).toLongLong();
        else if (a == "--open" && i + 1 < argc)
            open = QByteArray(argv[++i]).toLongLong();
        else if (a == "--db" && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--dsn" && i + 1 < argc)
            dsn = QString::fromLocal8Bit(argv[++i]);
        else
            return usage();
    }
    if (dsn.isEmpty())
        QDir().mkpath(QFileInfo(file).absolutePath());
    const QString source = dsn.isEmpty() ? sourceOfFile(file) : dsn;
    if (!buildInChild("loans", [&] { createRows(source, lines, open); }))
        return 1;

    QCoreApplication app(argc, argv);
    Clock::setNow(QDateTime(kToday, QTime(10, 0)));
    auto c = openSource(source);
    QElapsedTimer timer;
    std::vector<double> overdue, firstScreen, giveBack;
    Loans::Overdue counted;
    for (int run = 0; run < 5; ++run) {
        timer.start();
        counted = Loans::overdue(*c, kToday);
        overdue.push_back(timer.nsecsElapsed() / 1e6);

        RecordListModel model(tables::deviceLoan.listColumns());
        timer.restart();
        TableAccess(*c, tables::deviceLoan).fill(model, Loans::openRows());
        for (int row = 0; row < 30 && row < model.rowCount(); ++row)
            model.data(model.index(row, 0));
        firstScreen.push_back(timer.nsecsElapsed() / 1e6);

        timer.restart();
        // A device with open lines: that of an open line.
        const qint64 step = open > 0 ? std::max<qint64>(1, lines / open) : 1;
        const auto openLines = Loans::openLines(*c, codeOf(run * step));
        const QString problem =
            openLines.empty() ? QStringLiteral("none open")
                              : Loans::giveBack(*c, 1, openLines.front().line, 1,
                                                Loans::Condition::Good, QStringLiteral("张三"));
        giveBack.push_back(timer.nsecsElapsed() / 1e6);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "loans: return refused: %s\n", qPrintable(problem));
            return 1;
        }
    }
    Loans::LoanSlip slip{QStringLiteral("借用人"),
                         QStringLiteral("部门"),
                         kToday.addDays(7),
                         QStringLiteral("张三"),
                         {},
                         {}};
    for (int i = 0; i < 100; ++i)
        slip.lines.push_back({codeOf(i), 1});
    timer.restart();
    const Loans::LendResult lent = Loans::lend(*c, 1, slip);
    const double lendMs = timer.nsecsElapsed() / 1e6;
    if (!lent.problem.isEmpty()) {
        std::fprintf(stderr, "loans: lend refused: %s\n", qPrintable(lent.problem));
        return 1;
    }
    std::printf("lines=%lld open=%lld overdue=%lld overdue_ms=%.1f first_screen_ms=%.1f "
                "return_ms=%.1f lend_100_lines_ms=%.1f peak_rss_mb=%.1f\n",
                static_cast<long long>(lines), static_cast<long long>(open),
                static_cast<long long>(counted.count), median(overdue), median(firstScreen),
                median(giveBack), lendMs, peakRssMb());
    return 0;
}

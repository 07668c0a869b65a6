// period --devices N --rows M [--months K] [--db FILE | --dsn VOKn]: the period summary
// and the month-end close over N devices and M movement and adjustment
// rows spread evenly over K months (36 by default) from January 2023.
// Prints: the summary of the last month with no month closed, the close of
// each month up to the one before the last (the last close's time), the
// summary of the last month with the month before it closed, the peak
// memory, and beside them the sqlite3 shell's time for the same grouped
// sums of the last month on the same file (on the server of data source
// VOKn: psql's time for them; the rows loaded with psql's \copy, untimed);
// and the reconciliation with no month closed and with all those closed.
#include "BenchSupport.h"
#include "core/PeriodSummary.h"
#include "core/StockChange.h"
#include "core/StockLedger.h"
#include "db/Connection.h"
#include "db/Schema.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <stdexcept>

using namespace vok;
using namespace vok::bench;

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: period --devices N --rows M [--months K] [--db FILE | --dsn VOKn]\n");
    return 2;
}

QString codeOf(qint64 i)
{
    return QStringLiteral("%1").arg(i + 1, 6, 10, QLatin1Char('0'));
}

const QDate kFirst(2023, 1, 1);

// Half stock-ins with a price, a third stock-outs, a tenth returns, the
// rest adjustments, in time order over the months.
void createRows(const QString& source, const std::optional<ServerSource>& server, qint64 devices,
                qint64 rows, int months)
{
    auto c = openSource(source);
    // Nothing but these rows: transfers left by other runs on the same
    // database would add their devices.
    const QStringList transfers{"TRANSFER_IN_LINE", "TRANSFER_IN", "TRANSFER_OUT_LINE",
                                "TRANSFER_OUT"};
    qint64 transferred = 0;
    for (const QString& table : transfers)
        transferred += rowCount(*c, table);
    if (transferred == 0 && rowCount(*c, QStringLiteral("DEVICE_CODE")) == devices &&
        rowCount(*c, QStringLiteral("DEVICE_IN")) + rowCount(*c, QStringLiteral("DEVICE_OUT")) +
                rowCount(*c, QStringLiteral("DEVICE_RETURN")) +
                rowCount(*c, QStringLiteral("DEVICE_ADJUST")) ==
            rows)
        return;
    // The closed months first: their rows may go then.
    const QStringList tables = QStringList{"PERIOD_CLOSE", "DEVICE_PERIOD"} + transfers +
                               QStringList{"DEVICE_CODE", "DEVICE",        "DEVICE_IN",
                                           "DEVICE_OUT",  "DEVICE_RETURN", "DEVICE_ADJUST"};
    // A table's rows: through the connection, or on the server as CSV to
    // psql's \copy.
    const auto put = [&](const TableDef& t, const std::function<bool(QVariantList&)>& next) {
        if (!server) {
            c->appendRows(t.name, t.columnNames(), next);
            return;
        }
        const bool copied = server->copy(t.name, t.columnNames(), [&](std::FILE* out) {
            QVariantList v;
            QByteArray line;
            while (next(v)) {
                line.clear();
                for (qsizetype i = 0; i < v.size(); ++i)
                    line += (i > 0 ? "," : "") + csvField(v.at(i));
                line += '\n';
                std::fwrite(line.constData(), 1, size_t(line.size()), out);
            }
        });
        if (!copied)
            throw std::runtime_error("psql could not load the rows");
    };
    const auto add = [&] {
        qint64 i = 0;
        put(schema::DeviceCode, [&](QVariantList& v) {
            if (i == devices)
                return false;
            v = {codeOf(i), QStringLiteral("设备%1").arg(i + 1)};
            ++i;
            return true;
        });
        const qint64 seconds = qint64(kFirst.daysTo(kFirst.addMonths(months))) * 86400;
        const QDateTime start(kFirst, QTime(0, 0));
        const auto when = [&](qint64 r) {
            return start.addSecs(seconds * r / std::max<qint64>(rows, 1))
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        };
        const auto fill =
            [&](const TableDef& t, int kind,
                const std::function<QVariantList(qint64, const QString&, const QString&)>& make) {
                qint64 r = 0;
                put(t, [&](QVariantList& v) {
                    while (r < rows && r % 30 >= 0 &&
                           !(kind == 0   ? r % 30 < 15
                             : kind == 1 ? r % 30 >= 15 && r % 30 < 25
                             : kind == 2 ? r % 30 >= 25 && r % 30 < 28
                                         : r % 30 >= 28))
                        ++r;
                    if (r >= rows)
                        return false;
                    v = make(r, codeOf(r % std::max<qint64>(devices, 1)), when(r));
                    ++r;
                    return true;
                });
            };
        fill(schema::DeviceIn, 0, [](qint64 r, const QString& code, const QString& at) {
            return QVariantList{code,
                                at,
                                QStringLiteral("上海仪器设备厂"),
                                QString(),
                                float(1 + r % 10),
                                float(10 + r % 90) + 0.25f,
                                QStringLiteral("李强")};
        });
        fill(schema::DeviceOut, 1, [](qint64 r, const QString& code, const QString& at) {
            return QVariantList{code,
                                QStringLiteral("部门A"),
                                at,
                                QStringLiteral("1"),
                                QStringLiteral("王"),
                                float(1 + r % 3),
                                QStringLiteral("王小明"),
                                QString()};
        });
        fill(schema::DeviceReturn, 2, [](qint64, const QString& code, const QString& at) {
            return QVariantList{code, at, QStringLiteral("张伟"), 1.0f, QStringLiteral("张伟")};
        });
        fill(schema::DeviceAdjust, 3, [](qint64 r, const QString& code, const QString& at) {
            return QVariantList{code,
                                at,
                                float(r % 7),
                                float(r % 5),
                                Stock::stocktakeReason(),
                                QStringLiteral("张伟"),
                                QVariant()};
        });
    };
    if (!server) {
        refill(*c, tables, add);
        return;
    }
    {
        Transaction t(*c);
        for (const QString& table : tables)
            c->remove({table});
        t.commit();
    }
    add();
    for (const QString& table : tables)
        c->executeWith(QStringLiteral("ANALYZE ") + table, {});
}

} // namespace

int main(int argc, char** argv)
{
    qint64 devices = -1, rows = -1;
    int months = 36;
    QString file = QDir::tempPath() + QStringLiteral("/vok_period/vok1.db");
    QString dsn;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--devices" && i + 1 < argc)
            devices = QByteArray(argv[++i]).toLongLong();
        else if (a == "--rows" && i + 1 < argc)
            rows = QByteArray(argv[++i]).toLongLong();
        else if (a == "--months" && i + 1 < argc)
            months = QByteArray(argv[++i]).toInt();
        else if (a == "--db" && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--dsn" && i + 1 < argc)
            dsn = QString::fromLocal8Bit(argv[++i]);
        else
            return usage();
    }
    if (devices < 0 || rows < 0 || months < 2)
        return usage();
    std::optional<ServerSource> server;
    QString source = dsn;
    if (!dsn.isEmpty()) {
        server = serverSource(dsn);
        if (!server) {
            std::fprintf(stderr, "period: no data source %s in odbc.ini\n", qPrintable(dsn));
            return 2;
        }
    } else {
        QDir().mkpath(QFileInfo(file).absolutePath());
        source = sourceOfFile(file);
    }
    if (!buildInChild("period", [&] { createRows(source, server, devices, rows, months); }))
        return 1;

    QCoreApplication app(argc, argv);
    auto c = openSource(source);
    const QDate last = kFirst.addMonths(months - 1);
    const QDate lastEnd = last.addMonths(1).addDays(-1);
    // Nothing closed: the whole ledger is walked.
    while (PeriodClose::lastClosed(*c))
        PeriodClose::reopen(*c, 1, QStringLiteral("bench"));
    QElapsedTimer timer;
    timer.start();
    const size_t listed = PeriodSummary::read(*c, last, lastEnd).rows.size();
    const double open = timer.elapsed() / 1000.0;
    timer.start();
    const size_t reconciled = StockLedger::reconcile(*c).size();
    const double reconcileOpen = timer.elapsed() / 1000.0;
    // Every month closed up to the one before the last; the last close timed.
    double closeSeconds = 0;
    for (QDate m = kFirst; m < last; m = m.addMonths(1)) {
        timer.start();
        PeriodClose::close(*c, 1, QStringLiteral("bench"), last);
        closeSeconds = timer.elapsed() / 1000.0;
    }
    timer.start();
    const size_t listedClosed = PeriodSummary::read(*c, last, lastEnd).rows.size();
    const double closed = timer.elapsed() / 1000.0;
    timer.start();
    const size_t reconciledClosed = StockLedger::reconcile(*c).size();
    const double reconcileClosed = timer.elapsed() / 1000.0;
    double shell = -1;
    {
        const QString from = last.toString(QStringLiteral("yyyy-MM-dd")),
                      to = last.addMonths(1).toString(QStringLiteral("yyyy-MM-dd"));
        QString sql;
        for (const auto& [t, d, q] :
             {std::tuple{"DEVICE_IN", "in_date", "in_number"},
              std::tuple{"DEVICE_OUT", "out_date", "out_number"},
              std::tuple{"DEVICE_RETURN", "return_date", "return_number"},
              std::tuple{"DEVICE_ADJUST", "adjust_time", "after_number - before_number"}})
            sql += QStringLiteral("SELECT count(*) FROM (SELECT code, SUM(%1) FROM %2 WHERE %3 >= "
                                  "'%4' AND %3 < '%5' GROUP BY code) g;")
                       .arg(QLatin1String(q), QLatin1String(t), QLatin1String(d), from, to);
        shell = server ? commandSeconds(server->psql() + " -c \"" + sql.toUtf8() + "\" >/dev/null")
                       : commandSeconds("sqlite3 '" + file.toLocal8Bit() + "' \"" + sql.toUtf8() +
                                        "\" >/dev/null");
    }
    std::printf("engine=%s devices=%lld rows=%lld months=%d listed=%zu summary_none_closed_s=%.3f "
                "close_last_month_s=%.3f summary_previous_closed_s=%.3f listed_closed=%zu "
                "%s_grouped_sums_s=%.3f reconcile_none_closed_s=%.3f "
                "reconcile_closed_s=%.3f reconciled=%zu/%zu peak_rss_mb=%.0f\n",
                server ? "server" : "embedded", devices, rows, months, listed, open, closeSeconds,
                closed, listedClosed, server ? "psql" : "sqlite3", shell, reconcileOpen,
                reconcileClosed, reconciled, reconciledClosed, peakRssMb());
    return 0;
}

// reconcile --devices N --rows M [--adjustments A] [--db FILE]: how long
// the stock reconciliation form takes from opening until its list is full,
// over N devices, M movement rows and A stock adjustments, and the peak
// memory of the process. Prints one line: devices=N rows=M adjustments=A
// seconds=S peak_rss_mb=P.
#include "BenchSupport.h"
#include "core/StockChange.h"
#include "db/Connection.h"
#include "db/Schema.h"
#include "stock/ReconcileDlg.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace vok;
using namespace vok::bench;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: reconcile --devices N --rows M [--adjustments A] [--db FILE]\n");
    return 2;
}

QString codeOf(qint64 i)
{
    return QStringLiteral("%1").arg(i + 1, 6, 10, QLatin1Char('0'));
}

// N devices in the catalogue and the stock table, M movements: half
// stock-ins, a third stock-outs, the rest returns; A adjustments spread over
// the devices, each an opening stock, a change or a count; one device in
// fifty has a stock that drifted from its ledger.
void createRows(const QString& dsn, qint64 devices, qint64 rows, qint64 adjustments)
{
    auto c = openSource(dsn);
    if (rowCount(*c, QStringLiteral("DEVICE_CODE")) == devices &&
        rowCount(*c, QStringLiteral("DEVICE_IN")) + rowCount(*c, QStringLiteral("DEVICE_OUT")) +
                rowCount(*c, QStringLiteral("DEVICE_RETURN")) ==
            rows &&
        rowCount(*c, QStringLiteral("DEVICE_ADJUST")) == adjustments)
        return;
    refill(*c,
           {"DEVICE_CODE", "DEVICE", "DEVICE_IN", "DEVICE_OUT", "DEVICE_RETURN", "DEVICE_ADJUST"},
           [&] {
               const QStringList codeNames{QStringLiteral("code"), QStringLiteral("name")};
               const QStringList stockNames{QStringLiteral("code"), QStringLiteral("now_number"),
                                            QStringLiteral("high_number"),
                                            QStringLiteral("low_number"),
                                            QStringLiteral("total_number")};
               for (qint64 i = 0; i < devices; ++i) {
                   c->append(QStringLiteral("DEVICE_CODE"), codeNames,
                             {codeOf(i), QStringLiteral("设备%1").arg(i + 1)});
                   c->append(QStringLiteral("DEVICE"), stockNames,
                             {codeOf(i), float(i % 50 == 0 ? 7 : 0), 100.0f, 1.0f, 0.0f});
               }
               const QStringList inNames{QStringLiteral("code"), QStringLiteral("in_date"),
                                         QStringLiteral("provider"), QStringLiteral("in_number"),
                                         QStringLiteral("buyer")};
               const QStringList outNames{QStringLiteral("code"), QStringLiteral("department"),
                                          QStringLiteral("out_date"), QStringLiteral("out_number"),
                                          QStringLiteral("taker")};
               const QStringList returnNames{QStringLiteral("code"), QStringLiteral("return_date"),
                                             QStringLiteral("return_number"),
                                             QStringLiteral("keeper")};
               const QDateTime start(QDate(2020, 1, 5), QTime(9, 3, 7));
               for (qint64 i = 0; i < rows; ++i) {
                   const QString code = codeOf(i % std::max<qint64>(devices, 1));
                   const QString when =
                       start.addSecs(i * 37).toString(QStringLiteral("yyyy-M-d H:m:s"));
                   const qint64 kind = i % 6;
                   if (kind < 3)
                       c->append(QStringLiteral("DEVICE_IN"), inNames,
                                 {code, when, QStringLiteral("上海仪器设备厂"), float(1 + i % 10),
                                  QStringLiteral("李强")});
                   else if (kind < 5)
                       c->append(QStringLiteral("DEVICE_OUT"), outNames,
                                 {code, QStringLiteral("部门%1").arg(QChar(u'A' + int(i % 5))),
                                  when, float(1 + i % 3), QStringLiteral("王小明")});
                   else
                       c->append(QStringLiteral("DEVICE_RETURN"), returnNames,
                                 {code, when, 1.0f, QStringLiteral("张伟")});
               }
               const QStringList adjustNames = schema::DeviceAdjust.columnNames();
               const QString reasons[] = {Stock::openingReason(), Stock::changeReason(),
                                          Stock::stocktakeReason()};
               for (qint64 i = 0; i < adjustments; ++i) {
                   const QString code = codeOf(i % std::max<qint64>(devices, 1));
                   const QString when =
                       start.addSecs(i * 41).toString(QStringLiteral("yyyy-M-d H:m:s"));
                   c->append(QStringLiteral("DEVICE_ADJUST"), adjustNames,
                             {code, when, float(i % 7), float(i % 5), reasons[i % 3],
                              QStringLiteral("张伟"), QVariant()});
               }
           });
}

} // namespace

int main(int argc, char** argv)
{
    qint64 devices = -1, rows = -1, adjustments = 0;
    QString file = QDir::tempPath() + QStringLiteral("/vok_reconcile/vok1.db");
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--devices" && i + 1 < argc)
            devices = QByteArray(argv[++i]).toLongLong();
        else if (a == "--rows" && i + 1 < argc)
            rows = QByteArray(argv[++i]).toLongLong();
        else if (a == "--adjustments" && i + 1 < argc)
            adjustments = QByteArray(argv[++i]).toLongLong();
        else if (a == "--db" && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else
            return usage();
    }
    if (devices < 0 || rows < 0 || adjustments < 0)
        return usage();
    QDir().mkpath(QFileInfo(file).absolutePath());

    if (!buildInChild("reconcile",
                      [&] { createRows(sourceOfFile(file), devices, rows, adjustments); }))
        return 1;

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const FormContext context = benchContext(sourceOfFile(file));

    QElapsedTimer timer;
    const double cpuStart = cpuSeconds();
    timer.start();
    CReconcileDlg dialog(context);
    dialog.show();
    QCoreApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    const qint64 listed = dialog.list()->records()->rowCount();
    if (listed != devices || !Messages::shown().isEmpty()) {
        std::fprintf(stderr, "reconcile: the list holds %lld of %lld devices\n",
                     static_cast<long long>(listed), static_cast<long long>(devices));
        return 1;
    }
    std::printf("devices=%lld rows=%lld adjustments=%lld seconds=%.3f peak_rss_mb=%.1f\n",
                static_cast<long long>(devices), static_cast<long long>(rows),
                static_cast<long long>(adjustments), seconds, peakRssMb());
    // The processor time apart: on a shared machine the elapsed time also
    // holds the waits for a processor.
    std::fprintf(stderr, "cpu_seconds=%.3f\n", cpu);
    return 0;
}

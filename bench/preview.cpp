// preview --rows N: how long the print preview of an N-row list (the stock-in
// report, generated rows) takes until its window is up, the peak memory of
// the process, and the memory still resident after the window is closed.
// Prints one line: rows=N pages=P preview_seconds=S peak_rss_mb=M
// rss_before_mb=B rss_after_mb=A.
#include "BenchSupport.h"
#include "core/TableReport.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTimer>

#include <cstdio>

using namespace vok;

namespace {

// Row r of a stock-in list, as a browser lists it.
QString cellOf(int r, int c)
{
    static const char16_t* const suppliers[] = {u"北京华信科技有限公司", u"上海仪器设备厂",
                                                u"广州电子"};
    switch (c) {
    case 0:
        return QString::number(1 + r % 5000);
    case 1:
        return QDateTime(QDate(2004, 1, 5), QTime(9, 3, 7))
            .addSecs(qint64(r) * 37)
            .toString(QStringLiteral("yyyy-M-d H:m:s"));
    case 2:
        return QString::fromUtf16(suppliers[r % 3]);
    case 3:
        return QStringLiteral("010-6%1").arg(r % 10000000, 7, 10, QLatin1Char('0'));
    case 4:
        return QString::number(1 + r % 50);
    case 5:
        return QString::number((r % 100000) / 10.0 + 1);
    default:
        return r % 2 ? QStringLiteral("王小明") : QStringLiteral("李强");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--rows")));
    if (at < 0 || at + 1 >= args.size()) {
        std::fprintf(stderr, "usage: preview --rows N\n");
        return 2;
    }
    const int rows = args[at + 1].toInt();
    // A long list asks before its preview: the answer is to preview anyway.
    Messages::setTestMode(true);
    Messages::queueAnswer(Messages::Answer::No);
    const double before = bench::residentMb();
    QElapsedTimer timer;
    double seconds = 0;
    int pages = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        poll.stop();
        seconds = timer.nsecsElapsed() / 1e9;
        pages = preview->findChild<QPrintPreviewWidget*>()->pageCount();
        preview->reject();
    });
    poll.start(20);
    timer.start();
    previewTableReport(rows, cellOf, reports::stockIn, QStringLiteral("管理员"));
    std::printf("rows=%d pages=%d preview_seconds=%.1f peak_rss_mb=%.0f rss_before_mb=%.0f "
                "rss_after_mb=%.0f\n",
                rows, pages, seconds, bench::peakRssMb(), before, bench::residentMb());
    return 0;
}

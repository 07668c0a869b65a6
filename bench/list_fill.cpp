// list_fill --rows N [--db FILE] [--export FILE.xlsx|FILE.csv]: how long
// the stock-in browser takes to list a DEVICE_IN of N rows, and the peak
// memory of the process; with --export, then how long exporting that list
// takes and the peak memory after it.
// Prints one line: rows=N fill_seconds=S peak_rss_mb=M
// [export_seconds=E export_peak_rss_mb=X ratio=E/S file_mb=F].
#include "browse/ListExport.h"
#include "browse/RecordListView.h"
#include "browse/ViewInDlg.h"
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "login/MessageService.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vok;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: list_fill --rows N [--db FILE] [--export FILE]\n");
    return 2;
}

// The data source whose embedded file is FILE: its folder becomes the
// data folder, "vok1.db" gives "VOK1".
QString dataSourceOf(const QString& file)
{
    const QFileInfo info(file);
    DataFolder::setPath(info.absolutePath());
    return info.completeBaseName().toUpper();
}

qint64 deviceInRows(Connection& c)
{
    auto rs = c.query(QStringLiteral("SELECT COUNT(*) FROM DEVICE_IN"));
    return rs->next() ? qint64(rs->number(0)) : 0;
}

// Fills DEVICE_IN with n rows of realistic values, in one transaction.
void createRows(const QString& dsn, qint64 n)
{
    auto c = openConnection(ConnectionString{dsn, {}, {}}.toString());
    if (deviceInRows(*c) == n)
        return;
    static const char16_t* const providers[] = {u"北京华信科技有限公司", u"上海仪器设备厂",
                                                u"O'Brien Supplies", u"广州电子", u"天津机电公司"};
    static const char16_t* const buyers[] = {u"王小明", u"李强", u"张伟", u"Smith"};
    const QStringList names{QStringLiteral("code"),      QStringLiteral("in_date"),
                            QStringLiteral("provider"),  QStringLiteral("teleno"),
                            QStringLiteral("in_number"), QStringLiteral("price"),
                            QStringLiteral("buyer")};
    Transaction t(*c);
    c->execute(QStringLiteral("DELETE * FROM DEVICE_IN"));
    const QDateTime start(QDate(2004, 1, 5), QTime(9, 3, 7));
    for (qint64 i = 0; i < n; ++i) {
        const QDateTime when = start.addSecs(i * 37);
        c->append(QStringLiteral("DEVICE_IN"), names,
                  {QString::number(1 + i % 5000), when.toString(QStringLiteral("yyyy-M-d H:m:s")),
                   QString::fromUtf16(providers[i % 5]),
                   QStringLiteral("0%1").arg(10000000 + i % 89999999), float(1 + i % 100),
                   float((i % 100000) / 10.0 + 1), QString::fromUtf16(buyers[i % 4])});
    }
    t.commit();
}

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    qint64 rows = -1;
    QString exportFile;
    QString file = QDir::tempPath() + QStringLiteral("/vok_list_fill/vok1.db");
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--rows" && i + 1 < argc)
            rows = QByteArray(argv[++i]).toLongLong();
        else if (a == "--db" && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--export" && i + 1 < argc)
            exportFile = QString::fromLocal8Bit(argv[++i]);
        else
            return usage();
    }
    if (rows < 0)
        return usage();
    QDir().mkpath(QFileInfo(file).absolutePath());

    // The database is made in a child process, so that neither its time
    // nor its memory counts.
    const pid_t child = fork();
    if (child == 0) {
        try {
            createRows(dataSourceOf(file), rows);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "list_fill: %s\n", e.what());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Messages::setTestMode(true);
    FormContext context;
    context.classNumber = 1;
    context.userName = QStringLiteral("bench");
    context.connection = openConnection(ConnectionString{dataSourceOf(file), {}, {}}.toString());

    QElapsedTimer timer;
    timer.start();
    CViewInDlg dialog(context);
    dialog.show();
    QCoreApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 listed = dialog.list()->records()->rowCount();
    if (listed != rows || !Messages::shown().isEmpty()) {
        std::fprintf(stderr, "list_fill: the list holds %lld of %lld rows\n",
                     static_cast<long long>(listed), static_cast<long long>(rows));
        return 1;
    }
    std::printf("rows=%lld fill_seconds=%.3f peak_rss_mb=%.1f", static_cast<long long>(rows),
                seconds, peakRssMb());
    if (!exportFile.isEmpty()) {
        timer.restart();
        const ExportResult result =
            exportList(exportSourceOf(*dialog.list()->records()), exportFile,
                       exportFormatFor(exportFile), [](int) { return true; });
        const double exportSeconds = timer.nsecsElapsed() / 1e9;
        if (result.status != ExportResult::Done) {
            std::fprintf(stderr, "\nlist_fill: %s\n", qPrintable(result.error));
            return 1;
        }
        std::printf(" export_seconds=%.3f export_peak_rss_mb=%.1f ratio=%.2f file_mb=%.1f",
                    exportSeconds, peakRssMb(), exportSeconds / seconds,
                    QFileInfo(exportFile).size() / 1e6);
    }
    std::printf("\n");
    return 0;
}

// list_fill --rows N [--db FILE] [--table T]: how long a browser takes to
// list its table of N rows (T: DEVICE_IN, the default, DEVICE_OUT,
// DEVICE_RETURN, DEVICE_NEED, DEVICE_WANTBUY or HOWDO), the peak memory of
// the process, and how long the sqlite3 shell takes to print the same
// table from the same file (when the shell is installed).
// With --export FILE.xlsx|FILE.csv, then how long exporting that list takes
// and the peak memory after it.
// Prints one line: table=T rows=N fill_seconds=S peak_rss_mb=M shell_seconds=S
// fill_cpu_seconds=C shell_cpu_seconds=C [export_seconds=E export_peak_rss_mb=X ratio=E/S
// file_mb=F export_cpu_seconds=X cpu_ratio=X/C].
#include "browse/ListExport.h"
#include "browse/RecordListView.h"
#include "browse/ViewInDlg.h"
#include "browse/ViewLogDlg.h"
#include "browse/ViewNeedDlg.h"
#include "browse/ViewOutDlg.h"
#include "browse/ViewReturnDlg.h"
#include "browse/ViewWantBuyDlg.h"
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/Schema.h"
#include "login/MessageService.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vok;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: list_fill --rows N [--db FILE] [--table TABLE] [--export FILE]\n");
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

qint64 tableRows(Connection& c, const TableDef& table)
{
    auto rs = c.query(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table.name));
    return rs->next() ? qint64(rs->number(0)) : 0;
}

// A realistic value of row i for a column.
QVariant valueOf(const ColumnDef& column, qint64 i)
{
    static const char16_t* const texts[] = {u"北京华信科技有限公司",
                                            u"上海仪器设备厂",
                                            u"O'Brien Supplies",
                                            u"广州电子",
                                            u"王小明",
                                            u"李强",
                                            u"Smith"};
    const QDateTime start(QDate(2004, 1, 5), QTime(9, 3, 7));
    switch (column.kind) {
    case ColumnKind::DateTime:
        return start.addSecs(i * 37).toString(QStringLiteral("yyyy-M-d H:m:s"));
    case ColumnKind::Date:
        return start.addDays(i % 3000).toString(QStringLiteral("yyyy-M-d"));
    case ColumnKind::Number:
        return float((i % 100000) / 10.0 + 1);
    case ColumnKind::Text:
        if (column.name == QLatin1String("code"))
            return QString::number(1 + i % 5000);
        return QString::fromUtf16(texts[(i + column.name.size()) % 7]);
    }
    return {};
}

// Fills the table with n rows, in one transaction.
void createRows(const QString& dsn, const TableDef& table, qint64 n)
{
    auto c = openConnection(ConnectionString{dsn, {}, {}}.toString());
    if (tableRows(*c, table) == n)
        return;
    Transaction t(*c);
    c->execute(QStringLiteral("DELETE * FROM %1").arg(table.name));
    const QStringList names = table.columnNames();
    QVariantList values;
    for (qint64 i = 0; i < n; ++i) {
        values.clear();
        for (const ColumnDef& column : table.columns)
            values << valueOf(column, i);
        c->append(table.name, names, values);
    }
    t.commit();
}

std::unique_ptr<RecordBrowser> browserOf(const TableDef& table, const FormContext& context)
{
    if (&table == &schema::DeviceOut)
        return std::make_unique<CViewOutDlg>(context);
    if (&table == &schema::DeviceReturn)
        return std::make_unique<CViewReturnDlg>(context);
    if (&table == &schema::DeviceNeed)
        return std::make_unique<CViewNeedDlg>(context);
    if (&table == &schema::DeviceWantBuy)
        return std::make_unique<CViewWantBuyDlg>(context);
    if (&table == &schema::Howdo)
        return std::make_unique<CViewLogDlg>(context);
    return std::make_unique<CViewInDlg>(context);
}

// Processor seconds (user and system) of this process, or of its
// finished children: a figure the other work on a shared machine disturbs
// less than wall time.
double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The sqlite3 shell printing the table; -1 without the shell.
double shellSeconds(const QString& file, const TableDef& table)
{
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0)
        return -1;
    const QByteArray command = QStringLiteral("sqlite3 '%1' 'SELECT * FROM %2' >/dev/null")
                                   .arg(file, table.name)
                                   .toLocal8Bit();
    QElapsedTimer timer;
    timer.start();
    if (std::system(command.constData()) != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
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
    const TableDef* table = &schema::DeviceIn;
    QString exportFile;
    QString file = QDir::tempPath() + QStringLiteral("/vok_list_fill/vok1.db");
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--rows" && i + 1 < argc)
            rows = QByteArray(argv[++i]).toLongLong();
        else if (a == "--table" && i + 1 < argc) {
            table = schema::find(QString::fromLatin1(argv[++i]));
            const TableDef* browsed[] = {&schema::DeviceIn,      &schema::DeviceOut,
                                         &schema::DeviceReturn,  &schema::DeviceNeed,
                                         &schema::DeviceWantBuy, &schema::Howdo};
            if (std::find(std::begin(browsed), std::end(browsed), table) == std::end(browsed))
                return usage();
        } else if (a == "--export" && i + 1 < argc)
            exportFile = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--db" && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
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
            createRows(dataSourceOf(file), *table, rows);
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
    {
        // In the program the main window has loaded the fonts and the style
        // before any list opens; a small window here does the same, so the
        // figure is the list's own.
        QDialog warm;
        auto* layout = new QVBoxLayout(&warm);
        layout->addWidget(new QLabel(QStringLiteral("设备号")));
        layout->addWidget(new QLineEdit(QStringLiteral("入库日期")));
        layout->addWidget(new QComboBox);
        layout->addWidget(new QPushButton(QStringLiteral("查询")));
        layout->addWidget(new QTableView);
        warm.show();
        QCoreApplication::processEvents();
    }

    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    timer.start();
    const auto dialog = browserOf(*table, context);
    dialog->show();
    QCoreApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double fillCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    const qint64 listed = dialog->list()->records()->rowCount();
    if (listed != rows || !Messages::shown().isEmpty()) {
        std::fprintf(stderr, "list_fill: the list holds %lld of %lld rows\n",
                     static_cast<long long>(listed), static_cast<long long>(rows));
        return 1;
    }
    const double rss = peakRssMb();
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double shell = shellSeconds(QFileInfo(file).absoluteFilePath(), *table);
    std::printf("table=%s rows=%lld fill_seconds=%.3f peak_rss_mb=%.1f shell_seconds=%.3f "
                "fill_cpu_seconds=%.3f shell_cpu_seconds=%.3f",
                qPrintable(table->name), static_cast<long long>(rows), seconds, rss, shell, fillCpu,
                cpuSeconds(RUSAGE_CHILDREN) - childrenBefore);
    if (!exportFile.isEmpty()) {
        timer.restart();
        const double exportCpuBefore = cpuSeconds(RUSAGE_SELF);
        const ExportResult result =
            exportList(exportSourceOf(*dialog->list()->records()), exportFile,
                       exportFormatFor(exportFile), [](int) { return true; });
        const double exportSeconds = timer.nsecsElapsed() / 1e9;
        const double exportCpu = cpuSeconds(RUSAGE_SELF) - exportCpuBefore;
        if (result.status != ExportResult::Done) {
            std::fprintf(stderr, "\nlist_fill: %s\n", qPrintable(result.error));
            return 1;
        }
        std::printf(" export_seconds=%.3f export_peak_rss_mb=%.1f ratio=%.2f file_mb=%.1f"
                    " export_cpu_seconds=%.3f cpu_ratio=%.2f",
                    exportSeconds, peakRssMb(), exportSeconds / seconds,
                    QFileInfo(exportFile).size() / 1e6, exportCpu, exportCpu / fillCpu);
    }
    std::printf("\n");
    return 0;
}

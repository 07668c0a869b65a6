// list_fill --rows N [--db FILE | --dsn VOKn] [--table T]: how long a
// browser takes to list its table of N rows (T: DEVICE_IN, the default,
// DEVICE_OUT, DEVICE_RETURN, DEVICE_NEED, DEVICE_WANTBUY or HOWDO), the peak
// memory of the process, and how long the engine's own client takes to
// print the same table: the sqlite3 shell on the same file (when it is
// installed), or psql on the shared server of data source VOKn. On the
// server the rows are loaded with psql's \copy, untimed.
// With --grab FILE.png, a picture of the browser after the jump to the
// middle. With --export FILE.xlsx|FILE.csv, then how long exporting that list takes
// and the peak memory after it.
// The list reads its rows in windows: first_screen_seconds is the time to
// its first screen, fill_seconds until every row is counted (the scroll bar
// covers the table), middle_seconds and to_end_seconds the time of a jump
// to the middle (the scroll bar dragged) and to the last row (Ctrl+End)
// once counted.
// Prints one line: table=T rows=N fill_seconds=S peak_rss_mb=M shell_seconds=S
// fill_cpu_seconds=C shell_cpu_seconds=C first_screen_seconds=F middle_seconds=D
// to_end_seconds=E [export_seconds=E export_peak_rss_mb=X ratio=E/S file_mb=F
// export_cpu_seconds=X cpu_ratio=X/C].
#include "BenchSupport.h"
#include "core/ListExport.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "records/ViewInDlg.h"
#include "records/ViewLogDlg.h"
#include "records/ViewNeedDlg.h"
#include "records/ViewOutDlg.h"
#include "records/ViewReturnDlg.h"
#include "records/ViewWantBuyDlg.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace vok;
using namespace vok::bench;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: list_fill --rows N [--db FILE | --dsn VOKn] [--table TABLE] "
                         "[--export FILE] [--grab FILE.png]\n");
    return 2;
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

// Fills the table with n rows: on the embedded engine through the
// connection in one transaction, on the server with psql's \copy.
void createRows(const QString& dsn, const std::optional<ServerSource>& server,
                const TableDef& table, qint64 n)
{
    auto c = openSource(dsn);
    if (rowCount(*c, table.name) == n)
        return;
    if (server) {
        c->remove({table.name});
        const bool copied = server->copy(table.name, table.columnNames(), [&](std::FILE* out) {
            QByteArray line;
            for (qint64 i = 0; i < n; ++i) {
                line.clear();
                for (const ColumnDef& column : table.columns) {
                    if (!line.isEmpty())
                        line += ',';
                    line += csvField(valueOf(column, i));
                }
                line += '\n';
                std::fwrite(line.constData(), 1, size_t(line.size()), out);
            }
        });
        if (!copied)
            throw std::runtime_error("psql could not load the rows");
        c->executeWith(QStringLiteral("ANALYZE ") + table.name, {});
        return;
    }
    const QStringList names = table.columnNames();
    refill(*c, {table.name}, [&] {
        QVariantList values;
        for (qint64 i = 0; i < n; ++i) {
            values.clear();
            for (const ColumnDef& column : table.columns)
                values << valueOf(column, i);
            c->append(table.name, names, values);
        }
    });
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

// The engine's own client printing the table; -1 without it.
double shellSeconds(const QString& file, const std::optional<ServerSource>& server,
                    const TableDef& table)
{
    if (server)
        return commandSeconds(server->psql() + QStringLiteral(" -c 'SELECT * FROM %1' >/dev/null")
                                                   .arg(table.name.toLower())
                                                   .toLocal8Bit());
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0)
        return -1;
    return commandSeconds(QStringLiteral("sqlite3 '%1' 'SELECT * FROM %2' >/dev/null")
                              .arg(file, table.name)
                              .toLocal8Bit());
}

// The command line: --rows N [--table T] [--export FILE] [--db FILE | --dsn DSN].
struct Options
{
    qint64 rows = -1;
    const TableDef* table = &schema::DeviceIn;
    QString exportFile;
    QString grabFile;
    QString file = QDir::tempPath() + QStringLiteral("/vok_list_fill/vok1.db");
    QString dsn;
};

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--rows" && i + 1 < argc)
            o.rows = QByteArray(argv[++i]).toLongLong();
        else if (a == "--table" && i + 1 < argc) {
            o.table = schema::find(QString::fromLatin1(argv[++i]));
            const TableDef* browsed[] = {&schema::DeviceIn,      &schema::DeviceOut,
                                         &schema::DeviceReturn,  &schema::DeviceNeed,
                                         &schema::DeviceWantBuy, &schema::Howdo};
            if (std::find(std::begin(browsed), std::end(browsed), o.table) == std::end(browsed))
                return std::nullopt;
        } else if (a == "--export" && i + 1 < argc)
            o.exportFile = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--grab" && i + 1 < argc)
            o.grabFile = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--db" && i + 1 < argc)
            o.file = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--dsn" && i + 1 < argc)
            o.dsn = QString::fromLocal8Bit(argv[++i]);
        else
            return std::nullopt;
    }
    if (o.rows < 0)
        return std::nullopt;
    return o;
}

// In the program the main window has loaded the fonts and the style before
// any list opens; a small window here does the same, so the figure is the
// list's own.
void warmUp()
{
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

// Exports the listed rows and prints the figures against the fill's.
bool timeExport(const RecordListModel& records, const QString& exportFile, double fillSeconds,
                double fillCpu)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    try {
        exportList(exportSourceOf(records), exportFile, exportFormatFor(exportFile),
                   [](int) { return true; });
    } catch (const DbError& e) {
        std::fprintf(stderr, "\nlist_fill: %s\n", qPrintable(e.text()));
        return false;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    std::printf(" export_seconds=%.3f export_peak_rss_mb=%.1f ratio=%.2f file_mb=%.1f"
                " export_cpu_seconds=%.3f cpu_ratio=%.2f",
                seconds, peakRssMb(), seconds / fillSeconds, QFileInfo(exportFile).size() / 1e6,
                cpu, cpu / fillCpu);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options)
        return usage();
    const TableDef* table = options->table;
    const qint64 rows = options->rows;
    const QString file = options->file;
    QString dsn = options->dsn;
    std::optional<ServerSource> server;
    if (!dsn.isEmpty()) {
        server = serverSource(dsn);
        if (!server || !odbcDataSourceExists(dsn)) {
            std::fprintf(stderr, "list_fill: no data source %s in odbc.ini\n", qPrintable(dsn));
            return 2;
        }
    } else {
        QDir().mkpath(QFileInfo(file).absolutePath());
        dsn = sourceOfFile(file);
    }
    if (!buildInChild("list_fill", [&] { createRows(dsn, server, *table, rows); }))
        return 1;

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const FormContext context = benchContext(dsn);
    warmUp();

    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    timer.start();
    const auto dialog = browserOf(*table, context);
    dialog->show();
    RecordListView* view = dialog->list();
    view->viewport()->repaint();
    const double firstScreen = timer.nsecsElapsed() / 1e9;
    const RecordListModel* records = view->records();
    while (!records->isCounted())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QCoreApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double fillCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    const qint64 listed = records->rowCount();
    // Give the sparse map of the windows a moment (it follows the count),
    // then jump as a user would.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 12000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    timer.restart();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    view->viewport()->repaint();
    const double middle = timer.nsecsElapsed() / 1e9;
    if (!options->grabFile.isEmpty())
        dialog->grab().save(options->grabFile);
    timer.restart();
    view->setFocus();
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QCoreApplication::sendEvent(view, &end);
    view->viewport()->repaint();
    const double toEnd = timer.nsecsElapsed() / 1e9;
    if (view->currentRow() != listed - 1) {
        std::fprintf(stderr, "list_fill: Ctrl+End did not reach the last row\n");
        return 1;
    }
    if (listed != rows || !Messages::shown().isEmpty()) {
        std::fprintf(stderr, "list_fill: the list holds %lld of %lld rows\n",
                     static_cast<long long>(listed), static_cast<long long>(rows));
        return 1;
    }
    const double rss = peakRssMb();
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double shell = shellSeconds(QFileInfo(file).absoluteFilePath(), server, *table);
    std::printf("table=%s rows=%lld fill_seconds=%.3f peak_rss_mb=%.1f shell_seconds=%.3f "
                "fill_cpu_seconds=%.3f shell_cpu_seconds=%.3f first_screen_seconds=%.4f "
                "middle_seconds=%.4f to_end_seconds=%.4f",
                qPrintable(table->name), static_cast<long long>(rows), seconds, rss, shell, fillCpu,
                cpuSeconds(RUSAGE_CHILDREN) - childrenBefore, firstScreen, middle, toEnd);
    if (!options->exportFile.isEmpty() &&
        !timeExport(*dialog->list()->records(), options->exportFile, seconds, fillCpu))
        return 1;
    std::printf("\n");
    return 0;
}

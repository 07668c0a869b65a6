// lookup --data-dir DIR --reference FILE [--vok PROGRAM] [--runs N] [--cold]
// [--code CODE] [--day DATE]: what a storekeeper waits for on a large
// department, each from a fresh process (no page of the file in the
// process's own cache):
//   open  the log-in's connections, the account's check and its log row,
//         as the log-in and the main window do them (vok1.db of DIR, user
//         "bench" with password "secret1");
//   code  the stock-in browser opened and its query 设备号c = CODE, to
//         the first screen;
//   day   the same with 入库时间c = DATE (the rows of that day's start);
//   card  the device card of CODE;
//   cli   (with --vok) the whole program writing the report of that query
//         (vok --report DEVICE_IN --query 设备号c = CODE), start to exit.
// Each is printed beside the sqlite3 shell's time for the same reads on
// FILE, a copy of the department without the program's indexes (for open:
// the quick check each opening made before). With --cold the page cache is
// dropped before every run (root only). The figures are medians of N runs
// (5 by default); the step's own figure is taken inside the process, from
// the first database call, Qt's start-up apart.
// Prints one line a step: step=S warm|cold seconds=M shell_seconds=R, then
// for open accounts_seconds=A (the account's check, its password hash the
// most of it), for the others connect_seconds=C (the connection opened)
// query_seconds=Q (the query or look-up alone, the form shown) rows=K (the
// rows the query lists, the movements the card shows).
#include "BenchSupport.h"
#include "core/Accounts.h"
#include "core/OperationLog.h"
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "records/ViewInDlg.h"
#include "stock/DeviceCardDlg.h"
#include "ui/MessageService.h"
#include "ui/QueryGroup.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace vok;
using namespace vok::bench;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: lookup --data-dir DIR --reference FILE [--vok PROGRAM] "
                         "[--runs N] [--cold] [--code CODE] [--day DATE]\n");
    return 2;
}

struct Options
{
    QString dataDir;
    QString reference;
    QString vok;
    QString code = QStringLiteral("D000123");
    QString day = QStringLiteral("2015-6-1");
    QString step; // the child's step
    int runs = 5;
    bool cold = false;
};

std::optional<Options> parseOptions(const QStringList& args)
{
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == QLatin1String("--data-dir") && more)
            o.dataDir = args[++i];
        else if (a == QLatin1String("--reference") && more)
            o.reference = args[++i];
        else if (a == QLatin1String("--vok") && more)
            o.vok = args[++i];
        else if (a == QLatin1String("--code") && more)
            o.code = args[++i];
        else if (a == QLatin1String("--day") && more)
            o.day = args[++i];
        else if (a == QLatin1String("--step") && more)
            o.step = args[++i];
        else if (a == QLatin1String("--runs") && more)
            o.runs = std::max(1, args[++i].toInt());
        else if (a == QLatin1String("--cold"))
            o.cold = true;
        else
            return std::nullopt;
    }
    if (o.dataDir.isEmpty() || (o.step.isEmpty() && o.reference.isEmpty()))
        return std::nullopt;
    return o;
}

// The log-in as the program makes it: the chosen department's connection
// checks the account and closes, the main window opens its own and writes
// the log-in's row.
void logIn(double& accountsSeconds)
{
    const QString cs =
        ConnectionString{QStringLiteral("VOK1"), QStringLiteral("bench"), QStringLiteral("secret1")}
            .toString();
    ConnectionPtr c = openConnection(cs);
    QElapsedTimer accounts;
    accounts.start();
    const std::optional<QString> classText =
        Accounts::find(*c, QStringLiteral("bench"), QStringLiteral("secret1"));
    accountsSeconds = accounts.nsecsElapsed() / 1e9;
    if (!classText)
        throw std::runtime_error("no account bench with password secret1");
    c->close();
    COperationLog log;
    log.attach(openConnection(cs), QStringLiteral("bench"));
    log.write(QStringLiteral("登录数据库")); // throws DbError when not written
}

// The browser's query as a user runs it; the rows listed once counted.
qint64 browse(const FormContext& context, const QString& field, const QString& value,
              double& seconds, double& querySeconds, const QElapsedTimer& timer)
{
    CViewInDlg dialog(context);
    dialog.show();
    dialog.list()->viewport()->repaint();
    const qint64 opened = timer.nsecsElapsed();
    QueryGroup* query = dialog.queryGroup();
    query->findChild<QComboBox*>(QStringLiteral("queryField"))->setEditText(field);
    query->findChild<QComboBox*>(QStringLiteral("queryOperator"))->setEditText(QStringLiteral("="));
    query->findChild<QLineEdit*>(QStringLiteral("queryValue"))->setText(value);
    query->queryButton()->click();
    RecordListView* view = dialog.list();
    view->viewport()->repaint();
    seconds = timer.nsecsElapsed() / 1e9;
    querySeconds = (timer.nsecsElapsed() - opened) / 1e9;
    const RecordListModel* records = view->records();
    while (!records->isCounted())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return records->rowCount();
}

// One step in this process: prints "seconds=S [accounts_seconds=A] [rows=K]".
int runStep(const Options& o)
{
    DataFolder::setPath(QFileInfo(o.dataDir).absoluteFilePath());
    QElapsedTimer timer;
    try {
        if (o.step == QLatin1String("open")) {
            double accounts = 0;
            timer.start();
            logIn(accounts);
            std::printf("seconds=%.4f accounts_seconds=%.4f\n", timer.nsecsElapsed() / 1e9,
                        accounts);
            return 0;
        }
        Messages::setTestMode(true);
        timer.start();
        FormContext context;
        context.classNumber = 1;
        context.userName = QStringLiteral("bench");
        context.connection = openConnection(
            ConnectionString{QStringLiteral("VOK1"), QStringLiteral("bench"), {}}.toString());
        const double connectSeconds = timer.nsecsElapsed() / 1e9;
        double seconds = 0, part = 0;
        qint64 rows = 0;
        if (o.step == QLatin1String("card")) {
            CDeviceCardDlg card(context);
            card.show();
            card.findChild<QLineEdit*>(QStringLiteral("code"))->setText(o.code);
            const qint64 shown = timer.nsecsElapsed();
            card.onLookUp();
            card.movements()->viewport()->repaint();
            seconds = timer.nsecsElapsed() / 1e9;
            part = (timer.nsecsElapsed() - shown) / 1e9;
            rows = card.card() ? card.card()->movements.size() : -1;
        } else if (o.step == QLatin1String("code"))
            rows = browse(context, QStringLiteral("设备号c"), o.code, seconds, part, timer);
        else if (o.step == QLatin1String("day"))
            rows = browse(context, QStringLiteral("入库时间c"), o.day, seconds, part, timer);
        else
            return usage();
        if (!Messages::shown().isEmpty()) {
            std::fprintf(stderr, "lookup: a message was shown: %s\n",
                         qPrintable(Messages::shown().constFirst().text));
            return 1;
        }
        std::printf("seconds=%.4f connect_seconds=%.4f query_seconds=%.4f rows=%lld\n", seconds,
                    connectSeconds, part, static_cast<long long>(rows));
    } catch (const DbError& e) {
        std::fprintf(stderr, "lookup: %s\n", qPrintable(e.text()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lookup: %s\n", e.what());
        return 1;
    }
    return 0;
}

void dropPageCache()
{
    if (std::system("sync; echo 3 > /proc/sys/vm/drop_caches") != 0)
        std::fprintf(stderr, "lookup: the page cache could not be dropped\n");
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "name=value" of a child's line.
double figure(const QString& line, const QString& name)
{
    for (const QString& part : line.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (part.startsWith(name + QLatin1Char('=')))
            return part.mid(name.size() + 1).toDouble();
    return -1;
}

QByteArray quoted(const QString& text)
{
    QString q = text;
    q.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return (QLatin1Char('\'') + q + QLatin1Char('\'')).toLocal8Bit();
}

// The sqlite3 shell's reads of a step, on the file without the indexes.
QString shellSql(const QString& step, const QString& code, const QString& day)
{
    const QString c = QStringLiteral("'%1'").arg(code);
    if (step == QLatin1String("open"))
        return QStringLiteral("PRAGMA quick_check(1);");
    if (step == QLatin1String("code") || step == QLatin1String("cli"))
        return QStringLiteral("SELECT * FROM DEVICE_IN WHERE code=%1 ORDER BY rowid DESC LIMIT 40;")
            .arg(c);
    if (step == QLatin1String("day")) {
        const QDate d = QDate::fromString(day, QStringLiteral("yyyy-M-d"));
        return QStringLiteral("SELECT * FROM DEVICE_IN WHERE in_date='%1 00:00:00' "
                              "ORDER BY rowid DESC LIMIT 40;")
            .arg(d.toString(QStringLiteral("yyyy-MM-dd")));
    }
    return QStringLiteral(
               "SELECT code, name FROM DEVICE_CODE WHERE code=%1;"
               "SELECT * FROM DEVICE WHERE code=%1;"
               "SELECT in_date, in_number, provider FROM DEVICE_IN WHERE code=%1 "
               "ORDER BY in_date DESC LIMIT 20;"
               "SELECT out_date, out_number, department, taker FROM DEVICE_OUT WHERE code=%1 "
               "ORDER BY out_date DESC LIMIT 20;"
               "SELECT return_date, return_number, return_person FROM DEVICE_RETURN WHERE "
               "code=%1 ORDER BY return_date DESC LIMIT 20;")
        .arg(c);
}

int runAll(const Options& o, const QString& self)
{
    QStringList steps{QStringLiteral("open"), QStringLiteral("code"), QStringLiteral("day"),
                      QStringLiteral("card")};
    if (!o.vok.isEmpty())
        steps << QStringLiteral("cli");
    const QString pdf = QDir::tempPath() + QStringLiteral("/vok_lookup_report.pdf");
    for (const QString& step : steps) {
        std::vector<double> own, accounts, connect, query, shell;
        QString extra;
        double rows = -1;
        for (int run = 0; run < o.runs; ++run) {
            if (o.cold)
                dropPageCache();
            if (step == QLatin1String("cli")) {
                own.push_back(commandSeconds(quoted(o.vok) + " --data-dir " + quoted(o.dataDir) +
                                             " --report DEVICE_IN --pdf " + quoted(pdf) +
                                             " --query " + quoted(QStringLiteral("设备号c")) +
                                             " = " + quoted(o.code) + " 2>/dev/null"));
            } else {
                QProcess child;
                child.start(self, {QStringLiteral("--step"), step, QStringLiteral("--data-dir"),
                                   o.dataDir, QStringLiteral("--code"), o.code,
                                   QStringLiteral("--day"), o.day});
                child.waitForFinished(600000);
                const QString line = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
                if (child.exitCode() != 0 || line.isEmpty()) {
                    std::fprintf(stderr, "lookup: step %s failed: %s\n", qPrintable(step),
                                 child.readAllStandardError().constData());
                    return 1;
                }
                own.push_back(figure(line, QStringLiteral("seconds")));
                accounts.push_back(figure(line, QStringLiteral("accounts_seconds")));
                connect.push_back(figure(line, QStringLiteral("connect_seconds")));
                query.push_back(figure(line, QStringLiteral("query_seconds")));
                rows = figure(line, QStringLiteral("rows"));
            }
            if (o.cold)
                dropPageCache();
            shell.push_back(commandSeconds("sqlite3 " + quoted(o.reference) + " " +
                                           quoted(shellSql(step, o.code, o.day)) + " >/dev/null"));
        }
        if (step == QLatin1String("open"))
            extra = QStringLiteral(" accounts_seconds=%1").arg(median(accounts), 0, 'f', 4);
        else if (step != QLatin1String("cli"))
            extra = QStringLiteral(" connect_seconds=%1 query_seconds=%2 rows=%3")
                        .arg(median(connect), 0, 'f', 4)
                        .arg(median(query), 0, 'f', 4)
                        .arg(rows);
        std::printf("step=%s %s seconds=%.4f shell_seconds=%.4f%s\n", qPrintable(step),
                    o.cold ? "cold" : "warm", median(own), median(shell), qPrintable(extra));
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::optional<Options> options = parseOptions(QCoreApplication::arguments());
    if (!options)
        return usage();
    if (!options->step.isEmpty())
        return runStep(*options);
    return runAll(*options, QCoreApplication::applicationFilePath());
}

// lookup --data-dir DIR --reference FILE [--vok PROGRAM] [--runs N] [--cold]
// [--code CODE] [--day DATE]: what a storekeeper waits for on a large
// department, each in a fresh process started after the page cache was
// dropped (with --cold) and logged in as a user does it (vok1.db of DIR,
// user "bench" with password "secret1", 部门A):
//   open  the log-in: 登录 pressed, to the main window shown;
//   code  after it, the stock-in browser opened and its query
//         设备号c = CODE, to the first screen;
//   day   the same with 入库时间c = DATE (the rows of that day's start);
//   card  the device card of CODE;
//   cli   (with --vok) the whole program writing the report of that query
//         (vok --report DEVICE_IN --query 设备号c = CODE), start to exit;
//         beside it empty_seconds, the same on DIR's department with the
//         code's first letter Z, which no row has (the opening and the
//         program, no rows),
//         small_seconds, the same for 部门B of DIR (a department of a few
//         rows), and start_seconds, the bare start (vok --version).
// Each is printed beside the sqlite3 shell's time for the same reads on
// FILE, a copy of the department without the program's indexes (for open:
// the quick check each opening made before). With --cold the page cache is
// dropped before every run (root only). The figures are medians of N runs
// (5 by default), taken inside the process.
// Prints one line a step: step=S warm|cold seconds=M shell_seconds=R, then
// for open accounts_seconds=A (the account's check alone, its password hash
// the most of it, taken again after the log-in), for the others
// login_seconds=L (the log-in before it) query_seconds=Q (the query or
// look-up alone, the form shown; seconds is the form's opening and it)
// rows=K (the rows the query lists, the movements the card shows).
#include "BenchSupport.h"
#include "admin/LoginDlg.h"
#include "app/AutoBackup.h"
#include "app/VOKDlg.h"
#include "core/Accounts.h"
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
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

// The log-in as a user makes it: the main window's log-in dialog filled in
// and 登录 pressed, to the main window shown (the account's check, the log's
// row, the lines read at log-in, the page check started on its thread). The
// automatic backup is left off: on the first log-in of a day it copies the
// whole file on a thread of its own. seconds: from the press.
std::unique_ptr<CVOKDlg> logIn(double& seconds)
{
    AutoBackup::setEnabled(false);
    auto window = std::make_unique<CVOKDlg>();
    QElapsedTimer timer;
    std::function<void()> answer = [&] {
        auto* dialog = qobject_cast<CLoginDlg*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(1, answer);
            return;
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("user"))->setText(QStringLiteral("bench"));
        dialog->findChild<QLineEdit*>(QStringLiteral("password"))
            ->setText(QStringLiteral("secret1"));
        dialog->findChild<QComboBox*>(QStringLiteral("department"))
            ->setEditText(QStringLiteral("部门A"));
        timer.start();
        dialog->findChild<QPushButton*>(QStringLiteral("login"))->click();
    };
    QTimer::singleShot(0, answer);
    if (!window->startUp() || !window->connection())
        throw std::runtime_error("no log-in as bench with password secret1");
    window->show();
    window->repaint();
    seconds = timer.nsecsElapsed() / 1e9;
    return window;
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

// One step in this process; prints its figures (see the top) and leaves at
// once, without waiting for the page check started at log-in.
int runStep(const Options& o)
{
    DataFolder::setPath(QFileInfo(o.dataDir).absoluteFilePath());
    Messages::setTestMode(true);
    try {
        double loginSeconds = 0, seconds = 0, part = 0;
        const std::unique_ptr<CVOKDlg> window = logIn(loginSeconds);
        QElapsedTimer timer;
        if (o.step == QLatin1String("open")) {
            timer.start();
            Accounts::find(*window->connection(), QStringLiteral("bench"),
                           QStringLiteral("secret1"));
            std::printf("seconds=%.4f accounts_seconds=%.4f\n", loginSeconds,
                        timer.nsecsElapsed() / 1e9);
            std::fflush(stdout);
            std::_Exit(0);
        }
        FormContext context;
        context.classNumber = 1;
        context.userName = QStringLiteral("bench");
        context.connection = window->connection();
        qint64 rows = 0;
        timer.start();
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
        std::printf("seconds=%.4f login_seconds=%.4f query_seconds=%.4f rows=%lld\n", seconds,
                    loginSeconds, part, static_cast<long long>(rows));
        std::fflush(stdout);
        std::_Exit(0);
    } catch (const DbError& e) {
        std::fprintf(stderr, "lookup: %s\n", qPrintable(e.text()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lookup: %s\n", e.what());
        return 1;
    }
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
        std::vector<double> own, accounts, login, query, shell, empty, small, start;
        QString extra;
        double rows = -1;
        for (int run = 0; run < o.runs; ++run) {
            if (o.cold)
                dropPageCache();
            if (step == QLatin1String("cli")) {
                const QByteArray query = quoted(o.vok) + " --data-dir " + quoted(o.dataDir) +
                                         " --report DEVICE_IN --pdf " + quoted(pdf) + " --query " +
                                         quoted(QStringLiteral("设备号c")) + " = ";
                const QByteArray report = query + quoted(o.code) + " 2>/dev/null";
                own.push_back(commandSeconds(report));
                if (o.cold)
                    dropPageCache();
                empty.push_back(commandSeconds(query + quoted(QStringLiteral("Z") + o.code.mid(1)) +
                                               " 2>/dev/null"));
                // The same on a department of a few rows, and the program's
                // bare start: what the action costs apart from the size.
                if (o.cold)
                    dropPageCache();
                small.push_back(
                    commandSeconds(report + " --department " + quoted(QStringLiteral("部门B"))));
                if (o.cold)
                    dropPageCache();
                start.push_back(commandSeconds(quoted(o.vok) + " --version >/dev/null"));
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
                login.push_back(figure(line, QStringLiteral("login_seconds")));
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
        else if (step == QLatin1String("cli"))
            extra = QStringLiteral(" empty_seconds=%1 small_seconds=%2 start_seconds=%3")
                        .arg(median(empty), 0, 'f', 4)
                        .arg(median(small), 0, 'f', 4)
                        .arg(median(start), 0, 'f', 4);
        else
            extra = QStringLiteral(" login_seconds=%1 query_seconds=%2 rows=%3")
                        .arg(median(login), 0, 'f', 4)
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

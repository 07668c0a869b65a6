// One life of the program in the transfer crash test (tst_transfercrash):
//   transfer_crash_child DIR A_ON_FILE C_ON_FILE TRANSFER KILL
// It logs in as the program does (both departments recover their pending
// steps), finishes transfer TRANSFER - 1 that the previous life left half
// done (sent again when no send of it was kept; confirmed again by the
// receiver, which a receipt kept refuses), then, with KILL 1, runs transfer
// TRANSFER and kills itself with SIGKILL at step TRANSFER mod the number
// of steps. Even transfers go from 部门A to 部门C, odd ones back; every
// fourth is received one unit short, every eighth with one unit more. The
// departments' databases are those of the data folder DIR (or of the
// server's data sources), or a file of DIR for a side "on file".
// Exit codes: 0 done, 3 a transfer refused or received twice, 4 the step
// never reached, 5 a recovery failed, 6 a database failure.
#include "core/Transfers.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/SqliteConnection.h"

#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdio>

using namespace vok;
using namespace vok::transfer;

namespace {

const QString kA = QStringLiteral("部门A");
const QString kC = QStringLiteral("部门C");
const QString kUser = QStringLiteral("张三");

struct Sides
{
    Site a, c;
    const Site& from(int n) const { return n % 2 == 0 ? a : c; }
    const Site& to(int n) const { return n % 2 == 0 ? c : a; }
    Opener opener() const
    {
        return [this](const QString& department) -> ConnectionPtr {
            return department == kA ? a.connection : department == kC ? c.connection : nullptr;
        };
    }
};

QString noteOf(int n)
{
    return QStringLiteral("第 %1 笔").arg(n);
}

// Transfer n's slip: one to three devices (部门C has no D05 to send).
SendSlip slipOf(const Sides& s, int n)
{
    SendSlip slip{s.to(n).department, {}, noteOf(n), kUser};
    const int codes = n % 2 == 0 ? 5 : 4;
    for (int j = 0; j <= n % 3; ++j)
        slip.lines.push_back(
            {QStringLiteral("D0%1").arg((n + j) % codes + 1), double(1 + (n + j) % 3)});
    return slip;
}

// What the receiver confirms: in full, one unit short, or one unit more.
std::vector<Receipt> receiptsOf(int n)
{
    const double first = 1 + n % 3;
    if (n % 4 == 1)
        return {{1, first - 1, QStringLiteral("途中损坏")}};
    if (n % 8 == 3)
        return {{1, first + 1, QStringLiteral("多发一件")}};
    return {};
}

[[noreturn]] void refused(int n, const QString& problem)
{
    std::fprintf(stderr, "transfer %d: %s\n", n, qPrintable(problem));
    std::exit(3);
}

void receiveOne(const Sides& s, int n, const QString& id)
{
    const ReceiveResult r =
        receive(s.to(n), 1, id, receiptsOf(n), QStringLiteral("李四"), true, s.opener());
    if (!r.problem.isEmpty())
        refused(n, r.problem);
}

// Runs transfer n from its send; each step may be the one killed.
void run(const Sides& s, int n)
{
    const SendResult sent = send(s.from(n), 1, slipOf(s, n), s.opener());
    if (!sent.problem.isEmpty())
        refused(n, sent.problem);
    receiveOne(s, n, sent.id);
}

// Finishes transfer n as the users would after the restart: sent again
// when no send of it was kept, confirmed again by the receiver.
void finish(const Sides& s, int n)
{
    auto found = s.from(n).connection->queryWith(
        QStringLiteral("SELECT transfer_id FROM TRANSFER_OUT WHERE note = ?"), {noteOf(n)});
    if (!found->next()) {
        found.reset();
        run(s, n);
        return;
    }
    const QString id = found->text(0);
    found.reset();
    // Not knowing whether the receipt was kept, the receiver confirms
    // again: a receipt kept refuses the second.
    const bool kept = incoming(*s.to(n).connection, id).state == stateReceived();
    const ReceiveResult r =
        receive(s.to(n), 1, id, receiptsOf(n), QStringLiteral("李四"), true, s.opener());
    if (r.problem != (kept ? QStringLiteral("这笔调拨已经接收，不能再次接收。") : QString()))
        refused(n, r.problem.isEmpty() ? QStringLiteral("received twice") : r.problem);
}

ConnectionPtr side(bool onFile, const QString& dsn)
{
    return onFile
               ? openSqliteConnection(
                     QDir(DataFolder::path()).filePath(dsn.toLower() + QStringLiteral("-file.db")))
               : openConnection(ConnectionString{dsn, {}, {}}.toString());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: transfer_crash_child DIR A_ON_FILE C_ON_FILE TRANSFER KILL\n");
        return 2;
    }
    DataFolder::setPath(args[1]);
    const int n = args[4].toInt();
    try {
        const Sides s{{kA, side(args[2] == QLatin1String("1"), QStringLiteral("VOK1"))},
                      {kC, side(args[3] == QLatin1String("1"), QStringLiteral("VOK3"))}};
        // The log-in of each department.
        for (const Site* site : {&s.a, &s.c}) {
            const RecoverResult r = recover(*site, s.opener());
            if (!r.failures.isEmpty()) {
                std::fprintf(stderr, "recovery: %s\n",
                             qPrintable(r.failures.join(QLatin1Char('\n'))));
                return 5;
            }
        }
        if (n > 0)
            finish(s, n - 1);
        if (args[5] != QLatin1String("1"))
            return 0;
        const Step killAt = Step(n % (int(Step::AcknowledgedAfterCommit) + 1));
        QString current;
        setStepHook([&](Step step, const QString& id) {
            if (step == Step::SendBeforeCommit)
                current = id;
            if (step == killAt && id == current)
                std::raise(SIGKILL);
        });
        run(s, n);
        std::fprintf(stderr, "transfer %d: step %s never reached\n", n,
                     qPrintable(stepName(killAt)));
        return 4;
    } catch (const DbError& e) {
        std::fprintf(stderr, "transfer %d: %s\n", n, qPrintable(e.text()));
        return 6;
    }
}

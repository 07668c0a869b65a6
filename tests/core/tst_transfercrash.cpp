// Transfers between two departments with the program killed (SIGKILL) at
// every step of the protocol in turn and started again: transfer i is
// killed at step i mod the number of steps by transfer_crash_child, whose
// next life recovers at log-in and finishes it. After every kill, and at
// the end, per device: stock of both + in transit + the differences
// recorded is what it was at the start; at the end every transfer is sent
// and received exactly once, nothing waits, and both ledgers agree.
// $VOK_CRASH_TRANSFERS sets the number of transfers.
#include "core/StockChange.h"
#include "core/StockLedger.h"
#include "core/Transfers.h"
#include "support/TwoDepartments.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace vok;
using namespace vok::transfer;
using test::u;

class TestTransferCrash : public QObject, test::TwoDepartments
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void killedAtEveryStep_data();
    void killedAtEveryStep();

private:
    // Notes a discrepancy; the first few are kept for the failure's text.
    void discrepancy(const QString& what)
    {
        if (++m_discrepancies <= 10)
            m_found << what;
    }
    void checkUnits(const QString& when)
    {
        const QMap<QString, double> now = units();
        if (now != m_start)
            for (auto it = m_start.begin(); it != m_start.end(); ++it)
                if (now.value(it.key()) != it.value())
                    discrepancy(u("%1: %2 has %3 units, not %4")
                                    .arg(when, it.key())
                                    .arg(now.value(it.key()))
                                    .arg(it.value()));
    }
    void checkLedgers(const QString& when)
    {
        for (Connection* db : {m_a.get(), m_c.get()})
            for (const LedgerRow& row : StockLedger::reconcile(*db))
                if (!row.agrees())
                    discrepancy(u("%1: ledger of %2: %3").arg(when, row.code, row.problem()));
    }
    // A sender's record says 已接收 only once the receiver's does, and
    // then with the quantities and reasons the receiver confirmed.
    void checkRecords(const QString& when)
    {
        for (const auto& [sender, receiver] :
             {std::pair(m_a.get(), m_c.get()), std::pair(m_c.get(), m_a.get())}) {
            const auto lines = [](Connection& db, const char* table, const char* state) {
                QMap<QString, QStringList> out;
                for (const QStringList& r : test::rows(
                         db,
                         u("SELECT l.line, l.received_number, l.reason FROM %1_LINE l JOIN %1 t "
                           "ON t.transfer_id = l.transfer_id WHERE t.state = '%2'")
                             .arg(u(table), u(state))))
                    out.insert(r[0], r.mid(1));
                return out;
            };
            const auto sent = lines(*sender, "TRANSFER_OUT", "已接收");
            const auto got = lines(*receiver, "TRANSFER_IN", "已接收");
            for (auto it = sent.begin(); it != sent.end(); ++it)
                if (got.value(it.key()) != it.value())
                    discrepancy(u("%1: line %2 is %3 for its sender, %4 for its receiver")
                                    .arg(when, it.key(), it.value().join(u("/")),
                                         got.value(it.key()).join(u("/"))));
        }
    }
    // Every transfer sent once (by its note) and received once (by the
    // receiver's log of it), both sides 已接收, the receipt acknowledged.
    void checkEachOnce(int transfers)
    {
        QMap<QString, int> notes, receipts;
        int out = 0, in = 0;
        for (Connection* db : {m_a.get(), m_c.get()}) {
            for (const QStringList& r : test::rows(*db, "SELECT note, state FROM TRANSFER_OUT")) {
                ++notes[r[0]];
                ++out;
                if (r[1] != stateReceived())
                    discrepancy(u("%1 is %2 for its sender").arg(r[0], r[1]));
            }
            for (const QStringList& r :
                 test::rows(*db, "SELECT note, state, acknowledged_at FROM TRANSFER_IN")) {
                ++in;
                if (r[1] != stateReceived() || r[2].isEmpty())
                    discrepancy(
                        u("%1 is %2 for its receiver, acknowledged %3").arg(r[0], r[1], r[2]));
            }
            for (const QStringList& r :
                 test::rows(*db, "SELECT do_what FROM HOWDO WHERE do_what LIKE '调拨入库 %'"))
                ++receipts[r[0].section(QLatin1Char(' '), 1, 1)];
            if (!inTransit(*db).empty())
                discrepancy(u("units still in transit"));
        }
        if (out != transfers || in != transfers || notes.size() != transfers)
            discrepancy(u("%1 sent, %2 delivered, %3 distinct, of %4")
                            .arg(out)
                            .arg(in)
                            .arg(notes.size())
                            .arg(transfers));
        for (auto it = receipts.begin(); it != receipts.end(); ++it)
            if (it.value() != 1)
                discrepancy(u("%1 received %2 times").arg(it.key()).arg(it.value()));
        if (receipts.size() != transfers)
            discrepancy(u("%1 receipts of %2 transfers").arg(receipts.size()).arg(transfers));
    }

    QMap<QString, double> m_start;
    int m_discrepancies = 0;
    QStringList m_found;
};

void TestTransferCrash::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_discrepancies = 0;
    m_found.clear();
}

void TestTransferCrash::cleanup()
{
    closeSides();
}

void TestTransferCrash::killedAtEveryStep_data()
{
    QTest::addColumn<bool>("senderOnFile");
    QTest::newRow("same engine") << false;
    QTest::newRow("one of each") << true;
}

void TestTransferCrash::killedAtEveryStep()
{
    QFETCH(bool, senderOnFile);
    if (senderOnFile && !test::onServer())
        QSKIP("both sides are embedded files in this run");
    const int transfers = qEnvironmentVariableIntValue("VOK_CRASH_TRANSFERS") > 0
                              ? qEnvironmentVariableIntValue("VOK_CRASH_TRANSFERS")
                          : test::onServer() ? 250
                                             : 1000;
    openSides(senderOnFile);
    // Both hold D01…D04; 部门C lacks D05 until the first transfer of it.
    for (int d = 1; d <= 5; ++d) {
        const QString code = u("D0%1").arg(d);
        for (Connection* db : {m_a.get(), m_c.get()})
            if (d < 5 || db == m_a.get()) {
                db->append("DEVICE_CODE", {"code", "name"}, {code, u("设备%1").arg(d)});
                QVERIFY(Stock::addStockRow(*db, 1, code, {500, 1000, 0, 500}, u("张三")));
            }
    }
    m_start = units();

    const QStringList sides{m_sandbox->dataDir(), senderOnFile ? u("1") : u("0"), u("0")};
    const auto life = [&](int n, bool kill) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        child.start(QStringLiteral(VOK_CRASH_CHILD),
                    sides + QStringList{QString::number(n), kill ? u("1") : u("0")});
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished();
        }
        return std::pair(child.exitStatus(), child.exitCode());
    };

    QElapsedTimer timer;
    timer.start();
    int kills = 0;
    for (int n = 0; n < transfers; ++n) {
        const QString when = u("transfer %1 killed at %2")
                                 .arg(n)
                                 .arg(stepName(Step(n % (int(Step::AcknowledgedAfterCommit) + 1))));
        const auto [status, code] = life(n, true);
        if (status == QProcess::CrashExit && code == SIGKILL)
            ++kills;
        else
            discrepancy(
                u("%1: the program ended with %2 (%3)").arg(when).arg(code).arg(int(status)));
        checkUnits(when);
        checkLedgers(when);
        checkRecords(when);
    }
    const auto [status, code] = life(transfers, false);
    if (status != QProcess::NormalExit || code != 0)
        discrepancy(u("the last restart ended with %1").arg(code));
    checkUnits(u("at the end"));
    checkLedgers(u("at the end"));
    checkRecords(u("at the end"));
    checkEachOnce(transfers);

    qInfo("%d transfers, %d kills survived, %d discrepancies found (%.1f s)", transfers, kills,
          m_discrepancies, double(timer.elapsed()) / 1000);
    QVERIFY2(m_discrepancies == 0, qPrintable(m_found.join(QLatin1Char('\n'))));
    QCOMPARE(kills, transfers);
}

QTEST_GUILESS_MAIN(TestTransferCrash)
#include "tst_transfercrash.moc"

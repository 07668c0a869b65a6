// Transfers between two departments on each pair of engines: sending,
// delivering and receiving in full or short with a reason; a receiver or
// sender out of reach caught up later; every step of the protocol failing
// in turn and redone, with no unit lost or counted twice and both ledgers
// agreeing; a second delivery and a second receipt changing nothing.
#include "core/Clock.h"
#include "core/StockLedger.h"
#include "core/Transfers.h"
#include "db/DbError.h"
#include "support/TwoDepartments.h"

#include <QTest>

using namespace vok;
using namespace vok::transfer;
using test::u;

class TestTransfers : public QObject, test::TwoDepartments
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sendDeliverReceive_data();
    void sendDeliverReceive();
    void outOfReachCaughtUpLater_data();
    void outOfReachCaughtUpLater();
    void everyStepFailingIsRedone_data();
    void everyStepFailingIsRedone();
    void refusalsWriteNothing_data();
    void refusalsWriteNothing();

private:
    void openSides(bool senderOnFile, bool receiverOnFile)
    {
        TwoDepartments::openSides(senderOnFile, receiverOnFile);
        seedSender(6);
        m_start = units();
    }
    SendResult sendThree()
    {
        return send(a(), 2,
                    {kC, {{u("001"), 2}, {u("002"), 2}, {u("001"), 1}}, u("借调"), u("张三")},
                    opener());
    }
    void expectBalanced()
    {
        QCOMPARE(units(), m_start);
        for (Connection* db : {m_a.get(), m_c.get()})
            for (const LedgerRow& row : StockLedger::reconcile(*db))
                QVERIFY2(row.agrees(), qPrintable(row.code + u(" ") + row.problem()));
    }
    QList<QStringList> stockOf(Connection& db)
    {
        return test::rows(db, "SELECT code, now_number, total_number FROM DEVICE ORDER BY code");
    }
    QList<QStringList> outLines()
    {
        return test::rows(*m_a, "SELECT code, name, unit_cost, quantity, received_number, reason "
                                "FROM TRANSFER_OUT_LINE ORDER BY line");
    }
    QString state(Connection& db, const char* table)
    {
        const auto r = test::rows(db, QStringLiteral("SELECT state FROM %1").arg(u(table)));
        return r.size() == 1 ? r[0][0] : QString::number(r.size());
    }
    // Both sides catch up until nothing is pending.
    void recoverBoth()
    {
        for (int round = 0; round < 3; ++round) {
            recover(a(), opener());
            recover(c(), opener());
        }
    }

    QMap<QString, double> m_start;
};

void TestTransfers::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
}

void TestTransfers::cleanup()
{
    setStepHook({});
    closeSides();
}

namespace {
void engineRows(const std::function<void(const char*, bool, bool)>& row)
{
    row("same engine", false, false);
    row("sender embedded", true, false);
    row("receiver embedded", false, true);
}
} // namespace

void TestTransfers::sendDeliverReceive_data()
{
    QTest::addColumn<bool>("senderOnFile");
    QTest::addColumn<bool>("receiverOnFile");
    QTest::addColumn<double>("received");
    QTest::addColumn<QString>("reason");
    engineRows([](const char* engines, bool sender, bool receiver) {
        QTest::addRow("%s, in full", engines) << sender << receiver << 3.0 << QString();
        QTest::addRow("%s, short", engines) << sender << receiver << 1.0 << u("途中损坏");
    });
}

void TestTransfers::sendDeliverReceive()
{
    QFETCH(bool, senderOnFile);
    QFETCH(bool, receiverOnFile);
    QFETCH(double, received);
    QFETCH(QString, reason);
    openSides(senderOnFile, receiverOnFile);

    const SendResult sent = sendThree();
    QVERIFY2(sent.problem.isEmpty(), qPrintable(sent.problem));
    QVERIFY(sent.delivered);
    QVERIFY(sent.id.startsWith(u("VOK1-")));
    // One line per device, the sender's names and unit cost.
    QCOMPARE(outLines(), (QList<QStringList>{{"001", u("投影仪"), "1250.50", "3", "", ""},
                                             {"002", u("扫描仪"), "", "2", "", ""}}));
    QCOMPARE(stockOf(*m_a), (QList<QStringList>{{"001", "7", "10"}, {"002", "3", "5"}}));
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateInTransit());
    QCOMPARE(state(*m_c, "TRANSFER_IN"), stateWaiting());
    QCOMPARE(waitingText(waitingCount(*m_c)), u("有 1 笔调拨待接收"));
    QCOMPARE(waitingText(waitingCount(*m_a)), QString());
    expectBalanced();

    // The receiving catalogue lacks both devices: asked first, nothing written.
    const std::vector<Receipt> receipts{{1, received, reason}};
    ReceiveResult r = receive(c(), 2, sent.id, receipts, u("李四"), false, opener());
    QCOMPARE(r.problem, u("本部门的设备代码表中没有 001、002。"));
    QCOMPARE(r.missingCodes.size(), size_t(2));
    QCOMPARE(state(*m_c, "TRANSFER_IN"), stateWaiting());
    r = receive(c(), 2, sent.id, receipts, u("李四"), true, opener());
    QVERIFY2(r.problem.isEmpty(), qPrintable(r.problem));
    QVERIFY(r.acknowledged);

    const QString got = QString::number(received);
    QCOMPARE(stockOf(*m_c), (QList<QStringList>{{"001", got, got}, {"002", "2", "2"}}));
    QCOMPARE(test::rows(*m_c, "SELECT code, name FROM DEVICE_CODE ORDER BY code"),
             (QList<QStringList>{{"001", u("投影仪")}, {"002", u("扫描仪")}}));
    // The sender sees the receipt and its difference.
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateReceived());
    QCOMPARE(outLines(), (QList<QStringList>{{"001", u("投影仪"), "1250.50", "3", got, reason},
                                             {"002", u("扫描仪"), "", "2", "2", ""}}));
    QCOMPARE(waitingCount(*m_c), 0);
    QCOMPARE(test::rows(*m_a, "SELECT do_what FROM HOWDO").value(0).value(0),
             u("调拨出库 %1 至部门C 2 种 5 件").arg(sent.id));
    QCOMPARE(test::rows(*m_c, "SELECT do_what FROM HOWDO").value(0).value(0),
             u("调拨入库 %1 自部门A 2 种 %2 件").arg(sent.id).arg(received + 2) +
                 (received == 3 ? QString() : u("，调拨差异 1 种")));
    expectBalanced();

    // A second receipt, and deliveries redone, change nothing.
    r = receive(c(), 2, sent.id, {}, u("李四"), true, opener());
    QCOMPARE(r.problem, u("这笔调拨已经接收，不能再次接收。"));
    m_a->executeWith(u("UPDATE TRANSFER_OUT SET delivered_at = NULL, state = ?"),
                     {stateInTransit()});
    recoverBoth();
    QCOMPARE(stockOf(*m_c), (QList<QStringList>{{"001", got, got}, {"002", "2", "2"}}));
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateReceived());
    QCOMPARE(test::rows(*m_c, "SELECT COUNT(*) FROM TRANSFER_IN_LINE"), QList<QStringList>{{"2"}});
    expectBalanced();
}

void TestTransfers::outOfReachCaughtUpLater_data()
{
    QTest::addColumn<bool>("senderOnFile");
    QTest::addColumn<bool>("receiverOnFile");
    engineRows([](const char* engines, bool sender, bool receiver) {
        QTest::addRow("%s", engines) << sender << receiver;
    });
}

void TestTransfers::outOfReachCaughtUpLater()
{
    QFETCH(bool, senderOnFile);
    QFETCH(bool, receiverOnFile);
    openSides(senderOnFile, receiverOnFile);

    m_away = {kC};
    const SendResult sent = sendThree();
    QVERIFY(sent.problem.isEmpty());
    QVERIFY(!sent.delivered);
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateInTransit());
    QCOMPARE(waitingCount(*m_c), 0);
    expectBalanced();

    // The receiver's log-in fetches it; the sender is then out of reach.
    m_away = {kA};
    RecoverResult caught = recover(c(), opener());
    QCOMPARE(caught.delivered, 0);
    QVERIFY(caught.unreachable.contains(kA));
    m_away.clear();
    caught = recover(c(), opener());
    QCOMPARE(caught.delivered, 1);
    QCOMPARE(waitingCount(*m_c), 1);
    QVERIFY(!test::rows(*m_a, "SELECT delivered_at FROM TRANSFER_OUT")[0][0].isEmpty());

    m_away = {kA};
    const ReceiveResult r = receive(c(), 1, sent.id, {}, u("李四"), true, opener());
    QVERIFY(r.problem.isEmpty());
    QVERIFY(!r.acknowledged);
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateInTransit());
    expectBalanced();

    // The sender's next action fetches the receipt.
    m_away.clear();
    QCOMPARE(recover(a(), opener()).acknowledged, 1);
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateReceived());
    QVERIFY(!test::rows(*m_c, "SELECT acknowledged_at FROM TRANSFER_IN")[0][0].isEmpty());
    QCOMPARE(recover(c(), opener()).acknowledged, 0);
    expectBalanced();
}

void TestTransfers::everyStepFailingIsRedone_data()
{
    QTest::addColumn<bool>("senderOnFile");
    QTest::addColumn<bool>("receiverOnFile");
    QTest::addColumn<int>("step");
    engineRows([](const char* engines, bool sender, bool receiver) {
        for (int s = 0; s <= int(Step::AcknowledgedAfterCommit); ++s)
            QTest::addRow("%s, %s", engines, qPrintable(stepName(Step(s))))
                << sender << receiver << s;
    });
}

// A failure thrown at a step stops the protocol there, as a killed program
// would: what was not committed is rolled back, the rest is redone later.
void TestTransfers::everyStepFailingIsRedone()
{
    QFETCH(bool, senderOnFile);
    QFETCH(bool, receiverOnFile);
    QFETCH(int, step);
    openSides(senderOnFile, receiverOnFile);
    bool failed = false;
    setStepHook([&](Step at, const QString&) {
        if (int(at) == step && !failed) {
            failed = true;
            throw DbError(DbError::Failure::ConnectionLost, u("stopped"));
        }
    });

    SendResult sent;
    try {
        sent = sendThree();
    } catch (const DbError&) {
        QVERIFY(Step(step) == Step::SendBeforeCommit || Step(step) == Step::SendAfterCommit);
        const auto ids = test::rows(*m_a, "SELECT transfer_id FROM TRANSFER_OUT");
        QCOMPARE(ids.size(), Step(step) == Step::SendBeforeCommit ? 0 : 1);
        sent = ids.isEmpty() ? sendThree() : SendResult{{}, ids[0][0], {}, false};
    }
    QVERIFY(sent.problem.isEmpty());
    expectBalanced();
    recoverBoth();
    QCOMPARE(waitingCount(*m_c), 1);

    try {
        receive(c(), 2, sent.id, {}, u("李四"), true, opener());
    } catch (const DbError&) {
        QVERIFY(Step(step) == Step::ReceiveBeforeCommit || Step(step) == Step::ReceiveAfterCommit);
    }
    expectBalanced();
    recoverBoth();
    if (waitingCount(*m_c) == 1) // the receipt was rolled back: the user confirms again
        QVERIFY(receive(c(), 2, sent.id, {}, u("李四"), true, opener()).problem.isEmpty());
    recoverBoth();
    QVERIFY(failed);

    QCOMPARE(stockOf(*m_c), (QList<QStringList>{{"001", "3", "3"}, {"002", "2", "2"}}));
    QCOMPARE(test::rows(*m_c, "SELECT source, sender, note FROM TRANSFER_IN"),
             (QList<QStringList>{{kA, u("张三"), u("借调")}}));
    QCOMPARE(state(*m_a, "TRANSFER_OUT"), stateReceived());
    QCOMPARE(test::rows(*m_c, "SELECT state, acknowledged_at IS NOT NULL FROM TRANSFER_IN")
                 .value(0)
                 .value(0),
             stateReceived());
    QCOMPARE(test::rows(*m_c, "SELECT COUNT(*) FROM TRANSFER_IN WHERE acknowledged_at IS NULL"),
             QList<QStringList>{{"0"}});
    expectBalanced();
}

void TestTransfers::refusalsWriteNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("code");
    QTest::addColumn<double>("quantity");
    QTest::addColumn<QString>("problem");
    QTest::newRow("no target") << QString() << u("001") << 1.0 << u("请选择调入部门。");
    QTest::newRow("itself") << kA << u("001") << 1.0 << u("调入部门不能是本部门。");
    QTest::newRow("unknown target") << u("部门F") << u("001") << 1.0 << u("调入部门不正确：部门F");
    QTest::newRow("below one") << kC << u("001") << 0.5 << u("设备 001：数量至少为 1。");
    QTest::newRow("more than on hand")
        << kC << u("001") << 11.0 << u("设备 001 现有库存 10，不够调出 11，没有调拨。");
    QTest::newRow("no stock row") << kC << u("009") << 1.0
                                  << u("设备 009 现有库存 0，不够调出 1，没有调拨。");
}

void TestTransfers::refusalsWriteNothing()
{
    QFETCH(QString, target);
    QFETCH(QString, code);
    QFETCH(double, quantity);
    QFETCH(QString, problem);
    openSides(false, false);
    const SendResult r =
        send(a(), 1, {target, {{u("002"), 1}, {code, quantity}}, {}, u("张三")}, opener());
    QCOMPARE(r.problem, problem);
    QCOMPARE(test::rows(*m_a, "SELECT COUNT(*) FROM TRANSFER_OUT"), QList<QStringList>{{"0"}});
    QCOMPARE(stockOf(*m_a), (QList<QStringList>{{"001", "10", "10"}, {"002", "5", "5"}}));
    QVERIFY_THROWS_EXCEPTION(DbError, send(a(), 3, {kC, {{u("001"), 1}}, {}, u("王五")}, opener()));

    // A short receipt needs its reason.
    const SendResult sent = sendThree();
    const ReceiveResult shortOne =
        receive(c(), 2, sent.id, {{1, 2, u(" ")}}, u("李四"), true, opener());
    QCOMPARE(shortOne.problem, u("设备 001 实收 2，调出 3，请填写调拨差异的原因。"));
    QCOMPARE(waitingCount(*m_c), 1);
}

QTEST_GUILESS_MAIN(TestTransfers)
#include "tst_transfers.moc"

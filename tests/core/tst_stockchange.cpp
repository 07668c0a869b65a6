// The stock change every movement form makes: on the stock as it is at that
// moment, never lost or doubled when several workstations move the same
// device at once.
#include "core/StockChange.h"
#include "core/StockLedger.h"
#include "core/Stocktake.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "support/TestSupport.h"

#include <QTest>

#include <atomic>
#include <mutex>
#include <thread>

using namespace vok;

namespace {

void addStockRow(Connection& c, const QString& code, float now)
{
    c.append(QStringLiteral("DEVICE"),
             {"code", "now_number", "high_number", "low_number", "total_number"},
             {code, now, 20.0f, 2.0f, 50.0f});
}

} // namespace

class TestStockChange : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void changes_data();
    void changes();
    void lockingNeedsATransaction();
    void newDatabasesKeepOneStockRowPerDevice();
    void twoIssuesAtOnceNeverGoBelowZero();
    void fourWorkstationsStockInTogether_data();
    void fourWorkstationsStockInTogether();
    void stocktakeAndStockOutAtOnce_data();
    void stocktakeAndStockOutAtOnce();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestStockChange::changes_data()
{
    QTest::addColumn<QString>("move");
    QTest::addColumn<float>("before"); // < 0: no stock row
    QTest::addColumn<float>("quantity");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QList<QStringList>>("after");
    const QList<QStringList> none;
    QTest::newRow("in, new row") << "in" << -1.f << 2.5f << true
                                 << QList<QStringList>{{"a", "2.5", "1", "1", "2.5"}};
    QTest::newRow("in, existing row")
        << "in" << 5.f << 2.5f << true << QList<QStringList>{{"a", "7.5", "20", "2", "52.5"}};
    QTest::newRow("return") << "return" << 5.f << 3.f << true
                            << QList<QStringList>{{"a", "8", "20", "2", "50"}};
    QTest::newRow("return, no row") << "return" << -1.f << 3.f << false << none;
    QTest::newRow("out, all of it")
        << "out" << 5.f << 5.f << true << QList<QStringList>{{"a", "0", "20", "2", "50"}};
    QTest::newRow("out, more than on hand")
        << "out" << 5.f << 5.5f << false << QList<QStringList>{{"a", "5", "20", "2", "50"}};
    QTest::newRow("out, no row") << "out" << -1.f << 1.f << false << none;
}

void TestStockChange::changes()
{
    QFETCH(QString, move);
    QFETCH(float, before);
    QFETCH(float, quantity);
    QFETCH(bool, done);
    QFETCH(QList<QStringList>, after);
    ConnectionPtr c = m_sandbox->open();
    if (before >= 0)
        addStockRow(*c, "a", before);
    bool changed = true;
    {
        Transaction t(*c);
        if (move == "in")
            Stock::receive(*c, "a", quantity);
        else if (move == "return")
            changed = Stock::giveBack(*c, "a", quantity);
        else {
            const Stock::Issue issue = Stock::issue(*c, "a", quantity);
            changed = issue.done;
            QCOMPARE(issue.onHand, std::max(before, 0.f));
        }
        t.commit();
    }
    QCOMPARE(changed, done);
    QCOMPARE(test::table(*c, "DEVICE"), after);
}

void TestStockChange::lockingNeedsATransaction()
{
    ConnectionPtr c = m_sandbox->open();
    QVERIFY_THROWS_EXCEPTION(DbError, c->lock(TableRows{"DEVICE", SqlText("code='a'")}));
}

void TestStockChange::newDatabasesKeepOneStockRowPerDevice()
{
    ConnectionPtr c = m_sandbox->open();
    addStockRow(*c, "a", 1);
    QVERIFY_THROWS_EXCEPTION(DbError, addStockRow(*c, "a", 2));
    addStockRow(*c, "A", 2); // another code
    QVERIFY(!c->appendUnlessPresent("DEVICE", {"code", "now_number"}, {QStringLiteral("a"), 9.f}));
    QCOMPARE(c->count({"DEVICE"}), 2);
}

// Two workstations issue 3 each of a stock of 5 at the same moment: the
// first to lock issues, the second sees the stock as it is then.
void TestStockChange::twoIssuesAtOnceNeverGoBelowZero()
{
    ConnectionPtr a = m_sandbox->open();
    ConnectionPtr b = m_sandbox->open();
    addStockRow(*a, "a", 5);
    Stock::Issue bIssue;
    std::atomic<bool> bDone = false;
    {
        Transaction ta(*a);
        QVERIFY(Stock::issue(*a, "a", 3).done);
        std::thread tb([&] {
            try {
                Transaction t(*b);
                bIssue = Stock::issue(*b, "a", 3); // waits for A
                if (bIssue.done)
                    t.commit();
            } catch (const DbError&) {
            }
            bDone = true;
        });
        QTest::qWait(300);
        const bool bFinishedEarly = bDone;
        ta.commit();
        tb.join();
        QVERIFY(!bFinishedEarly);
    }
    QVERIFY(!bIssue.done);
    QCOMPARE(bIssue.onHand, 2.f);
    QCOMPARE(test::rows(*a, "SELECT now_number, total_number FROM DEVICE"),
             (QList<QStringList>{{"2", "50"}}));
}

// Four workstations take one device into stock 50 times each at once, the
// first stock-ins of a new device among them: every one lands, once.
void TestStockChange::fourWorkstationsStockInTogether_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("new device") << false;
    QTest::newRow("existing stock row") << true;
}

void TestStockChange::fourWorkstationsStockInTogether()
{
    QFETCH(bool, existing);
    constexpr int kStations = 4;
    constexpr int kEach = 50;
    std::vector<ConnectionPtr> stations;
    for (int i = 0; i < kStations; ++i)
        stations.push_back(m_sandbox->open());
    if (existing)
        addStockRow(*stations[0], "a", 0);
    std::atomic<int> done = 0;
    std::atomic<int> failed = 0;
    QStringList errors;
    std::mutex errorsLock;
    std::vector<std::thread> threads;
    for (int i = 0; i < kStations; ++i)
        threads.emplace_back([&, c = stations[size_t(i)]] {
            for (int n = 0; n < kEach; ++n) {
                try {
                    Transaction t(*c);
                    c->append("DEVICE_IN", {"code", "in_number"}, {QStringLiteral("a"), 1.f});
                    Stock::receive(*c, "a", 1);
                    t.commit();
                    ++done;
                } catch (const DbError& e) {
                    ++failed;
                    std::lock_guard g(errorsLock);
                    errors << e.text();
                }
            }
        });
    for (auto& t : threads)
        t.join();
    qInfo("%d of %d stock-ins done, %d failed", done.load(), kStations * kEach, failed.load());
    QCOMPARE(errors, QStringList());
    QCOMPARE(done.load(), kStations * kEach);
    Connection& c = *stations[0];
    QCOMPARE(c.count({"DEVICE", SqlText("code=?"), {"a"}}), 1);
    QCOMPARE(c.count({"DEVICE_IN"}), kStations * kEach);
    const QString sum = QString::number(kStations * kEach);
    QCOMPARE(test::rows(c, "SELECT now_number FROM DEVICE"), (QList<QStringList>{{sum}}));
}

// A stocktake confirmed on one workstation while another issues one of the
// counted devices: whichever locks the stock row first goes through, the
// other waits for it and then works on the stock as the first left it, and
// the ledger still adds up. The first holds its transaction open until the
// second is under way.
void TestStockChange::stocktakeAndStockOutAtOnce_data()
{
    QTest::addColumn<bool>("stocktakeFirst");
    QTest::addColumn<double>("counted"); // of 001, listed with 10
    QTest::addColumn<int>("adjusted");
    QTest::addColumn<QStringList>("changed"); // code, listed, now, counted
    QTest::addColumn<bool>("issued");         // 3 of 001
    QTest::addColumn<float>("onHand");        // what the stock-out found
    QTest::addColumn<QList<QStringList>>("stock");

    QTest::newRow("stock-out first: the stocktake names the device")
        << false << 9.0 << 0 << QStringList{"001", "10", "7", "9"} << true << 10.f
        << QList<QStringList>{{"001", "7"}, {"002", "5"}};
    QTest::newRow("stocktake first: the stock-out takes from the count")
        << true << 9.0 << 2 << QStringList{} << true << 9.f
        << QList<QStringList>{{"001", "6"}, {"002", "6"}};
    QTest::newRow("stocktake first: too few counted for the stock-out")
        << true << 2.0 << 2 << QStringList{} << false << 2.f
        << QList<QStringList>{{"001", "2"}, {"002", "6"}};
}

void TestStockChange::stocktakeAndStockOutAtOnce()
{
    QFETCH(bool, stocktakeFirst);
    QFETCH(double, counted);
    ConnectionPtr a = m_sandbox->open(); // the stocktake
    ConnectionPtr b = m_sandbox->open(); // the stock-out
    QVERIFY(Stock::addStockRow(*a, 1, "001", {10, 20, 1, 10}, "甲"));
    QVERIFY(Stock::addStockRow(*a, 1, "002", {5, 20, 1, 5}, "甲"));
    std::vector<StocktakeLine> lines = Stocktake::list(*a, QString());
    QCOMPARE(lines.size(), size_t(2));
    lines[0].counted = counted;
    lines[1].counted = 6;

    Stocktake::Confirmation confirmation;
    Stock::Issue issue;
    const auto confirm = [&] { confirmation = Stocktake::confirm(*a, 1, "甲", lines); };
    const auto stockOut = [&] {
        issue = Stock::issue(*b, "001", 3);
        if (issue.done)
            b->append("DEVICE_OUT", {"code", "out_number"}, {QStringLiteral("001"), 3.f});
    };
    // The first, in this thread, inside a transaction held open; the
    // second in a thread of its own, which the first's lock holds up.
    Transaction first(stocktakeFirst ? *a : *b);
    stocktakeFirst ? confirm() : stockOut();
    std::atomic<bool> started = false;
    QString error;
    std::thread second([&] {
        started = true;
        try {
            if (stocktakeFirst) {
                Transaction t(*b);
                stockOut();
                t.commit();
            } else {
                confirm(); // a transaction of its own
            }
        } catch (const DbError& e) {
            error = e.text();
        }
    });
    QTRY_VERIFY(started);
    // The server shows the second waiting for the row; the embedded engine
    // holds it up at the start of its transaction.
    if (test::onServer()) {
        ConnectionPtr watch = m_sandbox->open();
        QTRY_COMPARE(test::rows(*watch, "SELECT COUNT(*) FROM pg_stat_activity "
                                        "WHERE wait_event_type = 'Lock'"),
                     (QList<QStringList>{{"1"}}));
    }
    first.commit();
    second.join();

    QCOMPARE(error, QString());
    QTEST(confirmation.adjusted, "adjusted");
    QStringList changed;
    for (const Stocktake::BookChange& c : confirmation.changed)
        changed << c.code << QString::number(c.listed) << QString::number(c.now)
                << QString::number(c.counted);
    QTEST(changed, "changed");
    QTEST(issue.done, "issued");
    QTEST(issue.onHand, "onHand");
    QTEST(test::rows(*a, "SELECT code, now_number FROM DEVICE ORDER BY code"), "stock");
    for (const LedgerRow& row : StockLedger::reconcile(*a))
        QVERIFY2(row.agrees(), qPrintable(row.code + QLatin1Char(' ') + row.problem()));
}

QTEST_GUILESS_MAIN(TestStockChange)
#include "tst_stockchange.moc"

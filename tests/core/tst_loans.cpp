// Loans on both engines: lending several devices, partial and full
// returns, damage, repair and write-off with the ledger agreeing after each
// step; the refusals that write nothing; two workstations returning against
// one loan at once; the overdue count and a new due date.
#include "core/Clock.h"
#include "core/Loans.h"
#include "core/StockChange.h"
#include "core/StockLedger.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

#include <QTest>
#include <algorithm>
#include <atomic>
#include <thread>

using namespace vok;

namespace {
using test::u;
} // namespace

class TestLoans : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void lendReturnRepairWriteOff();
    void refusalsWriteNothing_data();
    void refusalsWriteNothing();
    void classThreeIsRefusedOnEveryWrite();
    void twoWorkstationsReturnAtOnce();
    void overdueAndExtension();

private:
    void addDevice(const char* code, float onHand)
    {
        m_db->append("DEVICE_CODE", {"code", "name"}, {u(code), u(code) + u("名")});
        Stock::addStockRow(*m_db, 1, u(code), {onHand, 100, 0, onHand}, u("张三"));
    }
    Loans::LoanSlip slip(std::vector<Loans::LoanLine> lines, int days = 7)
    {
        return {u("李四"), u("工程部"),   Clock::now().date().addDays(days),
                u("张三"), u("外出测量"), std::move(lines)};
    }
    QList<QStringList> stock()
    {
        return test::rows(*m_db, "SELECT code, now_number FROM DEVICE ORDER BY code");
    }
    QList<QStringList> loanCounts()
    {
        return test::rows(*m_db, "SELECT line, code, loan_number, returned_number, "
                                 "damaged_number, repaired_number, scrapped_number, state "
                                 "FROM DEVICE_LOAN ORDER BY line");
    }
    // Every device's stock agrees with its ledger.
    void expectLedgerAgrees(const char* step)
    {
        for (const LedgerRow& row : StockLedger::reconcile(*m_db))
            QVERIFY2(row.agrees(),
                     qPrintable(u(step) + u("：") + row.code + u(" ") + row.problem()));
    }
    qint64 count(const char* table) { return m_db->count({table}); }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
};

void TestLoans::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
}

void TestLoans::cleanup()
{
    m_db.reset();
    m_sandbox.reset();
}

void TestLoans::lendReturnRepairWriteOff()
{
    addDevice("a", 5);
    addDevice("b", 3);
    addDevice("c", 2);
    // Scanned one by one: a twice, so its two units make one line.
    const auto lent = Loans::lend(*m_db, 1, slip({{"a", 1}, {"b", 1}, {"a", 1}, {"c", 2}}));
    QCOMPARE(lent.problem, QString());
    QCOMPARE(lent.loanId, 1);
    QCOMPARE(stock(), (QList<QStringList>{{"a", "3"}, {"b", "2"}, {"c", "0"}}));
    QCOMPARE(test::rows(*m_db, "SELECT code, department, out_date, out_state, out_person, "
                               "out_number, taker, usage FROM DEVICE_OUT ORDER BY code"),
             (QList<QStringList>{{"a", u("工程部"), "2026-03-15 10:00:00", u("借用"), u("张三"),
                                  "2", u("李四"), u("借用单 1")},
                                 {"b", u("工程部"), "2026-03-15 10:00:00", u("借用"), u("张三"),
                                  "1", u("李四"), u("借用单 1")},
                                 {"c", u("工程部"), "2026-03-15 10:00:00", u("借用"), u("张三"),
                                  "2", u("李四"), u("借用单 1")}}));
    QCOMPARE(test::rows(*m_db, "SELECT borrower, department, lent_at, due_date, handler, note "
                               "FROM DEVICE_LOAN WHERE line='1-1'"),
             (QList<QStringList>{{u("李四"), u("工程部"), "2026-03-15 10:00:00", "2026-03-22",
                                  u("张三"), u("外出测量")}}));
    expectLedgerAgrees("借出");

    // A part of a comes back good, then the rest damaged: the line closes.
    QCOMPARE(Loans::giveBack(*m_db, 1, "1-1", 1, Loans::Condition::Good, u("王五")), QString());
    QCOMPARE(stock().at(0), (QStringList{"a", "4"}));
    QCOMPARE(test::rows(*m_db, "SELECT code, keeper, return_number, return_person FROM "
                               "DEVICE_RETURN"),
             (QList<QStringList>{{"a", u("王五"), "1", u("李四")}}));
    expectLedgerAgrees("部分归还");
    QCOMPARE(Loans::giveBack(*m_db, 1, "1-1", 1, Loans::Condition::Damaged, u("王五")), QString());
    QCOMPARE(stock().at(0), (QStringList{"a", "4"}));
    expectLedgerAgrees("损坏归还");
    // b back whole, c both damaged.
    QCOMPARE(Loans::giveBack(*m_db, 1, "1-2", 1, Loans::Condition::Good, u("王五")), QString());
    QCOMPARE(Loans::giveBack(*m_db, 1, "1-3", 2, Loans::Condition::Damaged, u("王五")), QString());
    QVERIFY(Loans::openLines(*m_db, u("李四")).empty());
    QCOMPARE(Loans::awaitingRepair(*m_db).size(), size_t(2));
    QCOMPARE(Loans::deviceLoans(*m_db, "c").awaitingRepair, 2.0);
    expectLedgerAgrees("全部归还");

    // Of c's two, one is repaired (back on hand), one written off.
    QCOMPARE(Loans::repair(*m_db, 1, "1-3", 1, u("张三")), QString());
    QCOMPARE(stock().at(2), (QStringList{"c", "1"}));
    expectLedgerAgrees("修复入库");
    QCOMPARE(Loans::writeOff(*m_db, 1, "1-3", 1, u("屏幕碎裂"), u("张三")), QString());
    QCOMPARE(stock().at(2), (QStringList{"c", "1"}));
    expectLedgerAgrees("报废");
    QCOMPARE(Loans::awaitingRepair(*m_db, "c").size(), size_t(0));

    QCOMPARE(loanCounts(), (QList<QStringList>{{"1-1", "a", "2", "1", "1", "0", "0", u("已还")},
                                               {"1-2", "b", "1", "1", "0", "0", "0", u("已还")},
                                               {"1-3", "c", "2", "0", "2", "1", "1", u("已还")}}));
    // Sorted here: the engines' collations order Chinese texts apart.
    auto events = test::rows(*m_db, "SELECT line, event, event_number, note, user_name FROM "
                                    "DEVICE_LOAN_EVENT");
    std::sort(events.begin(), events.end());
    QCOMPARE(events, (QList<QStringList>{{"1-1", u("归还"), "1", "", u("王五")},
                                         {"1-1", u("损坏"), "1", "", u("王五")},
                                         {"1-2", u("归还"), "1", "", u("王五")},
                                         {"1-3", u("修复入库"), "1", "", u("张三")},
                                         {"1-3", u("报废"), "1", u("屏幕碎裂"), u("张三")},
                                         {"1-3", u("损坏"), "2", "", u("王五")}}));
    QCOMPARE(test::rows(*m_db, "SELECT code, before_number, after_number, reason FROM "
                               "DEVICE_ADJUST WHERE code='c' ORDER BY before_number, after_number"),
             (QList<QStringList>{{"c", "0", "1", u("修复入库")},
                                 {"c", "0", "2", u("期初库存")},
                                 {"c", "1", "1", u("报废：屏幕碎裂")}}));

    // The next loan takes the next number.
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 4}})).loanId, 2);
    QCOMPARE(Loans::borrowers(*m_db), QStringList{u("李四")});
}

// Each refusal leaves every table as it was.
void TestLoans::refusalsWriteNothing_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("message");
    QTest::newRow("more than on hand") << 0 << u("设备 b 现有库存 3，不够借出 4，没有登记。");
    QTest::newRow("device without stock") << 1 << u("设备 x 现有库存 0，不够借出 1，没有登记。");
    QTest::newRow("no borrower") << 2 << u("请输入借用人。");
    QTest::newRow("due before today") << 3 << u("应还日期不能早于今天。");
    QTest::newRow("no lines") << 4 << u("请扫描或选择要借用的设备。");
    QTest::newRow("return more than out") << 5 << u("归还数量超过未还数量 2。");
    QTest::newRow("repair more than awaiting") << 6 << u("数量超过待修数量 0。");
    QTest::newRow("write-off without reason") << 7 << u("请输入报废原因。");
    QTest::newRow("no such line") << 8 << u("找不到这笔借用，可能已被清理。");
    QTest::newRow("zero quantity") << 9 << u("数量至少为 1。");
}

void TestLoans::refusalsWriteNothing()
{
    QFETCH(int, step);
    QFETCH(QString, message);
    addDevice("a", 5);
    addDevice("b", 3);
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 2}})).problem, QString());
    const auto before =
        QList<qint64>{count("DEVICE_OUT"), count("DEVICE_LOAN"), count("DEVICE_LOAN_EVENT"),
                      count("DEVICE_RETURN"), count("DEVICE_ADJUST")};
    const auto stockBefore = stock();
    const auto countsBefore = loanCounts();
    QString got;
    auto s = slip({{"a", 1}, {"b", 4}});
    switch (step) {
    case 0:
        got = Loans::lend(*m_db, 1, s).problem;
        break;
    case 1:
        got = Loans::lend(*m_db, 1, slip({{"a", 1}, {"x", 1}})).problem;
        break;
    case 2:
        s.lines = {{"a", 1}};
        s.borrower = u(" ");
        got = Loans::lend(*m_db, 1, s).problem;
        break;
    case 3:
        got = Loans::lend(*m_db, 1, slip({{"a", 1}}, -1)).problem;
        break;
    case 4:
        got = Loans::lend(*m_db, 1, slip({})).problem;
        break;
    case 5:
        got = Loans::giveBack(*m_db, 1, "1-1", 3, Loans::Condition::Good, u("王五"));
        break;
    case 6:
        got = Loans::repair(*m_db, 1, "1-1", 1, u("王五"));
        break;
    case 7:
        got = Loans::writeOff(*m_db, 1, "1-1", 1, u(" "), u("王五"));
        break;
    case 8:
        got = Loans::giveBack(*m_db, 1, "9-1", 1, Loans::Condition::Damaged, u("王五"));
        break;
    case 9:
        got = Loans::giveBack(*m_db, 1, "1-1", 0, Loans::Condition::Good, u("王五"));
        break;
    }
    QCOMPARE(got, message);
    QCOMPARE((QList<qint64>{count("DEVICE_OUT"), count("DEVICE_LOAN"), count("DEVICE_LOAN_EVENT"),
                            count("DEVICE_RETURN"), count("DEVICE_ADJUST")}),
             before);
    QCOMPARE(stock(), stockBefore);
    QCOMPARE(loanCounts(), countsBefore);
}

void TestLoans::classThreeIsRefusedOnEveryWrite()
{
    addDevice("a", 5);
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 2}})).problem, QString());
    QCOMPARE(Loans::giveBack(*m_db, 1, "1-1", 1, Loans::Condition::Damaged, u("王五")), QString());
    const auto countsBefore = loanCounts();
    QVERIFY_THROWS_EXCEPTION(DbError, Loans::lend(*m_db, 3, slip({{"a", 1}})));
    QVERIFY_THROWS_EXCEPTION(DbError,
                             Loans::giveBack(*m_db, 3, "1-1", 1, Loans::Condition::Good, "x"));
    QVERIFY_THROWS_EXCEPTION(DbError, Loans::repair(*m_db, 3, "1-1", 1, "x"));
    QVERIFY_THROWS_EXCEPTION(DbError, Loans::writeOff(*m_db, 3, "1-1", 1, "x", "x"));
    QVERIFY_THROWS_EXCEPTION(DbError, Loans::extend(*m_db, 3, "1-1", QDate(2026, 4, 1), "x"));
    QCOMPARE(loanCounts(), countsBefore);
    QCOMPARE(count("DEVICE_OUT"), 1);
}

// Two workstations each return 2 of the 3 still out at the same moment:
// the first to change the line goes through, the second is told what is
// left, and never more than was lent comes back.
void TestLoans::twoWorkstationsReturnAtOnce()
{
    addDevice("a", 5);
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 3}})).problem, QString());
    ConnectionPtr b = m_sandbox->open();
    QString bAnswer;
    std::atomic<bool> bDone = false;
    {
        Transaction ta(*m_db);
        QCOMPARE(Loans::giveBack(*m_db, 1, "1-1", 2, Loans::Condition::Good, u("甲")), QString());
        std::thread tb([&] {
            try {
                bAnswer = Loans::giveBack(*b, 1, "1-1", 2, Loans::Condition::Good, u("乙"));
            } catch (const DbError& e) {
                bAnswer = e.text();
            }
            bDone = true;
        });
        QTest::qWait(300);
        const bool bFinishedEarly = bDone;
        ta.commit();
        tb.join();
        QVERIFY(!bFinishedEarly);
    }
    QCOMPARE(bAnswer, u("归还数量超过未还数量 1。"));
    QCOMPARE(loanCounts().at(0).mid(3, 2), (QStringList{"2", "0"}));
    QCOMPARE(stock(), (QList<QStringList>{{"a", "4"}}));
    expectLedgerAgrees("同时归还");
}

void TestLoans::overdueAndExtension()
{
    addDevice("a", 10);
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 1}}, 3)).problem, QString());  // due 3-18
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 1}}, 10)).problem, QString()); // due 3-25
    QCOMPARE(Loans::lend(*m_db, 1, slip({{"a", 1}}, 1)).problem, QString());  // due 3-16, returned
    QCOMPARE(Loans::giveBack(*m_db, 1, "3-1", 1, Loans::Condition::Good, u("王五")), QString());
    QCOMPARE(Loans::overdue(*m_db, QDate(2026, 3, 18)).count, 0);
    QCOMPARE(Loans::overdueText(Loans::overdue(*m_db, QDate(2026, 3, 18))), QString());
    const auto o = Loans::overdue(*m_db, QDate(2026, 3, 30));
    QCOMPARE(o.count, 2);
    QCOMPARE(o.mostDays, 12);
    QCOMPARE(Loans::overdueText(o), u("有 2 笔借用已逾期，最长 12 天"));
    const auto open = Loans::openLines(*m_db, "a");
    QCOMPARE(open.size(), size_t(2));
    QCOMPARE(open.at(0).daysOverdue(QDate(2026, 3, 30)), 12);
    QCOMPARE(open.at(0).out(), 1.0);

    Clock::setNow(QDateTime(QDate(2026, 3, 30), QTime(9, 0)));
    QCOMPARE(Loans::extend(*m_db, 1, "1-1", QDate(2026, 4, 10), u("张三")), QString());
    QCOMPARE(Loans::extend(*m_db, 1, "3-1", QDate(2026, 4, 10), u("张三")),
             u("这笔借用已经全部归还。"));
    QCOMPARE(Loans::extend(*m_db, 1, "2-1", QDate(2026, 3, 29), u("张三")),
             u("应还日期不能早于今天。"));
    QCOMPARE(test::rows(*m_db, "SELECT line, event, note FROM DEVICE_LOAN_EVENT WHERE event<>?",
                        {"归还"}),
             (QList<QStringList>{{"1-1", u("延期"), u("应还日期 2026-03-18 改为 2026-04-10")}}));
    const auto after = Loans::overdue(*m_db, QDate(2026, 3, 30));
    QCOMPARE(after.count, 1);
    QCOMPARE(after.mostDays, 5);
}

QTEST_GUILESS_MAIN(TestLoans)
#include "tst_loans.moc"

// The period summary, the device ledger and the month-end close on both
// engines, over a quarter whose figures are worked out by hand: opening
// stock without a price, stock-ins at two prices, a device received
// without a price, issues, returns, a stocktake, a back-dated stock-in,
// transfers in with and without the sender's cost and a transfer out;
// the closed month refused on every write path and open again after its
// reopening.
#include "core/Clock.h"
#include "core/PeriodSummary.h"
#include "core/StockChange.h"
#include "core/StockLedger.h"
#include "core/Stocktake.h"
#include "core/TableAccess.h"
#include "core/TableImport.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTest>

using namespace vok;

using test::u;

namespace {
void at(int month, int day, int hour = 9)
{
    Clock::setNow(QDateTime(QDate(2026, month, day), QTime(hour, 0)));
}

QDate day(int month, int d)
{
    return QDate(2026, month, d);
}

// A row as text: code, then each column's quantity and amount, the unit cost.
QString line(const PeriodRow& r)
{
    QStringList cells{r.code};
    for (const PeriodFigure* f : {&r.opening, &r.stockIn, &r.stockOut, &r.returned, &r.transferIn,
                                  &r.transferOut, &r.adjusted, &r.closing})
        cells << QString::number(f->number) + u("/") + centsText(f->cents);
    cells << unitCostText(r.unitCost);
    return cells.join(u(" "));
}

QStringList lines(const PeriodSummaryResult& s)
{
    QStringList out;
    for (const PeriodRow& r : s.rows)
        out << line(r);
    out << line(s.total);
    return out;
}
} // namespace

class TestPeriodSummary : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void figures_data();
    void figures();
    void openingPrice_data();
    void openingPrice();
    void monthsChainAndMeetTheStock();
    void closedMonthsGiveTheSameFigures();
    void ledgerRunsToTheClosing();
    void closedMonthRefusesEveryWrite();
    void closeHoldsOffWriters();
    void classRules();
    void reconcileFromClosing_data();
    void reconcileFromClosing();

private:
    void receive(const char* code, int month, int d, float n, float price)
    {
        at(month, d);
        Transaction t(*m_db);
        TableAccess(*m_db, tables::deviceIn, 1)
            .append({u(code), QStringLiteral("2026-%1-%2 09:00:00").arg(month).arg(d), u("甲"),
                     u(""), n, price, u("王")});
        Stock::receive(*m_db, u(code), n);
        t.commit();
    }
    void issue(const char* code, int month, int d, float n)
    {
        at(month, d);
        Transaction t(*m_db);
        QVERIFY(Stock::issue(*m_db, u(code), n).done);
        TableAccess(*m_db, tables::deviceOut, 1)
            .append({u(code), u("一车间"), QStringLiteral("2026-%1-%2 10:00:00").arg(month).arg(d),
                     u("1"), u("李"), n, u("赵"), u("维修")});
        t.commit();
    }
    void giveBack(const char* code, int month, int d, float n)
    {
        at(month, d);
        Transaction t(*m_db);
        TableAccess(*m_db, tables::deviceReturn, 1)
            .append({u(code), QStringLiteral("2026-%1-%2 11:00:00").arg(month).arg(d), u("孙"), n,
                     u("周")});
        QVERIFY(Stock::giveBack(*m_db, u(code), n));
        t.commit();
    }
    // A transfer as the sending takes it off the stock.
    void sendAway(const char* code, int month, int d, double n)
    {
        at(month, d);
        Transaction t(*m_db);
        QVERIFY(Stock::issue(*m_db, u(code), float(n)).done);
        const QString id = u("部门A-") + u(code);
        test::seed(*m_db, u("TRANSFER_OUT"),
                   {{id, u("部门B"), Clock::now().toString(u"yyyy-MM-dd HH:mm:ss"), u("王"), u(""),
                     u("在途")}});
        test::seed(*m_db, u("TRANSFER_OUT_LINE"),
                   {{id + u("/1"), id, u(code), u("设备"), u("1.00"), n}});
        t.commit();
    }
    // A transfer as its receipt adds what came to the stock; cost: the
    // sender's unit cost (empty: none).
    void takeIn(const char* code, int month, int d, double sent, double received, const char* cost)
    {
        at(month, d);
        Transaction t(*m_db);
        Stock::receive(*m_db, u(code), float(received));
        const QString id = u("部门B-") + u(code);
        test::seed(*m_db, u("TRANSFER_IN"),
                   {{id, u("部门B"), u("2026-01-05 08:00:00"), u("钱"), u(""), u("已接收"),
                     Clock::now().toString(u"yyyy-MM-dd HH:mm:ss"), u("王")}});
        test::seed(*m_db, u("TRANSFER_IN_LINE"),
                   {{id + u("/1"), id, u(code), u("设备"), *cost ? QVariant(u(cost)) : QVariant(),
                     sent, received, sent == received ? QVariant() : QVariant(u("损坏"))}});
        t.commit();
    }
    void seedQuarter();
    PeriodSummaryResult summary(const QDate& from, const QDate& to, bool idle = false)
    {
        return PeriodSummary::read(*m_db, from, to, {}, idle);
    }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
};

void TestPeriodSummary::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    seedQuarter();
}

void TestPeriodSummary::cleanup()
{
    PeriodClose::setCloseHook({});
    m_db.reset();
    m_sandbox.reset();
}

// 001: opening 10 without a price, in at 100.00 and 130.00, issues, a
// return, a stocktake, 2 transferred out; 002: received without a price,
// then (back-dated) at 50.00, one transferred in without a cost; 003:
// opening stock without a price, 2 of 3 transferred in at 20.00; 004:
// nothing at all.
void TestPeriodSummary::seedQuarter()
{
    for (const char* c : {"001", "002", "003", "004"})
        TableAccess(*m_db, tables::deviceCode, 1).append({u(c), u("设备") + u(c)});
    at(1, 2);
    QVERIFY(Stock::addStockRow(*m_db, 1, u("001"), {10, 100, 0, 10}, u("王")));
    at(1, 3);
    QVERIFY(Stock::addStockRow(*m_db, 1, u("003"), {3, 100, 0, 3}, u("王")));
    receive("001", 1, 10, 10, 100);
    receive("002", 1, 15, 4, 0);
    issue("001", 1, 20, 8);
    issue("002", 2, 3, 1);
    receive("001", 2, 5, 5, 130);
    issue("001", 2, 10, 12);
    issue("003", 2, 12, 2);
    takeIn("003", 2, 15, 3, 2, "20.00");
    giveBack("001", 2, 20, 2);
    giveBack("003", 3, 5, 1);
    at(3, 15);
    std::vector<StocktakeLine> count = Stocktake::list(*m_db, u("001"));
    QCOMPARE(count.size(), size_t(1));
    count[0].counted = 6;
    QCOMPARE(Stocktake::confirm(*m_db, 1, u("王"), count).adjusted, 1);
    issue("001", 3, 20, 3);
    takeIn("002", 3, 10, 1, 1, "");
    sendAway("001", 3, 25, 2);
    // Entered on 25 March, dated in February.
    at(3, 25);
    receive("002", 2, 25, 2, 50);
    at(4, 2);
}

void TestPeriodSummary::figures_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<QStringList>("expected");
    // January: 001 costs 1000.00 / 10; its opening stock is valued at it.
    QTest::newRow("January") << day(1, 1) << day(1, 31) << false
                             << QStringList{
                                    u("001 0/0.00 10/1000.00 8/800.00 0/0.00 0/0.00 0/0.00 "
                                      "10/1000.00 12/1200.00 100.00"),
                                    u("002 0/0.00 4/0.00 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 "
                                      "4/0.00 无单价"),
                                    u("003 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 3/0.00 "
                                      "3/0.00 无单价"),
                                    u(" 0/0.00 14/1000.00 8/800.00 0/0.00 0/0.00 0/0.00 "
                                      "13/1000.00 19/1200.00 无单价")};
    // February: 001 costs 1850.00 / 17; the closing 7 units are 761.76 and
    // the cent rounding leaves goes to the stock-out (1305.89, not .88).
    // 002's back-dated stock-in gives it its first cost: 100.00 / 6. 003's
    // transfer in at the sender's 20.00 is its first cost: 40.00 / 5.
    QTest::newRow("February") << day(2, 1) << day(2, 28) << false
                              << QStringList{
                                     u("001 12/1200.00 5/650.00 12/1305.89 2/217.65 0/0.00 "
                                       "0/0.00 0/0.00 7/761.76 108.82"),
                                     u("002 4/0.00 2/100.00 1/16.67 0/0.00 0/0.00 0/0.00 0/0.00 "
                                       "5/83.33 16.67"),
                                     u("003 3/0.00 0/0.00 2/16.00 0/0.00 2/40.00 0/0.00 0/0.00 "
                                       "3/24.00 8.00"),
                                     u(" 19/1200.00 7/750.00 15/1338.56 2/217.65 2/40.00 0/0.00 "
                                       "0/0.00 15/869.09 无单价")};
    // March: the count takes one unit off 001 at 761.76 / 7, and so does
    // its transfer out two; 002's transfer in without a cost is valued at
    // the month's.
    QTest::newRow("March") << day(3, 1) << day(3, 31) << true
                           << QStringList{
                                  u("001 7/761.76 0/0.00 3/326.47 0/0.00 0/0.00 2/217.65 "
                                    "-1/-108.82 1/108.82 108.82"),
                                  u("002 5/83.33 0/0.00 0/0.00 0/0.00 1/16.67 0/0.00 0/0.00 "
                                    "6/100.00 16.67"),
                                  u("003 3/24.00 0/0.00 0/0.00 1/8.00 0/0.00 0/0.00 0/0.00 "
                                    "4/32.00 8.00"),
                                  u("004 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 "
                                    "0/0.00 无单价"),
                                  u(" 15/869.09 0/0.00 3/326.47 1/8.00 1/16.67 2/217.65 "
                                    "-1/-108.82 11/240.82 无单价")};
    QTest::newRow("quarter") << day(1, 1) << day(3, 31) << false
                             << QStringList{
                                    u("001 0/0.00 15/1650.00 23/2432.36 2/217.65 0/0.00 "
                                      "2/217.65 9/891.18 1/108.82 108.82"),
                                    u("002 0/0.00 6/100.00 1/16.67 0/0.00 1/16.67 0/0.00 0/0.00 "
                                      "6/100.00 16.67"),
                                    u("003 0/0.00 0/0.00 2/16.00 1/8.00 2/40.00 0/0.00 3/0.00 "
                                      "4/32.00 8.00"),
                                    u(" 0/0.00 21/1750.00 26/2465.03 3/225.65 3/56.67 2/217.65 "
                                      "12/891.18 11/240.82 无单价")};
    // Days within months: February 10 to March 5. 002's stock-out of 3
    // February is valued at February's cost, known only with the
    // back-dated stock-in after it: its opening is below zero.
    QTest::newRow("days") << day(2, 10) << day(3, 5) << false
                          << QStringList{
                                 u("001 17/1850.00 0/0.00 12/1305.89 2/217.65 0/0.00 0/0.00 "
                                   "0/0.00 7/761.76 108.82"),
                                 u("002 3/-16.67 2/100.00 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 "
                                   "5/83.33 16.67"),
                                 u("003 3/0.00 0/0.00 2/16.00 1/8.00 2/40.00 0/0.00 0/0.00 "
                                   "4/32.00 8.00"),
                                 u(" 23/1833.33 2/100.00 14/1321.89 3/225.65 2/40.00 0/0.00 "
                                   "0/0.00 16/877.09 无单价")};
}

void TestPeriodSummary::figures()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(bool, idle);
    QFETCH(QStringList, expected);
    const PeriodSummaryResult s = summary(from, to, idle);
    QCOMPARE(lines(s), expected);
    for (const PeriodRow& r : s.rows)
        QVERIFY2(r.balances(), qPrintable(r.code));
    QVERIFY(s.total.balances());
    // A prefix narrows the rows.
    QCOMPARE(PeriodSummary::read(*m_db, from, to, u("00"), idle).rows.size(), s.rows.size());
    QCOMPARE(PeriodSummary::read(*m_db, from, to, u("001"), idle).rows.size(), size_t(1));
}

// P1: opening 4 given at 25.00 on 4 January, in 6 at 30.00, 5 out; in
// February in 5 at 31.00, 3 out. P2: opening 2 without a price, in 2 at
// 15.00. January: P1 costs (100.00 + 180.00) / (4 + 6) = 28.00, its
// opening shown among the adjustments at its own 100.00, the issue 140.00;
// P2 costs 30.00 / 2 = 15.00 and its opening is valued at it (30.00).
// February: P1 costs (140.00 + 155.00) / (5 + 5) = 29.50, 3 out 88.50.
void TestPeriodSummary::openingPrice_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("January") << day(1, 1) << day(1, 31)
                             << QStringList{u("P1 0/0.00 6/180.00 5/140.00 0/0.00 0/0.00 0/0.00 "
                                              "4/100.00 5/140.00 28.00"),
                                            u("P2 0/0.00 2/30.00 0/0.00 0/0.00 0/0.00 0/0.00 "
                                              "2/30.00 4/60.00 15.00"),
                                            u(" 0/0.00 8/210.00 5/140.00 0/0.00 0/0.00 0/0.00 "
                                              "6/130.00 9/200.00 无单价")};
    QTest::newRow("February") << day(2, 1) << day(2, 28)
                              << QStringList{u("P1 5/140.00 5/155.00 3/88.50 0/0.00 0/0.00 "
                                               "0/0.00 0/0.00 7/206.50 29.50"),
                                             u("P2 4/60.00 0/0.00 0/0.00 0/0.00 0/0.00 0/0.00 "
                                               "0/0.00 4/60.00 15.00"),
                                             u(" 9/200.00 5/155.00 3/88.50 0/0.00 0/0.00 "
                                               "0/0.00 0/0.00 11/266.50 无单价")};
    QTest::newRow("both") << day(1, 1) << day(2, 28)
                          << QStringList{u("P1 0/0.00 11/335.00 8/228.50 0/0.00 0/0.00 0/0.00 "
                                           "4/100.00 7/206.50 29.50"),
                                         u("P2 0/0.00 2/30.00 0/0.00 0/0.00 0/0.00 0/0.00 "
                                           "2/30.00 4/60.00 15.00"),
                                         u(" 0/0.00 13/365.00 8/228.50 0/0.00 0/0.00 0/0.00 "
                                           "6/130.00 11/266.50 无单价")};
}

void TestPeriodSummary::openingPrice()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QStringList, expected);
    for (const char* c : {"P1", "P2"})
        TableAccess(*m_db, tables::deviceCode, 1).append({u(c), u("设备") + u(c)});
    at(1, 4);
    Stock::StockFigureSet priced{4, 100, 0, 4};
    priced.price = 25;
    QVERIFY(Stock::addStockRow(*m_db, 1, u("P1"), priced, u("王")));
    QVERIFY(Stock::addStockRow(*m_db, 1, u("P2"), {2, 100, 0, 2}, u("王")));
    receive("P1", 1, 12, 6, 30);
    receive("P2", 1, 12, 2, 15);
    issue("P1", 1, 20, 5);
    receive("P1", 2, 5, 5, 31);
    issue("P1", 2, 10, 3);
    at(4, 2);
    QCOMPARE(lines(PeriodSummary::read(*m_db, from, to, u("P"))), expected);
    // The ledger shows the opening at its own price.
    const QStringList opening =
        PeriodSummary::ledgerTexts(PeriodSummary::ledger(*m_db, u("P1"), day(1, 1), day(1, 31)))
            .at(1);
    QCOMPARE((QStringList{opening.at(1), opening.at(3), opening.at(4)}),
             (QStringList{u("期初库存"), u("4"), u("100.00")}));
    QVERIFY(opening.at(2).contains(u("单价：25")));
    // Closed, the months give the same figures and store the opening's value.
    PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    QCOMPARE(lines(PeriodSummary::read(*m_db, from, to, u("P"))), expected);
    QCOMPARE(test::rows(*m_db, u("SELECT adjust_number, adjust_amount, unit_cost FROM "
                                 "DEVICE_PERIOD WHERE period='2026-01' AND code='P1'")),
             (QList<QStringList>{{u("4"), u("100.00"), u("28.00000000")}}));
}

void TestPeriodSummary::monthsChainAndMeetTheStock()
{
    QHash<QString, PeriodFigure> last;
    for (int m = 1; m <= 4; ++m) {
        const PeriodSummaryResult s = summary(day(m, 1), day(m, 1).addMonths(1).addDays(-1));
        for (const PeriodRow& r : s.rows) {
            if (last.contains(r.code)) {
                QCOMPARE(r.opening.number, last[r.code].number);
                QCOMPARE(r.opening.cents, last[r.code].cents);
            }
            QVERIFY(r.balances());
            last[r.code] = r.closing;
        }
    }
    // The last closing is what is on hand.
    const auto stock = test::rows(*m_db, u("SELECT code, now_number FROM DEVICE ORDER BY code"));
    for (const QStringList& row : stock)
        QCOMPARE(QString::number(last.value(row.at(0)).number), row.at(1));
}

void TestPeriodSummary::closedMonthsGiveTheSameFigures()
{
    const QStringList before = lines(summary(day(3, 1), day(3, 31)));
    const QStringList quarter = lines(summary(day(1, 1), day(3, 31)));
    const QStringList days = lines(summary(day(2, 10), day(3, 5)));
    QCOMPARE(PeriodClose::nextToClose(*m_db, day(4, 2)), std::optional(day(1, 1)));
    QCOMPARE(PeriodClose::close(*m_db, 1, u("王"), day(4, 2)), day(1, 1));
    QCOMPARE(PeriodClose::close(*m_db, 2, u("王"), day(4, 2)), day(2, 1));
    QCOMPARE(
        test::rows(*m_db, u("SELECT period, code, close_number, close_amount, "
                            "transfer_in_number, transfer_in_amount, transfer_out_number, "
                            "transfer_out_amount FROM DEVICE_PERIOD WHERE period='2026-02' "
                            "ORDER BY code")),
        (QList<QStringList>{
            {u("2026-02"), u("001"), u("7"), u("761.76"), u("0"), u("0.00"), u("0"), u("0.00")},
            {u("2026-02"), u("002"), u("5"), u("83.33"), u("0"), u("0.00"), u("0"), u("0.00")},
            {u("2026-02"), u("003"), u("3"), u("24.00"), u("2"), u("40.00"), u("0"), u("0.00")}}));
    QCOMPARE(test::rows(*m_db, u("SELECT do_user, do_what FROM HOWDO ORDER BY do_date")),
             (QList<QStringList>{{u("王"), u("月结 2026年1月")}, {u("王"), u("月结 2026年2月")}}));
    QCOMPARE(lines(summary(day(3, 1), day(3, 31))), before);
    QCOMPARE(lines(summary(day(1, 1), day(3, 31))), quarter);
    QCOMPARE(lines(summary(day(2, 10), day(3, 5))), days);
    // March is the next; April is this month and cannot be closed yet.
    QCOMPARE(PeriodClose::close(*m_db, 1, u("王"), day(4, 2)), day(3, 1));
    try {
        PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
        QFAIL("closed this month");
    } catch (const DbError& e) {
        QCOMPARE(e.text(), u("没有可以月结的月份：上月及以前的月份都已月结。"));
    }
    QCOMPARE(PeriodClose::reopen(*m_db, 1, u("张")), day(3, 1));
    QCOMPARE(PeriodClose::lastClosed(*m_db), std::optional(day(2, 1)));
    QCOMPARE(test::rows(*m_db, "SELECT COUNT(*) FROM DEVICE_PERIOD WHERE period=?", {"2026-03"}),
             (QList<QStringList>{{u("0")}}));
    QCOMPARE(test::rows(*m_db, "SELECT do_what FROM HOWDO WHERE do_user=?", {"张"}),
             (QList<QStringList>{{u("反结账 2026年3月")}}));
}

void TestPeriodSummary::ledgerRunsToTheClosing()
{
    const auto text = [](const std::vector<LedgerLine>& ledger) {
        QStringList out;
        for (const LedgerLine& l : ledger)
            out << QStringList{l.time,
                               l.kind,
                               QString::number(l.change.number),
                               centsText(l.change.cents),
                               QString::number(l.balance.number),
                               centsText(l.balance.cents)}
                       .join(u(" "));
        return out;
    };
    const QStringList february{u(" 期初 0 0.00 12 1200.00"),
                               u("2026-02-05 09:00:00 入库 5 650.00 17 1850.00"),
                               u("2026-02-10 10:00:00 出库 -12 -1305.89 5 544.11"),
                               u("2026-02-20 11:00:00 退库 2 217.65 7 761.76")};
    QCOMPARE(text(PeriodSummary::ledger(*m_db, u("001"), day(2, 1), day(2, 28))), february);
    // A transfer in at the sender's cost is valued at it.
    QCOMPARE(
        text(PeriodSummary::ledger(*m_db, u("003"), day(2, 1), day(2, 28))),
        (QStringList{u(" 期初 0 0.00 3 0.00"), u("2026-02-12 10:00:00 出库 -2 -16.00 1 -16.00"),
                     u("2026-02-15 09:00:00 调入 2 40.00 3 24.00")}));
    const QStringList march{u(" 期初 0 0.00 7 761.76"),
                            u("2026-03-15 09:00:00 盘点 -1 -108.82 6 652.94"),
                            u("2026-03-20 10:00:00 出库 -3 -326.47 3 326.47"),
                            u("2026-03-25 09:00:00 调出 -2 -217.65 1 108.82")};
    QCOMPARE(text(PeriodSummary::ledger(*m_db, u("001"), day(3, 1), day(3, 31))), march);
    PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    QCOMPARE(text(PeriodSummary::ledger(*m_db, u("001"), day(3, 1), day(3, 31))), march);
    // Each device's ledger ends at its summary's closing.
    for (const PeriodRow& r : summary(day(1, 1), day(3, 31)).rows) {
        const auto l = PeriodSummary::ledger(*m_db, r.code, day(1, 1), day(3, 31));
        QCOMPARE(l.back().balance.number, r.closing.number);
        QCOMPARE(l.back().balance.cents, r.closing.cents);
    }
}

// On the server another workstation's stock-in in the month being closed
// waits for the close (here: gives up waiting) and is refused after it, so
// that nothing comes between the figures read and those stored.
void TestPeriodSummary::closeHoldsOffWriters()
{
    if (!test::onServer())
        QSKIP("the embedded engine's transaction holds the file's write lock");
    ConnectionPtr other = m_sandbox->open();
    test::exec(*other, u("SET lock_timeout = 300"));
    const QVariantList stockIn{u("001"), u("2026-01-25 09:00:00"), u("甲"), u(""), 5, 100, u("王")};
    QString during;
    PeriodClose::setCloseHook([&] {
        try {
            test::seed(*other, u("DEVICE_IN"), {stockIn});
        } catch (const DbError& e) {
            during = e.text();
        }
    });
    QCOMPARE(PeriodClose::close(*m_db, 1, u("王"), day(4, 2)), day(1, 1));
    QVERIFY2(!during.isEmpty(), "a stock-in was written while the month was being closed");
    QCOMPARE(test::rows(*m_db, u("SELECT close_number, close_amount FROM DEVICE_PERIOD WHERE "
                                 "code = '001' AND period = '2026-01'")),
             (QList<QStringList>{{u("12"), u("1200.00")}}));
    try {
        test::seed(*other, u("DEVICE_IN"), {stockIn});
        QFAIL("a stock-in was written in the closed month");
    } catch (const DbError& e) {
        QVERIFY2(e.text().contains(u("2026年1月已月结")), qPrintable(e.text()));
    }
    QCOMPARE(test::value(*m_db, u("SELECT COUNT(*) FROM DEVICE_IN WHERE code = '001'")), u("2"));
}

void TestPeriodSummary::closedMonthRefusesEveryWrite()
{
    PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    const QString refusal = u("2026年2月已月结，不能录入或修改该月的记录。");
    QCOMPARE(PeriodClose::refusalFor(*m_db, u("2026-2-28 23:59:59")), refusal);
    QCOMPARE(PeriodClose::refusalFor(*m_db, u("2026-3-1")), QString());
    const auto refused = [&](const std::function<void()>& write, const QString& text) {
        try {
            write();
        } catch (const DbError& e) {
            QCOMPARE(e.text(), text);
            return;
        }
        QFAIL("written");
    };
    const TableAccess in(*m_db, tables::deviceIn, 1);
    refused(
        [&] {
            in.append({u("001"), u("2026-2-27 8:0:0"), u(""), u(""), 1, 1, u("")});
        },
        refusal);
    refused([&] { in.remove(in.matching(DeviceInCol::code, u("002"))); },
            u("2026年1月已月结，不能录入或修改该月的记录。"));
    refused(
        [&] {
            in.update(in.matching(DeviceInCol::in_date, u("2026-2-25 9:00:00")), {},
                      [](RowRecord& r) { r.setText(DeviceInCol::provider, u("乙")); });
        },
        refusal);
    const TableAccess out(*m_db, tables::deviceOut, 1);
    refused([&] { out.clear(); }, u("2026年1月已月结，不能录入或修改该月的记录。"));
    refused(
        [&] {
            in.appendRows([n = 0](QVariantList& v) mutable {
                v = {u("001"), n == 0 ? u("2026-3-2") : u("2026-1-2"), u(""), u(""), 1, 1, u("")};
                return n++ < 2;
            });
        },
        u("2026年1月已月结，不能录入或修改该月的记录。"));
    // An import of a stock-in list with a row of February writes nothing.
    {
        TableImport import(tables::deviceIn);
        QStringList headings;
        for (int c = 0; c < int(schema::DeviceIn.columns.size()); ++c)
            headings << import.columnHeading(c);
        const QString path = m_sandbox->dataDir() + u("/in.csv");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write((headings.join(u(",")) + u("\r\n001,2026-3-30 8:00:00,甲,,1,1,\r\n") +
                    u("001,2026-2-27 8:00:00,甲,,1,1,\r\n"))
                       .toUtf8());
        file.close();
        import.open(path);
        QVERIFY(import.check(*m_db));
        QCOMPARE(test::failureText([&] { import.write(*m_db, 1, u("王")); }), refusal);
        QCOMPARE(test::rows(*m_db, u("SELECT COUNT(*) FROM DEVICE_IN")),
                 (QList<QStringList>{{u("4")}}));
    }
    // The database itself refuses what any other tool writes.
    const bool server = m_db->engine() == Engine::Postgres;
    for (const char* sql :
         {"INSERT INTO DEVICE_IN(code,in_date,in_number) VALUES('001','2026-2-3 8:0:0',1)",
          "INSERT INTO DEVICE_IN(code,in_date,in_number) VALUES('001','2026-02-03 08:00:00',1)",
          "UPDATE DEVICE_OUT SET out_number=1", "DELETE FROM DEVICE_RETURN",
          "UPDATE DEVICE_ADJUST SET adjust_time='2026-01-01 00:00:00' WHERE reason='盘点'"}) {
        try {
            m_db->executeWith(u(sql), {});
            QFAIL(sql);
        } catch (const DbError& e) {
            QVERIFY2(e.text().contains(server ? u("已月结") : schema::closedMonthRefusal()),
                     qPrintable(e.text()));
        }
    }
    // March stays open; after the reopening February is open again.
    in.append({u("001"), u("2026-3-31 8:0:0"), u(""), u(""), 1, 1, u("")});
    PeriodClose::reopen(*m_db, 1, u("王"));
    in.append({u("001"), u("2026-2-27 8:0:0"), u(""), u(""), 1, 1, u("")});
    m_db->executeWith(u("DELETE FROM DEVICE_IN WHERE in_date >= ") +
                          (server ? u("CAST(? AS TIMESTAMP)") : u("?")),
                      {u("2026-02-27 00:00:00")});
    refused(
        [&] {
            in.append({u("001"), u("2026-1-27 8:0:0"), u(""), u(""), 1, 1, u("")});
        },
        u("2026年1月已月结，不能录入或修改该月的记录。"));
}

void TestPeriodSummary::classRules()
{
    QCOMPARE(PeriodClose::mayClose(1), QString());
    QCOMPARE(PeriodClose::mayClose(2), QString());
    QCOMPARE(PeriodClose::mayClose(3), u("只有一级和二级用户才能月结。"));
    QCOMPARE(PeriodClose::mayReopen(2), u("只有一级用户才能反结账。"));
    QVERIFY_THROWS_EXCEPTION(DbError, PeriodClose::close(*m_db, 3, u("王"), day(4, 2)));
    PeriodClose::close(*m_db, 2, u("王"), day(4, 2));
    QVERIFY_THROWS_EXCEPTION(DbError, PeriodClose::reopen(*m_db, 2, u("王")));
    QVERIFY_THROWS_EXCEPTION(DbError, PeriodClose::reopen(*m_db, 3, u("王")));
    QCOMPARE(PeriodClose::lastClosed(*m_db), std::optional(day(1, 1)));
}

// The reconciliation gives the same rows when the closed months' movements
// come from their stored figures: devices received, issued and given back,
// one before the first adjustment in its month, one moved without a stock
// row; the first adjustment in a closed month, after them, or none.
void TestPeriodSummary::reconcileFromClosing_data()
{
    QTest::addColumn<int>("adjustedIn");
    QTest::newRow("first adjustment in a closed month") << 1;
    QTest::newRow("first adjustment after the closed months") << 4;
    QTest::newRow("no adjustment") << 0;
}

void TestPeriodSummary::reconcileFromClosing()
{
    QFETCH(int, adjustedIn);
    // The quarter's stock, movements and adjustments go: this one has its own.
    for (const char* table :
         {"DEVICE", "DEVICE_IN", "DEVICE_OUT", "DEVICE_RETURN", "DEVICE_ADJUST"})
        m_db->remove({u(table), {}, {}});
    const auto opening = [this](const char* code) {
        QVERIFY(Stock::addStockRow(*m_db, 1, u(code), {3, 100, 0, 3}, u("王")));
    };
    receive("008", 1, 1, 2, 30);
    if (adjustedIn == 1) {
        at(1, 2);
        opening("007");
    }
    receive("005", 1, 10, 10, 20);
    issue("005", 2, 3, 3);
    receive("006", 2, 4, 2, 0);
    giveBack("005", 3, 5, 1);
    if (adjustedIn == 4) {
        at(4, 1);
        opening("007");
    }
    receive("005", 4, 1, 1, 20);
    at(4, 2);
    const auto texts = [this] {
        QStringList out;
        for (const LedgerRow& r : StockLedger::reconcile(*m_db))
            out << QStringList{r.code,
                               QString::number(r.ledger()),
                               QString::number(r.takenIn()),
                               QString::number(r.stockIn),
                               QString::number(r.stockOut),
                               QString::number(r.returned),
                               QString::number(r.hasMovements),
                               QString::number(r.predatesAdjustments),
                               r.problem()}
                       .join(u(" "));
        return out;
    };
    const QStringList before = texts();
    QCOMPARE(before.size(), adjustedIn ? 8 : 7); // with the catalogue's four
    for (int month = 1; month <= 3; ++month)
        PeriodClose::close(*m_db, 1, u("王"), day(4, 2));
    QCOMPARE(PeriodClose::lastClosed(*m_db), std::optional<QDate>(day(3, 1)));
    QCOMPARE(texts(), before);
}

QTEST_GUILESS_MAIN(TestPeriodSummary)
#include "tst_periodsummary.moc"

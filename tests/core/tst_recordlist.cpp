// The record list: reverse order, "%f" numbers, rows kept after a failure
// part-way, the model contract, and long lists read in windows showing
// what a whole read shows.
#include "core/RecordListModel.h"
#include "core/Tables.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace vok;

namespace {

// The stock-in browser's own list columns.
std::vector<RecordListModel::Column> deviceInColumns()
{
    return tables::deviceIn.listColumns();
}

// A result that gives some rows of two columns and then fails.
class FailingRows : public RowSet
{
public:
    FailingRows(int good) : m_good(good) {}
    bool next() override
    {
        if (++m_row > m_good)
            throw DbError(DbError::Kind::Engine, QStringLiteral("磁盘错误"));
        m_text = QByteArray::number(m_row);
        return true;
    }
    int columnCount() const override { return 2; }
    QString columnName(int c) const override
    {
        return c ? QStringLiteral("n") : QStringLiteral("code");
    }
    bool isNull(int) const override { return false; }
    QString text(int c) const override
    {
        return c ? QString::number(m_row) : QString::fromUtf8(m_text);
    }
    double number(int) const override { return m_row * 1.5; }
    QVariant value(int c) const override { return text(c); }
    bool isNumber(int c) const override { return c == 1; }
    QByteArrayView utf8(int) const override { return m_text; }

private:
    int m_good;
    int m_row = 0;
    QByteArray m_text;
};

} // namespace

class TestRecordList : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup()
    {
        RecordListModel::setDefaultWindowRows(256);
        m_sandbox.reset();
    }

    void reverseOrderAndFormats();
    void longAndOddTexts();
    void failurePartWayKeepsRows();
    void failingSelectLeavesEmpty();
    void refillReplaces();
    void windowsShowTheWholeRead_data();
    void windowsShowTheWholeRead();
    void rowAddedElsewhereAppearsAfterRefill();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestRecordList::reverseOrderAndFormats()
{
    auto c = m_sandbox->open();
    test::seed(*c, "DEVICE_IN",
               {{"1", "2004-1-5 9:3:7", "O'Brien", "123", 2.5, 9.9, "王"},
                {"2", "2004-10-1 0:0:0", "公司", "456", 12, 0.1, "李"},
                {"3", "2004-9-30 23:59:59", {}, "", 10000, 1, ""}});
    RecordListModel m(deviceInColumns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.fill(*c, TableRows{"DEVICE_IN"});

    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.columnCount(), 7);
    QCOMPARE(m.headerData(5, Qt::Horizontal).toString(), QStringLiteral("价格"));
    // The row read last stands at the top.
    QCOMPARE(m.rowTexts(0),
             (QStringList{"3", "2004-09-30 23:59:59", "", "", "10000.000000", "1.000000", ""}));
    QCOMPARE(m.rowTexts(1), (QStringList{"2", "2004-10-01 00:00:00", "公司", "456", "12.000000",
                                         "0.100000", "李"}));
    QCOMPARE(m.rowTexts(2), (QStringList{"1", "2004-01-05 09:03:07", "O'Brien", "123", "2.500000",
                                         "9.900000", "王"}));
    QCOMPARE(m.data(m.index(2, 5)).toString(), QStringLiteral("9.900000"));
    QVERIFY(!m.data(m.index(0, 0), Qt::DecorationRole).isValid());
    QCOMPARE(m.text(3, 0), QString());
}

void TestRecordList::longAndOddTexts()
{
    auto c = m_sandbox->open();
    const QString longText(300, QChar(0x4E2D));
    c->append(QStringLiteral("DEVICE_IN"),
              {"code", "in_date", "provider", "teleno", "in_number", "price", "buyer"},
              {QStringLiteral("7"), QStringLiteral("2004-1-1 1:1:1"), longText, QString(), 3.0f,
               4.0f, QStringLiteral("b")});
    // A number in a text column is listed as its text.
    test::seed(*c, "DEVICE_IN", {{42, "2004-1-2 1:1:1", "p", 5, 1, 2, "x"}});
    RecordListModel m(deviceInColumns());
    m.fill(*c, TableRows{"DEVICE_IN"});
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(m.text(1, 2), longText);
    QCOMPARE(m.text(1, 6), QStringLiteral("b"));
    QCOMPARE(m.text(0, 0), QStringLiteral("42"));
    QCOMPARE(m.text(0, 3), QStringLiteral("5"));
}

void TestRecordList::failurePartWayKeepsRows()
{
    RecordListModel m(
        {{QStringLiteral("a"), ListColumn::Text}, {QStringLiteral("b"), ListColumn::Single}});
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    FailingRows rows(3);
    bool thrown = false;
    try {
        m.fill(rows);
    } catch (const DbError& e) {
        thrown = true;
        QCOMPARE(e.text(), QStringLiteral("磁盘错误"));
    }
    QVERIFY(thrown);
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.rowTexts(0), (QStringList{"3", "4.500000"}));
    QCOMPARE(m.rowTexts(2), (QStringList{"1", "1.500000"}));
}

void TestRecordList::failingSelectLeavesEmpty()
{
    auto c = m_sandbox->open();
    test::seed(*c, "DEVICE_IN", {{"1", "2004-1-5 9:3:7", "a", "1", 1, 1, "b"}});
    RecordListModel m(deviceInColumns());
    m.fill(*c, TableRows{"DEVICE_IN"});
    QCOMPARE(m.rowCount(), 1);
    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    QVERIFY_THROWS_EXCEPTION(DbError, m.fill(*c, TableRows()));
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(reset.count(), 1);
}

void TestRecordList::refillReplaces()
{
    auto c = m_sandbox->open();
    for (int i = 1; i <= 2000; ++i)
        c->append(QStringLiteral("DEVICE_IN"), {"code", "in_date", "in_number", "price"},
                  {QString::number(i), QStringLiteral("2004-1-1 1:1:1"), float(i), 1.0f});
    RecordListModel m(deviceInColumns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.fill(*c, TableRows{"DEVICE_IN"});
    // The first window at once, the count apart.
    QCOMPARE(m.text(0, 0), QStringLiteral("2000"));
    QTRY_COMPARE(m.rowCount(), 2000);
    QCOMPARE(m.text(1999, 4), QStringLiteral("1.000000"));
    m.fill(*c, TableRows{"DEVICE_IN", SqlText("in_number<3")});
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(m.text(0, 0), QStringLiteral("2"));
    m.clear();
    QCOMPARE(m.rowCount(), 0);
}

namespace {

// n rows of DEVICE_IN in one transaction; every third has the provider 甲
// and the texts vary in length (a long one every 100th row).
void addRows(Connection& c, int n)
{
    Transaction t(c);
    for (int i = 1; i <= n; ++i)
        c.append(QStringLiteral("DEVICE_IN"),
                 {"code", "in_date", "provider", "in_number", "price", "buyer"},
                 {QString::number(i), QStringLiteral("2004-1-%1 1:2:3").arg(1 + i % 28),
                  i % 3 ? QStringLiteral("厂%1").arg(i) : QStringLiteral("甲"), float(i) / 4, 1.5f,
                  i % 100 ? QString() : QString(300, QChar(0x4E2D))});
    t.commit();
}

// Every row of a list in a reading order: each row's texts and identity.
QStringList readAll(const RecordListModel& m, const QString& order)
{
    const int n = m.rowCount();
    std::vector<int> rows;
    if (order == QLatin1String("down")) {
        for (int r = 0; r < n; ++r)
            rows.push_back(r);
    } else if (order == QLatin1String("up")) {
        for (int r = n - 1; r >= 0; --r)
            rows.push_back(r);
    } else {
        // Jumps: the end, the middle, then back and forth from there.
        rows = {n - 1, n / 2};
        for (int d = 1; d < n; ++d)
            for (int r : {n / 2 + d, n / 2 - d})
                if (r >= 0 && r < n)
                    rows.push_back(r);
    }
    QStringList out(n);
    for (int r : rows)
        out[r] =
            m.rowTexts(r).join(QLatin1Char('|')) + QLatin1Char('#') + QString::number(m.rowId(r));
    return out;
}

} // namespace

void TestRecordList::windowsShowTheWholeRead_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<SqlText>("condition");
    QTest::addColumn<QString>("order");
    QTest::newRow("7 rows, top down") << 7 << SqlText() << "down";
    QTest::newRow("7 rows, bottom up") << 7 << SqlText() << "up";
    QTest::newRow("64 rows, jumps") << 64 << SqlText() << "jumps";
    QTest::newRow("one row, jumps") << 1 << SqlText() << "jumps";
    QTest::newRow("query, 10 rows, jumps") << 10 << SqlText("provider=?") << "jumps";
    QTest::newRow("query, 10 rows, bottom up") << 10 << SqlText("provider=?") << "up";
    QTest::newRow("window larger than the list") << 5000 << SqlText() << "jumps";
}

void TestRecordList::windowsShowTheWholeRead()
{
    QFETCH(int, window);
    QFETCH(SqlText, condition);
    QFETCH(QString, order);
    auto c = m_sandbox->open();
    addRows(*c, 3000);
    const TableRows rows = condition.isEmpty()
                               ? TableRows{"DEVICE_IN"}
                               : TableRows{"DEVICE_IN", condition, {QStringLiteral("甲")}};

    RecordListModel whole(deviceInColumns());
    auto all = c->select(rows, true);
    whole.fill(*all);
    QCOMPARE(whole.rowCount(), condition.isEmpty() ? 3000 : 1000);

    RecordListModel::setDefaultWindowRows(window);
    RecordListModel m(deviceInColumns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.fill(*c, rows);
    QCOMPARE(m.rowTexts(0), whole.rowTexts(0));
    QTRY_VERIFY(m.isCounted());
    QCOMPARE(m.rowCount(), whole.rowCount());
    QCOMPARE(readAll(m, order), readAll(whole, QStringLiteral("down")));
}

void TestRecordList::rowAddedElsewhereAppearsAfterRefill()
{
    auto c = m_sandbox->open();
    addRows(*c, 100);
    RecordListModel::setDefaultWindowRows(8);
    RecordListModel m(deviceInColumns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.fill(*c, TableRows{"DEVICE_IN"});
    QTRY_VERIFY(m.isCounted());
    const QStringList before = readAll(m, QStringLiteral("up"));

    // Another workstation adds a row: the list shows what was there when
    // it was filled, whatever window is read again.
    auto other = m_sandbox->open();
    other->append(QStringLiteral("DEVICE_IN"), {"code", "in_date", "provider"},
                  {QStringLiteral("新"), QStringLiteral("2005-1-1 0:0:0"), QStringLiteral("乙")});
    QCOMPARE(m.rowCount(), 100);
    QCOMPARE(readAll(m, QStringLiteral("jumps")), before);

    m.fill(*c, TableRows{"DEVICE_IN"});
    QTRY_VERIFY(m.isCounted());
    QCOMPARE(m.rowCount(), 101);
    QCOMPARE(m.text(0, 0), QStringLiteral("新"));
    QCOMPARE(readAll(m, QStringLiteral("down")).mid(1), before);
}

QTEST_MAIN(TestRecordList)
#include "tst_recordlist.moc"

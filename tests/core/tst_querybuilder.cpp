// The query builder: every condition form, the integer reading of number
// values, and values that must stay plain text or be refused.
#include "core/QueryField.h"
#include "db/DbError.h"

#include <QTest>

using namespace vok;

namespace {

constexpr QueryField kTable[] = {
    {u"设备号c", u"code", u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'"},
    {u"入库时间c", u"in_date", u"SELECT * FROM DEVICE_IN WHERE %s%s#%s#"},
    {u"数量d", u"in_number", u"SELECT * FROM DEVICE_IN WHERE %s%s%d"},
};

} // namespace

class TestQueryBuilder : public QObject
{
    Q_OBJECT
private slots:
    void compose_data();
    void compose();
    void refused_data();
    void refused();
    void leadingInteger_data();
    void leadingInteger();
};

void TestQueryBuilder::compose_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("sql");
    QTest::newRow("text") << "设备号c"
                          << "<>"
                          << "abc"
                          << "SELECT * FROM DEVICE_IN WHERE code<>'abc'";
    QTest::newRow("text with quotes stays text")
        << "设备号c"
        << "="
        << "x' OR '1'='1"
        << "SELECT * FROM DEVICE_IN WHERE code='x'' OR ''1''=''1'";
    QTest::newRow("date") << "入库时间c"
                          << ">="
                          << "2004-1-5 9:3:7"
                          << "SELECT * FROM DEVICE_IN WHERE in_date>=#2004-01-05 09:03:07#";
    QTest::newRow("number") << "数量d"
                            << ">"
                            << "5"
                            << "SELECT * FROM DEVICE_IN WHERE in_number>5";
    QTest::newRow("number fraction dropped") << "数量d"
                                             << "="
                                             << " 9.9"
                                             << "SELECT * FROM DEVICE_IN WHERE in_number=9";
    QTest::newRow("number not a number") << "数量d"
                                         << "<"
                                         << "abc"
                                         << "SELECT * FROM DEVICE_IN WHERE in_number<0";
    QTest::newRow("no match: letter differs") << "设备号d"
                                              << "="
                                              << "1"
                                              << "";
    QTest::newRow("no match: empty field") << ""
                                           << "="
                                           << "1"
                                           << "";
}

void TestQueryBuilder::compose()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QFETCH(QString, sql);
    QCOMPARE(composeQuery(kTable, field, op, value), sql);
}

void TestQueryBuilder::refused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::newRow("!=") << "设备号c"
                        << "!="
                        << "1";
    QTest::newRow("empty operator") << "数量d"
                                    << ""
                                    << "1";
    QTest::newRow("operator with SQL") << "数量d"
                                       << "=1 OR 1="
                                       << "1";
    QTest::newRow("date not a date") << "入库时间c"
                                     << "="
                                     << "x# OR 1=1 OR #";
    QTest::newRow("empty date") << "入库时间c"
                                << "="
                                << "";
}

void TestQueryBuilder::refused()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QVERIFY_THROWS_EXCEPTION(DbError, composeQuery(kTable, field, op, value));
}

void TestQueryBuilder::leadingInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "12" << 12;
    QTest::newRow("fraction") << "12.5" << 12;
    QTest::newRow("blanks and sign") << "  -7x" << -7;
    QTest::newRow("plus") << "+3" << 3;
    QTest::newRow("none") << "x12" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("zero padded") << "0012" << 12;
    QTest::newRow("too large") << "99999999999" << 2147483647;
    QTest::newRow("too small") << "-99999999999" << int(-2147483647 - 1);
}

void TestQueryBuilder::leadingInteger()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(vok::leadingInteger(text), value);
}

QTEST_APPLESS_MAIN(TestQueryBuilder)
#include "tst_querybuilder.moc"

// The query builder: every condition form, the integer reading of number
// values, and values that must stay plain text or be refused.
#include "core/QueryField.h"
#include "db/DbError.h"

#include <QTest>

using namespace vok;

namespace {

constexpr QueryField kTable[] = {
    {u"设备号c", u"code", QueryForm::Text},
    {u"入库时间c", u"in_date", QueryForm::Date},
    {u"数量d", u"in_number", QueryForm::Number},
    {u"用户c", u"user", QueryForm::Text},
};

std::optional<TableRows> compose(const QString& field, const QString& op, const QString& value,
                                 Engine engine = Engine::Sqlite)
{
    return composeQuery(QStringLiteral("DEVICE_IN"), kTable, field, op, value, engine);
}

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
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("condition"); // empty: no query field matches
    QTest::addColumn<QVariant>("bound");
    const int lite = int(Engine::Sqlite);
    const int pg = int(Engine::Postgres);
    QTest::newRow("text") << "设备号c"
                          << "<>"
                          << "abc" << lite << "code<>?" << QVariant("abc");
    QTest::newRow("text with quotes stays one value")
        << "设备号c"
        << "="
        << "x' OR '1'='1" << lite << "code=?" << QVariant("x' OR '1'='1");
    QTest::newRow("date normalised")
        << "入库时间c"
        << ">="
        << "2004-1-5 9:3:7" << lite << "in_date>=?" << QVariant("2004-01-05 09:03:07");
    QTest::newRow("date on the server")
        << "入库时间c"
        << "<"
        << "2004-1-5" << pg << "in_date<CAST(? AS TIMESTAMP)" << QVariant("2004-01-05 00:00:00");
    QTest::newRow("user quoted on the server") << "用户c"
                                               << "="
                                               << "x" << pg << "\"user\"=?" << QVariant("x");
    QTest::newRow("number") << "数量d"
                            << ">"
                            << "5" << lite << "in_number>?" << QVariant(5);
    QTest::newRow("number fraction dropped") << "数量d"
                                             << "="
                                             << " 9.9" << lite << "in_number=?" << QVariant(9);
    QTest::newRow("number not a number") << "数量d"
                                         << "<"
                                         << "abc" << lite << "in_number<?" << QVariant(0);
    QTest::newRow("number at most") << "数量d"
                                    << "<="
                                    << "7" << lite << "in_number<=?" << QVariant(7);
    QTest::newRow("no match: letter differs") << "设备号d"
                                              << "="
                                              << "1" << lite << "" << QVariant();
    QTest::newRow("no match: empty field") << ""
                                           << "="
                                           << "1" << lite << "" << QVariant();
}

void TestQueryBuilder::compose()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QFETCH(int, engine);
    QFETCH(QString, condition);
    QFETCH(QVariant, bound);
    const auto rows = ::compose(field, op, value, Engine(engine));
    QCOMPARE(rows.has_value(), !condition.isEmpty());
    if (!rows)
        return;
    QCOMPARE(rows->table, QStringLiteral("DEVICE_IN"));
    QCOMPARE(rows->condition.toString(), condition);
    QCOMPARE(rows->values, QVariantList{bound});
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
    QVERIFY_THROWS_EXCEPTION(DbError, ::compose(field, op, value));
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

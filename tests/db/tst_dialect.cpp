#include "db/DbError.h"
#include "db/Dialect.h"
#include "db/SqlFormat.h"

#include <QTest>

using namespace vok;

class TestDialect : public QObject
{
    Q_OBJECT
private slots:
    void translate_data();
    void translate();
    void badDateLiteral_data();
    void badDateLiteral();
    void parseDates_data();
    void parseDates();
    void singleStatement_data();
    void singleStatement();
    void plainSelect_data();
    void plainSelect();
    void safeComposition();
    void unsafeValuesRefused();
};

void TestDialect::translate_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("sqlite");
    QTest::addColumn<QString>("postgres");

    QTest::newRow("date literal, unpadded")
        << "DELETE FROM DEVICE_IN WHERE in_date=#2004-1-5 9:3:7#"
        << "DELETE FROM DEVICE_IN WHERE in_date='2004-01-05 09:03:07'"
        << "DELETE FROM DEVICE_IN WHERE in_date=TIMESTAMP '2004-01-05 09:03:07'";
    QTest::newRow("date only")
        << "SELECT * FROM DEVICE_IN WHERE in_date<#2004-10-1#"
        << "SELECT * FROM DEVICE_IN WHERE in_date<'2004-10-01 00:00:00'"
        << "SELECT * FROM DEVICE_IN WHERE in_date<TIMESTAMP '2004-10-01 00:00:00'";
    QTest::newRow("hash inside quoted text stays")
        << "SELECT * FROM DEVICE_IN WHERE provider='#1#'"
        << "SELECT * FROM DEVICE_IN WHERE provider='#1#'"
        << "SELECT * FROM DEVICE_IN WHERE provider='#1#'";
    QTest::newRow("delete star") << "DELETE * FROM HOWDO"
                                 << "DELETE FROM HOWDO"
                                 << "DELETE FROM HOWDO";
    QTest::newRow("delete star, lower case and blanks") << "delete  *  from device"
                                                        << "delete from device"
                                                        << "delete from device";
    QTest::newRow("user table and column")
        << "SELECT * FROM user where user='a'AND pswd='b'"
        << "SELECT * FROM user where user='a'AND pswd='b'"
        << "SELECT * FROM \"user\" where \"user\"='a'AND pswd='b'";
    QTest::newRow("user inside a text or a longer name stays")
        << "SELECT * FROM HOWDO WHERE do_user='user'"
        << "SELECT * FROM HOWDO WHERE do_user='user'"
        << "SELECT * FROM HOWDO WHERE do_user='user'";
    QTest::newRow("doubled quote") << "SELECT * FROM DEVICE_IN WHERE provider='O''Brien #x#'"
                                   << "SELECT * FROM DEVICE_IN WHERE provider='O''Brien #x#'"
                                   << "SELECT * FROM DEVICE_IN WHERE provider='O''Brien #x#'";
}

void TestDialect::translate()
{
    QFETCH(QString, sql);
    QFETCH(QString, sqlite);
    QFETCH(QString, postgres);
    QCOMPARE(translateSql(sql, Engine::Sqlite), sqlite);
    QCOMPARE(translateSql(sql, Engine::Postgres), postgres);
}

void TestDialect::badDateLiteral_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("not a date") << "SELECT * FROM DEVICE_IN WHERE in_date=#abc#";
    QTest::newRow("injection attempt") << "SELECT * FROM DEVICE_IN WHERE in_date=#1' OR '1'='1#";
    QTest::newRow("unclosed") << "SELECT * FROM DEVICE_IN WHERE in_date=#2004-1-1";
    QTest::newRow("February 30") << "SELECT * FROM DEVICE_IN WHERE in_date=#2004-2-30#";
}

void TestDialect::badDateLiteral()
{
    QFETCH(QString, sql);
    QVERIFY_THROWS_EXCEPTION(DbError, translateSql(sql, Engine::Sqlite));
}

void TestDialect::parseDates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normalized"); // empty: not a date
    QTest::newRow("unpadded") << "2004-1-5 9:3:7"
                              << "2004-01-05 09:03:07";
    QTest::newRow("padded") << "2004-01-05 09:03:07"
                            << "2004-01-05 09:03:07";
    QTest::newRow("date") << "2004-12-31"
                          << "2004-12-31";
    QTest::newRow("slashes") << "2004/1/5"
                             << "2004-01-05";
    QTest::newRow("no seconds") << "2004-1-5 9:3"
                                << "2004-01-05 09:03:00";
    QTest::newRow("midnight") << "2004-1-1 0:0:0"
                              << "2004-01-01 00:00:00";
    QTest::newRow("blanks around") << "  2004-1-5  "
                                   << "2004-01-05";
    QTest::newRow("hour 24") << "2004-1-5 24:0:0"
                             << "";
    QTest::newRow("month 13") << "2004-13-1"
                              << "";
    QTest::newRow("trailing text") << "2004-1-5x"
                                   << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("number") << "9"
                            << "";
}

void TestDialect::parseDates()
{
    QFETCH(QString, text);
    QFETCH(QString, normalized);
    const auto dt = parseDateTime(text);
    QCOMPARE(dt ? dt->normalized() : QString(), normalized);
}

void TestDialect::singleStatement_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("single"); // empty: refused
    QTest::newRow("trailing semicolon dropped") << "DELETE FROM HOWDO; "
                                                << "DELETE FROM HOWDO";
    QTest::newRow("semicolon in a text") << "SELECT * FROM HOWDO WHERE do_what='a;b'"
                                         << "SELECT * FROM HOWDO WHERE do_what='a;b'";
    QTest::newRow("semicolon in a quoted name") << "SELECT \"a;b\" FROM x;"
                                                << "SELECT \"a;b\" FROM x";
    QTest::newRow("comment after the end") << "SELECT 1; -- done\n"
                                           << "SELECT 1";
    QTest::newRow("semicolon in a comment") << "SELECT 1 /* a; b */ FROM x"
                                            << "SELECT 1 /* a; b */ FROM x";
    QTest::newRow("second statement") << "DELETE FROM HOWDO; DROP TABLE user"
                                      << "";
    QTest::newRow("second statement after a text") << "SELECT 'a;'; DELETE FROM x"
                                                   << "";
    QTest::newRow("nested comment") << "SELECT 1 /* a /* b */ ; DELETE FROM x */"
                                    << "";
    QTest::newRow("unterminated text left to the server") << "SELECT 'a; DELETE FROM x"
                                                          << "SELECT 'a; DELETE FROM x";
}

void TestDialect::singleStatement()
{
    QFETCH(QString, sql);
    QFETCH(QString, single);
    if (single.isEmpty())
        QVERIFY_THROWS_EXCEPTION(DbError, vok::singleStatement(sql));
    else
        QCOMPARE(vok::singleStatement(sql), single);
}

void TestDialect::plainSelect_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("blanked");
    QTest::addColumn<QString>("table"); // empty: not a plain SELECT *
    QTest::newRow("whole table") << "SELECT * FROM DEVICE_IN"
                                 << "SELECT * FROM DEVICE_IN"
                                 << "DEVICE_IN";
    QTest::newRow("clause words inside texts")
        << "select * from device_in where provider='ORDER BY x' AND buyer=\"LIMIT\""
        << "select * from device_in where provider='          ' AND buyer=\"     \""
        << "device_in";
    QTest::newRow("user quoted") << "SELECT * FROM \"user\" WHERE \"user\"='a'"
                                 << "SELECT * FROM \"    \" WHERE \"    \"=' '"
                                 << "\"user\"";
    QTest::newRow("other quoted name") << "SELECT * FROM \"Device\""
                                       << "SELECT * FROM \"      \""
                                       << "";
    QTest::newRow("own order") << "SELECT * FROM HOWDO ORDER BY do_time"
                               << "SELECT * FROM HOWDO ORDER BY do_time"
                               << "";
    QTest::newRow("locking") << "SELECT * FROM DEVICE WHERE code='1' FOR UPDATE"
                             << "SELECT * FROM DEVICE WHERE code=' ' FOR UPDATE"
                             << "";
    QTest::newRow("two tables") << "SELECT * FROM DEVICE, DEVICE_IN"
                                << "SELECT * FROM DEVICE, DEVICE_IN"
                                << "";
    QTest::newRow("columns") << "SELECT code FROM DEVICE"
                             << "SELECT code FROM DEVICE"
                             << "";
    QTest::newRow("comment") << "SELECT * FROM DEVICE -- x"
                             << ""
                             << "";
    QTest::newRow("unterminated text") << "SELECT * FROM DEVICE WHERE code='1"
                                       << ""
                                       << "";
}

void TestDialect::plainSelect()
{
    QFETCH(QString, sql);
    QFETCH(QString, blanked);
    QFETCH(QString, table);
    QCOMPARE(blankQuoted(sql), blanked);
    QCOMPARE(plainSelectTable(sql), table);
}

void TestDialect::safeComposition()
{
    QCOMPARE(sqlFormat(u"SELECT * FROM DEVICE WHERE code='%s'", {SqlArg::text("O'Brien")}),
             QString("SELECT * FROM DEVICE WHERE code='O''Brien'"));
    QCOMPARE(sqlFormat(u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'",
                       {SqlArg::name("provider"), SqlArg::op("<>"), SqlArg::text("x' OR '1'='1")}),
             QString("SELECT * FROM DEVICE_IN WHERE provider<>'x'' OR ''1''=''1'"));
    QCOMPARE(sqlFormat(u"SELECT * FROM DEVICE_IN WHERE %s%s%d",
                       {SqlArg::name("price"), SqlArg::op(">="), 9}),
             QString("SELECT * FROM DEVICE_IN WHERE price>=9"));
    QCOMPARE(sqlFormat(u"SELECT * FROM DEVICE_IN WHERE %s%s#%s#",
                       {SqlArg::name("in_date"), SqlArg::op("="), SqlArg::date("2004-1-5 9:3:7")}),
             QString("SELECT * FROM DEVICE_IN WHERE in_date=#2004-01-05 09:03:07#"));
    QCOMPARE(sqlFormat(u"%d%%", {100}), QString("100%"));
}

void TestDialect::unsafeValuesRefused()
{
    for (const char* op : {"LIKE", "= 1 OR 1=", "", "=="})
        QVERIFY_THROWS_EXCEPTION(DbError, SqlArg::op(QString::fromLatin1(op)));
    for (const char* d : {"2004-1-5# OR #1", "yesterday", "2004-1-5 9:3:7 OR 1=1"})
        QVERIFY_THROWS_EXCEPTION(DbError, SqlArg::date(QString::fromLatin1(d)));
    for (const char* n : {"code;DROP", "a b", "1abc", ""})
        QVERIFY_THROWS_EXCEPTION(DbError, SqlArg::name(QString::fromLatin1(n)));
    try {
        SqlArg::op(QStringLiteral("LIKE"));
    } catch (const DbError& e) {
        QCOMPARE(e.text(), QStringLiteral("“LIKE”不是有效的比较运算符。"));
    }
}

QTEST_GUILESS_MAIN(TestDialect)
#include "tst_dialect.moc"

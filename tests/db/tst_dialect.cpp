#include "db/DbError.h"
#include "db/Dialect.h"
#include "db/SqlText.h"

#include <QTest>

using namespace vok;

class TestDialect : public QObject
{
    Q_OBJECT
private slots:
    void engineNames_data();
    void engineNames();
    void parseDates_data();
    void parseDates();
    void singleStatement_data();
    void singleStatement();
    void composedSql_data();
    void composedSql();
    void refusedName_data();
    void refusedName();
};

void TestDialect::engineNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("sqlite");
    QTest::addColumn<QString>("postgres");
    // An unquoted user is the session's login name on the server.
    QTest::newRow("user") << "user"
                          << "user"
                          << "\"user\"";
    QTest::newRow("user, upper case") << "USER"
                                      << "USER"
                                      << "\"user\"";
    QTest::newRow("longer name") << "do_user"
                                 << "do_user"
                                 << "do_user";
    QTest::newRow("table") << "DEVICE_IN"
                           << "DEVICE_IN"
                           << "DEVICE_IN";
}

void TestDialect::engineNames()
{
    QFETCH(QString, name);
    QFETCH(QString, sqlite);
    QFETCH(QString, postgres);
    QCOMPARE(quoteIdentifier(name, Engine::Sqlite), sqlite);
    QCOMPARE(quoteIdentifier(name, Engine::Postgres), postgres);
    QCOMPARE(dateParameter(Engine::Sqlite), QStringLiteral("?"));
    QCOMPARE(dateParameter(Engine::Postgres), QStringLiteral("CAST(? AS TIMESTAMP)"));
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
    QTest::newRow("February 30") << "2004-2-30"
                                 << "";
    QTest::newRow("injection attempt") << "1' OR '1'='1"
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

void TestDialect::composedSql_data()
{
    QTest::addColumn<QString>("made");
    QTest::addColumn<QString>("sql");
    const QList<SqlText> columns{SqlText::name(u"code"), SqlText::name(u"user", Engine::Postgres)};
    QTest::newRow("list") << SqlText::compose("INSERT INTO %1 (%2) VALUES (%3)",
                                              {SqlText::name(u"DEVICE"),
                                               SqlText::joined(columns, ","), SqlText::markers(2)})
                                 .toString()
                          << "INSERT INTO DEVICE (code,\"user\") VALUES (?,?)";
    const SqlText inner = SqlText::compose("SUM(%1)", {SqlText::name(u"now_number")});
    QTest::newRow("nested fragment, a % kept")
        << SqlText::compose("SELECT %1 FROM %2 WHERE (n - 1) % ? = %3",
                            {inner, SqlText::name(u"DEVICE"), SqlText::number(0)})
               .toString()
        << "SELECT SUM(now_number) FROM DEVICE WHERE (n - 1) % ? = 0";
    QTest::newRow("quoted constant")
        << SqlText::compose("RAISE(ABORT, %1)", {SqlText::quoted("it's 已月结")}).toString()
        << "RAISE(ABORT, 'it''s 已月结')";
    QTest::newRow("name from a file, its quotes doubled")
        << SqlText::compose("DROP TRIGGER %1", {SqlText::quotedName(u"a\"; DROP TABLE x; --")})
               .toString()
        << "DROP TRIGGER \"a\"\"; DROP TABLE x; --\"";
    QTest::newRow("plain names")
        << SqlText::compose("(%1)", {SqlText::names({"code", "name"})}).toString() << "(code,name)";
}

void TestDialect::composedSql()
{
    QFETCH(QString, made);
    QFETCH(QString, sql);
    QCOMPARE(made, sql);
}

void TestDialect::refusedName_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << "";
    QTest::newRow("digit first") << "1code";
    QTest::newRow("quote") << "code'--";
    QTest::newRow("blank") << "code name";
    QTest::newRow("quoted") << "\"user\"";
}

void TestDialect::refusedName()
{
    QFETCH(QString, name);
    try {
        SqlText::name(name);
        QFAIL("a name that is no plain identifier was taken");
    } catch (const DbError& e) {
        QCOMPARE(e.kind(), DbError::Kind::BadInput);
    }
    // A marker without its piece is refused alike.
    QVERIFY_THROWS_EXCEPTION(DbError, SqlText::compose("%1 %2", {SqlText("a")}));
    QVERIFY_THROWS_EXCEPTION(DbError, SqlText::names({"code", name}));
}

QTEST_GUILESS_MAIN(TestDialect)
#include "tst_dialect.moc"

// The shared PostgreSQL server: the schema script an administrator runs,
// where the database credentials come from, the log-in query, and two
// workstations changing the same stock row at once.
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <thread>

using namespace vok;

namespace {

const QStringList kDeviceColumns{"code", "now_number", "high_number", "low_number", "total_number"};

// The stock-in pattern: the stock-in row and the stock row change together.
void addStockIn(Connection& c, const QString& time, float amount)
{
    c.append(QStringLiteral("DEVICE_IN"), {"code", "in_date", "in_number"},
             {QStringLiteral("1"), time, amount});
}

void addToStock(RowRecord& r, float amount)
{
    r.setNumber(DeviceCol::now_number, r.number(DeviceCol::now_number) + amount);
    r.setNumber(DeviceCol::total_number, r.number(DeviceCol::total_number) + amount);
}

const TableRows kStockRow{QStringLiteral("DEVICE"), SqlText("code=?"), {QStringLiteral("1")}};

} // namespace

class TestSharedServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void schemaScriptCreatesTheTables();
    void schemaScriptRefusesOtherEngines();
    void credentialsComeFromTheDataSource();
    void programAccountIsNeverADatabaseAccount();
    void logInFindsOnlyTheNamedUser();
    void textsAndNumbersKeepTheirKind();
    void oneStatementPerText_data();
    void oneStatementPerText();
    void failedStatementUndoesTheTransaction();
    void interleavedStockInsLoseNothing();
    void stockInWaitingForAnotherFailsCleanly();
    void stockInsOneAfterAnotherBothLand();
    void tablesWithoutRowOrderStillAnswer();
    void datesReadAsBefore();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_a; // workstation A
    ConnectionPtr m_b; // workstation B
};

void TestSharedServer::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_a = m_sandbox->open();
    m_b = m_sandbox->open();
    QCOMPARE(m_a->engine(), Engine::Postgres);
    m_a->append(QStringLiteral("DEVICE"), kDeviceColumns,
                {QStringLiteral("1"), 10.0f, 100.0f, 1.0f, 10.0f});
}

void TestSharedServer::cleanup()
{
    m_a.reset();
    m_b.reset();
    m_sandbox.reset();
}

void TestSharedServer::schemaScriptCreatesTheTables()
{
    QProcess vok;
    vok.start(QStringLiteral(VOK_BINARY),
              {QStringLiteral("--dsn-schema"), QStringLiteral("postgresql")});
    QVERIFY(vok.waitForFinished(30000));
    QCOMPARE(vok.exitCode(), 0);
    const QString script = QString::fromUtf8(vok.readAllStandardOutput());

    // Run the script as psql would, in a schema of its own.
    Connection& c = *m_a;
    test::exec(c, "DROP SCHEMA IF EXISTS vok_script_check CASCADE");
    test::exec(c, "CREATE SCHEMA vok_script_check");
    test::exec(c, "SET search_path TO vok_script_check");
    int statements = 0;
    QString current;
    for (const QString& line : script.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("--")))
            continue;
        current += line + QLatin1Char('\n');
        if (line.trimmed().endsWith(QLatin1Char(';'))) {
            test::exec(c, current);
            current.clear();
            ++statements;
        }
    }
    QCOMPARE(current.trimmed(), QString());
    qsizetype laterColumns = 0;
    for (const TableDef* t : schema::all())
        laterColumns += schema::addLaterColumns(*t, Engine::Postgres).size();
    QCOMPARE(statements, int(schema::all().size() + schema::indexes().size() + laterColumns +
                             schema::closedMonthStatements(Engine::Postgres).size()));
    // The program's indexes, by name.
    QCOMPARE(c.count({"pg_indexes",
                      SqlText("schemaname=? AND indexname LIKE ?"),
                      {"vok_script_check", "%\\_by\\_%"}}),
             qint64(schema::indexes().size()));

    QCOMPARE(test::value(c, "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema=?",
                         {"vok_script_check"}),
             QString::number(schema::all().size()));
    for (const TableDef* t : schema::all()) {
        QStringList expected;
        // The declared types as the server names them.
        for (const ColumnDef& col : t->columns)
            expected << col.name + QLatin1Char(' ') +
                            test::value(c, "SELECT CAST(CAST(? AS regtype) AS text)",
                                        {schema::sqlType(col.kind, Engine::Postgres)});
        expected << QStringLiteral("vok_seq bigint"); // the row order, last
        QStringList got;
        for (const QStringList& row :
             test::rows(c,
                        "SELECT column_name, data_type FROM information_schema.columns "
                        "WHERE table_schema=? AND table_name=? ORDER BY ordinal_position",
                        {"vok_script_check", t->name.toLower()}))
            got << row.join(QLatin1Char(' '));
        QCOMPARE(got, expected);
        // The tables answer the program's own SELECT * in that order.
        auto rs = c.select({t->name});
        QCOMPARE(rs->columnCount(), int(t->columns.size()));
    }
    test::exec(c, "RESET search_path");
    test::exec(c, "DROP SCHEMA vok_script_check CASCADE");
}

void TestSharedServer::schemaScriptRefusesOtherEngines()
{
    QProcess vok;
    vok.start(QStringLiteral(VOK_BINARY),
              {QStringLiteral("--dsn-schema"), QStringLiteral("oracle")});
    QVERIFY(vok.waitForFinished(30000));
    QCOMPARE(vok.exitCode(), 2);
    QVERIFY(vok.readAllStandardOutput().isEmpty());
}

void TestSharedServer::credentialsComeFromTheDataSource()
{
    // The database account is the one the data source names, whatever
    // program account the connection string carries.
    const QSettings ini(qEnvironmentVariable("ODBCINI"), QSettings::IniFormat);
    const QString account = ini.value(QStringLiteral("VOK2/Username")).toString();
    QVERIFY(!account.isEmpty());
    for (const QString& text :
         {QStringLiteral("DSN=VOK2;UID=张三;PWD=123"), QStringLiteral("DSN=VOK2;UID=postgres;PWD="),
          QStringLiteral("DSN=VOK2;UID=;PWD=")}) {
        auto c = openConnection(text);
        QCOMPARE(test::rows(*c, "SELECT current_user"), (QList<QStringList>{{account}}));
        QCOMPARE(test::rows(*c, "SELECT current_database()").value(0).value(0),
                 ini.value(QStringLiteral("VOK2/Database")).toString());
    }
}

void TestSharedServer::programAccountIsNeverADatabaseAccount()
{
    // A data source without a database account of its own cannot be opened
    // even with the right database account as the program's UID and PWD.
    // unixODBC keeps the path of the odbc.ini it first read for the life of
    // the process, so the other odbc.ini is tried in a child process.
    const QString odbcIni = qEnvironmentVariable("ODBCINI");
    const QSettings original(odbcIni, QSettings::IniFormat);
    const QString account = original.value(QStringLiteral("VOK1/Username")).toString();
    const QString password = original.value(QStringLiteral("VOK1/Password")).toString();
    QVERIFY(!password.isEmpty());
    const QString text = ConnectionString{QStringLiteral("VOK1"), account, password}.toString();

    // The data sources with each line changed by edit (an empty result drops it).
    QTemporaryDir dir;
    const auto copyOf = [&](const QString& name, auto edit) {
        const QString path = dir.filePath(name);
        QFile in(odbcIni);
        QFile out(path);
        if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly))
            for (const QByteArray& line : in.readAll().split('\n'))
                if (const QByteArray changed = edit(line); !changed.isEmpty())
                    out.write(changed + '\n');
        return path;
    };
    const QString copy = copyOf(QStringLiteral("no-account.ini"), [](const QByteArray& line) {
        return line.startsWith("Username") || line.startsWith("Password") ? QByteArray() : line;
    });
    const QString closed = copyOf(QStringLiteral("closed-port.ini"), [](const QByteArray& line) {
        return line.startsWith("Port") ? QByteArray("Port=1") : line;
    });
    const auto openInChild = [&](const QString& ini) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ODBCINI"), ini);
        env.insert(QStringLiteral("VOK_TEST_OPEN"), text);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        child.waitForFinished(30000);
        return std::pair{child.exitCode(), QString::fromUtf8(child.readAllStandardError())};
    };
    const auto [refused, message] = openInChild(copy);
    QVERIFY2(refused == 1, qPrintable(message));
    QVERIFY2(message.contains(QLatin1String("password")), qPrintable(message));
    // A server that does not answer: the driver's own message.
    const auto [unreachable, why] = openInChild(closed);
    QVERIFY2(unreachable == 1, qPrintable(why));
    QVERIFY2(why.contains(QLatin1String("127.0.0.1")) && why.contains(QLatin1String("port 1")),
             qPrintable(why));
    // With the data source as it was, the same connection string opens.
    const auto [opened, none] = openInChild(odbcIni);
    QVERIFY2(opened == 0, qPrintable(none));
}

void TestSharedServer::logInFindsOnlyTheNamedUser()
{
    // The database account's own name is among the user names tried: an
    // unquoted user would be that name, and match every row.
    const QSettings ini(qEnvironmentVariable("ODBCINI"), QSettings::IniFormat);
    const QString account = ini.value(QStringLiteral("VOK1/Username")).toString();
    Connection& c = *m_a;
    test::seed(c, "user", {{"admin", "", "1"}, {"x", "y", "2"}, {"guest", "y", "3"}});
    const auto login = [&](const QString& user, const QString& password) {
        return TableRows{"user",
                         SqlText::name(u"user", c.engine()) + SqlText("=? AND pswd=?"),
                         {user, password}};
    };
    QCOMPARE(c.count(login("x", "y")), 1);
    auto rs = c.select(login("x", "y"));
    QVERIFY(rs->next());
    QCOMPARE(rs->text(QStringLiteral("user")), QStringLiteral("x"));
    QCOMPARE(rs->text(QStringLiteral("class")), QStringLiteral("2"));
    QVERIFY(!rs->next());
    QCOMPARE(c.count(login(account, "")), 0);
    QCOMPARE(c.count(login(account, "y")), 0);
    QCOMPARE(c.count(login("x", "")), 0);
    QCOMPARE(c.count(login("X", "y")), 0); // names are matched exactly
}

void TestSharedServer::textsAndNumbersKeepTheirKind()
{
    Connection& c = *m_a;
    // Texts into number columns, a blank number, a long text, a backslash.
    const QString longName = QString(3000, QChar(0x4ED3)) + QStringLiteral("end");
    c.append("DEVICE_WANTBUY", schema::DeviceWantBuy.columnNames(),
             {QStringLiteral("w\\1"), QStringLiteral("12"), QStringLiteral(" 2.5 "), QString(),
              QStringLiteral("7"), longName, QStringLiteral("9.9"),
              QStringLiteral("2004-1-5 9:3:7")});
    QCOMPARE(test::table(c, "DEVICE_WANTBUY"),
             (QList<QStringList>{
                 {"w\\1", "12", "2.5", "", "7", longName, "9.9", "2004-01-05 09:03:07"}}));
    QCOMPARE(c.count({"DEVICE_WANTBUY", SqlText("code=?"), {"w\\1"}}), 1);
    QVERIFY_THROWS_EXCEPTION(DbError, c.append("DEVICE", {"code", "now_number"},
                                               {QStringLiteral("2"), QStringLiteral("abc")}));
}

void TestSharedServer::oneStatementPerText_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("runs");
    QTest::newRow("trailing semicolon") << "DELETE FROM HOWDO;  " << true;
    QTest::newRow("semicolon in a text") << "DELETE FROM HOWDO WHERE do_what='a;b'" << true;
    QTest::newRow("semicolon in a comment") << "DELETE FROM HOWDO -- a;b\n" << true;
    QTest::newRow("second statement") << "DELETE FROM HOWDO; DROP TABLE HOWDO" << false;
    QTest::newRow("second statement after a quote in a comment")
        << "DELETE FROM HOWDO -- it's\n; DROP TABLE HOWDO; --'" << false;
    QTest::newRow("nested comment")
        << "DELETE FROM HOWDO /* /* */ ' */; DROP TABLE HOWDO; '" << false;
}

void TestSharedServer::oneStatementPerText()
{
    QFETCH(QString, sql);
    QFETCH(bool, runs);
    test::seed(*m_a, "HOWDO", {{"a", "a;b", "2004-1-5 9:5:0"}});
    if (runs) {
        test::exec(*m_a, sql);
        QCOMPARE(m_a->count({"HOWDO"}), 0);
    } else {
        QVERIFY_THROWS_EXCEPTION(DbError, test::exec(*m_a, sql));
        QCOMPARE(m_a->count({"HOWDO"}), 1);
    }
}

void TestSharedServer::failedStatementUndoesTheTransaction()
{
    // The server will not commit a transaction in which a statement failed;
    // a commit after a failure that was caught must not look like success.
    {
        Transaction t(*m_a);
        addStockIn(*m_a, QStringLiteral("2004-1-5 9:0:0"), 1);
        QVERIFY_THROWS_EXCEPTION(DbError, test::exec(*m_a, "SELECT * FROM NO_SUCH_TABLE"));
        QVERIFY_THROWS_EXCEPTION(DbError, t.commit());
    }
    QCOMPARE(m_b->count({"DEVICE_IN"}), 0);
    QVERIFY(!m_a->inTransaction());
    // The connection is usable again at once.
    addStockIn(*m_a, QStringLiteral("2004-1-5 9:0:0"), 1);
    QCOMPARE(m_b->count({"DEVICE_IN"}), 1);
}

void TestSharedServer::interleavedStockInsLoseNothing()
{
    // A and B each take 1 into stock; both read the stock row before
    // either has stored it.
    Transaction ta(*m_a);
    addStockIn(*m_a, QStringLiteral("2004-1-5 9:0:0"), 1);
    auto ua = m_a->openRow(kStockRow, schema::Device);
    {
        Transaction tb(*m_b);
        addStockIn(*m_b, QStringLiteral("2004-1-5 9:0:1"), 2);
        auto ub = m_b->openRow(kStockRow, schema::Device);
        QCOMPARE(ub->record().number(DeviceCol::now_number), 10.0f);
        addToStock(ua->record(), 1);
        ua->store();
        ta.commit();

        addToStock(ub->record(), 2);
        try {
            ub->store();
            QFAIL("the second store must fail");
        } catch (const DbError& e) {
            QCOMPARE(e.failure(), DbError::Failure::RowChanged);
        }
        // B's transaction goes without commit: its stock-in row goes too.
    }
    QCOMPARE(test::rows(*m_b, "SELECT now_number, total_number FROM DEVICE"),
             (QList<QStringList>{{"11", "11"}}));
    QCOMPARE(test::rows(*m_b, "SELECT in_number FROM DEVICE_IN"), (QList<QStringList>{{"1"}}));

    // B tries again on a fresh read and lands.
    {
        Transaction tb(*m_b);
        addStockIn(*m_b, QStringLiteral("2004-1-5 9:0:1"), 2);
        test::updateRow(*m_b, kStockRow, schema::Device, [](RowRecord& r) { addToStock(r, 2); });
        tb.commit();
    }
    QCOMPARE(test::rows(*m_a, "SELECT now_number, total_number FROM DEVICE"),
             (QList<QStringList>{{"13", "13"}}));
    QCOMPARE(m_a->count({"DEVICE_IN"}), 2);
}

void TestSharedServer::stockInWaitingForAnotherFailsCleanly()
{
    // B stores while A's change is not yet committed: B waits for A, then
    // finds the row changed.
    Transaction ta(*m_a);
    addStockIn(*m_a, QStringLiteral("2004-1-5 9:0:0"), 1);
    auto ua = m_a->openRow(kStockRow, schema::Device);
    auto ub = m_b->openRow(kStockRow, schema::Device);
    addToStock(ua->record(), 1);
    ua->store();

    auto bFailure = DbError::Failure::Other;
    bool bStored = false;
    std::thread b([&] {
        try {
            Transaction tb(*m_b);
            addStockIn(*m_b, QStringLiteral("2004-1-5 9:0:1"), 2);
            addToStock(ub->record(), 2);
            ub->store(); // waits for A's lock on the row
            tb.commit();
            bStored = true;
        } catch (const DbError& e) {
            bFailure = e.failure();
        }
    });
    QTest::qWait(300);
    ta.commit();
    b.join();
    QVERIFY(!bStored);
    QCOMPARE(bFailure, DbError::Failure::RowChanged);
    QCOMPARE(test::rows(*m_a, "SELECT now_number, total_number FROM DEVICE"),
             (QList<QStringList>{{"11", "11"}}));
    QCOMPARE(test::rows(*m_a, "SELECT in_number FROM DEVICE_IN"), (QList<QStringList>{{"1"}}));
}

void TestSharedServer::stockInsOneAfterAnotherBothLand()
{
    for (const auto& [c, amount] : {std::pair{m_a, 1.0f}, std::pair{m_b, 2.5f}}) {
        Transaction t(*c);
        addStockIn(*c, QStringLiteral("2004-1-5 9:0:0"), amount);
        test::updateRow(*c, kStockRow, schema::Device,
                        [amount = amount](RowRecord& r) { addToStock(r, amount); });
        t.commit();
    }
    QCOMPARE(test::rows(*m_a, "SELECT now_number, total_number FROM DEVICE"),
             (QList<QStringList>{{"13.5", "13.5"}}));
    QCOMPARE(m_b->count({"DEVICE_IN"}), 2);
}

void TestSharedServer::tablesWithoutRowOrderStillAnswer()
{
    // Tables of a database created before the row-order column: rows come
    // in the server's order and nothing fails, also for a table this
    // connection has already seen with the column, and inside a transaction.
    Connection& c = *m_b;
    QCOMPARE(test::table(c, "DEVICE"), (QList<QStringList>{{"1", "10", "100", "1", "10"}}));
    test::exec(c, "DROP SCHEMA IF EXISTS vok_old_check CASCADE");
    test::exec(c, "CREATE SCHEMA vok_old_check");
    test::exec(c, "SET search_path TO vok_old_check");
    for (const TableDef* t : {&schema::Device, &schema::DeviceIn}) {
        QStringList columns;
        for (const ColumnDef& col : t->columns)
            columns << col.name + QLatin1Char(' ') + schema::sqlType(col.kind, Engine::Postgres);
        test::exec(c, QStringLiteral("CREATE TABLE %1 (%2)").arg(t->name, columns.join(", ")));
    }
    c.append("DEVICE", kDeviceColumns, {QStringLiteral("old"), 1.0f, 1.0f, 1.0f, 1.0f});
    QCOMPARE(test::table(c, "DEVICE"), (QList<QStringList>{{"old", "1", "1", "1", "1"}}));

    for (const char* code : {"a", "b", "c"})
        c.append("DEVICE_IN", {"code", "in_number", "buyer"},
                 {QString::fromLatin1(code), 1.0f, QStringLiteral("x")});
    test::updateRow(c, {"DEVICE_IN", SqlText("code=?"), {"b"}}, schema::DeviceIn,
                    [](RowRecord& r) { r.setText(DeviceInCol::buyer, QStringLiteral("y")); });
    {
        Transaction t(c);
        auto rs = c.queryWith("select * from device_in where in_number > 0", {});
        QCOMPARE(rs->columnCount(), int(schema::DeviceIn.columns.size()));
        QStringList got;
        while (rs->next())
            got << rs->text(DeviceInCol::code) + rs->text(DeviceInCol::buyer);
        got.sort();
        QCOMPARE(got, (QStringList{"ax", "by", "cx"}));
        t.commit();
    }
    test::exec(c, "RESET search_path");
    test::exec(c, "DROP SCHEMA vok_old_check CASCADE");
    QCOMPARE(test::table(c, "DEVICE"), (QList<QStringList>{{"1", "10", "100", "1", "10"}}));
}

void TestSharedServer::datesReadAsBefore()
{
    // Fractions of a second are dropped; dates keep four-digit years.
    QCOMPARE(test::rows(*m_a, "SELECT TIMESTAMP '2004-01-05 09:03:07.999', DATE '0100-01-01', "
                              "CAST(NULL AS DATE), 2147483648 * 4"),
             (QList<QStringList>{{"2004-01-05 09:03:07", "0100-01-01", "", "8589934592"}}));
}

// With VOK_TEST_OPEN set, the program only opens that connection string:
// exit code 0 when it opens, 1 with the engine's message otherwise.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("VOK_TEST_OPEN")) {
        try {
            openConnection(qEnvironmentVariable("VOK_TEST_OPEN"));
            return 0;
        } catch (const DbError& e) {
            std::fprintf(stderr, "%s\n", e.text().toUtf8().constData());
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    TestSharedServer test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_sharedserver.moc"

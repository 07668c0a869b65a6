#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "support/TestSupport.h"

#include <QTest>

#include <atomic>
#include <thread>

using namespace vok;

namespace {
using test::updateRow;

// Where a date value is bound on the engine of this run.
SqlText dateMarker()
{
    return SqlText::dateMarker(test::onServer() ? Engine::Postgres : Engine::Sqlite);
}

QString date()
{
    return dateMarker().toString();
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void newDatabaseHasItsTables();
    void datesKeepTheirOrderAndAreFoundAgain();
    void rowQueryByPositionAndName();
    void tableAppendStoresTypedValues();
    void rowUpdateWritesChangedFields();
    void rowUpdateWithoutRowFails();
    void rowUpdateLosesNoConcurrentChange();
    void transactionIsAllOrNothing();
    void secondInstanceWaitsForWriter();
    void engineErrorsCarryTheEngineText();
    void closedConnectionRefusesWork();
    void oneStatementPerText();
    void connectionStrings();
    void rowsKeepTheirOrderWhenChanged_data();
    void rowsKeepTheirOrderWhenChanged();
    void manyRowsAppendedInTurn_data();
    void manyRowsAppendedInTurn();
    void statementsRunAgainKeepTheirOwnRows();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestConnection::newDatabaseHasItsTables()
{
    auto c = m_sandbox->open(QStringLiteral("VOK3"));
    if (test::onServer()) {
        QCOMPARE(c->engine(), Engine::Postgres);
        QCOMPARE(test::value(*c, "SELECT COUNT(*) FROM information_schema.tables "
                                 "WHERE table_schema=current_schema()"),
                 QString::number(schema::all().size()));
    } else {
        QVERIFY(QFile::exists(m_sandbox->dataDir() + "/vok3.db"));
        QCOMPARE(c->count({"sqlite_master", SqlText("type=?"), {"table"}}),
                 qint64(schema::all().size()));
    }
    const auto cols = test::rows(
        *c, test::onServer() ? "SELECT column_name FROM information_schema.columns WHERE "
                               "table_name='device_out' AND table_schema=current_schema() "
                               "ORDER BY ordinal_position"
                             : "SELECT name FROM pragma_table_info('DEVICE_OUT')");
    QStringList names;
    for (const auto& r : cols)
        names << r.first();
    QStringList expected{"code",       "department", "out_date", "out_state",
                         "out_person", "out_number", "taker",    "usage"};
    if (test::onServer())
        expected << "vok_seq"; // the server's row order, hidden from every result
    QCOMPARE(names, expected);
}

void TestConnection::datesKeepTheirOrderAndAreFoundAgain()
{
    auto c = m_sandbox->open();
    c->append("DEVICE_IN", {"code", "in_date"},
              {QStringLiteral("1"), QStringLiteral("2004-1-5 9:3:7")});
    c->append("DEVICE_IN", {"code", "in_date"},
              {QStringLiteral("2"), QStringLiteral("2004-9-30 23:0:0")});
    c->append("DEVICE_IN", {"code", "in_date"},
              {QStringLiteral("3"), QStringLiteral("2004-10-1 0:0:0")});
    test::seed(*c, "HOWDO", {{"a", "b", "2004-1-5 9:5:0"}});

    QCOMPARE(c->count({"DEVICE_IN", SqlText("in_date=") + dateMarker(), {"2004-01-05 09:03:07"}}),
             1);
    QCOMPARE(test::rows(*c,
                        "SELECT code FROM DEVICE_IN WHERE in_date<" + date() + " ORDER BY in_date",
                        {"2004-10-01 00:00:00"}),
             (QList<QStringList>{{"1"}, {"2"}}));
    QCOMPARE(test::rows(*c, "SELECT code FROM DEVICE_IN WHERE in_date>=" + date(),
                        {"2004-10-01 00:00:00"}),
             (QList<QStringList>{{"3"}}));

    // The text read back, bound as a date, finds the row again.
    const QString back = test::value(*c, "SELECT in_date FROM DEVICE_IN WHERE code=?", {"1"});
    QCOMPARE(back, QStringLiteral("2004-01-05 09:03:07"));
    QCOMPARE(c->count({"DEVICE_IN", SqlText("in_date=") + dateMarker(), {back}}), 1);
    QCOMPARE(test::rows(*c, "SELECT do_date FROM HOWDO"),
             (QList<QStringList>{{"2004-01-05 09:05:00"}}));

    // Date-only columns read back as the date.
    c->append("DEVICE_NEED", {"code", "department", "begin_date", "end_date", "need_number"},
              {QStringLiteral("1"), QStringLiteral("部门A"), QStringLiteral("2004-1-5"),
               QStringLiteral("2004-2-1"), QStringLiteral("3")});
    QCOMPARE(test::rows(*c,
                        "SELECT begin_date, end_date, need_number FROM DEVICE_NEED "
                        "WHERE begin_date=" +
                            date(),
                        {"2004-01-05 00:00:00"}),
             (QList<QStringList>{{"2004-01-05", "2004-02-01", "3"}}));

    // An update that writes an unpadded date is normalised as well.
    test::exec(*c, "UPDATE DEVICE_IN SET in_date=" + date() + " WHERE code=?",
               {"2005-2-3 4:5:6", "2"});
    QCOMPARE(test::value(*c, "SELECT in_date FROM DEVICE_IN WHERE code=?", {"2"}),
             "2005-02-03 04:05:06");
}

void TestConnection::rowQueryByPositionAndName()
{
    auto c = m_sandbox->open();
    c->append("DEVICE", {"code", "now_number", "high_number", "low_number", "total_number"},
              {QStringLiteral("100"), 2.5f, 10.0f, 1.0f, 7.0f});
    auto rs = c->queryWith("SELECT * FROM device WHERE code=?", {"100"});
    QVERIFY(rs->next());
    RowRecord r(schema::Device);
    rs->readInto(r);
    QCOMPARE(r.text(DeviceCol::code), QStringLiteral("100"));
    QCOMPARE(r.number(DeviceCol::now_number), 2.5f);
    QCOMPARE(r.number(DeviceCol::total_number), 7.0f);
    QCOMPARE(rs->text("HIGH_NUMBER"), QStringLiteral("10"));
    QCOMPARE(rs->utf8(0), QByteArrayView("100"));
    QVERIFY(rs->isNumber(1));
    QVERIFY(!rs->next());
    QVERIFY_THROWS_EXCEPTION(DbError, rs->text(QStringLiteral("nothing")));
}

void TestConnection::tableAppendStoresTypedValues()
{
    auto c = m_sandbox->open();
    // A quote in a value is stored as typed; a numeric column takes text.
    c->append("DEVICE_NEED", {"code", "department", "need_number"},
              {QStringLiteral("O'1"), QStringLiteral("部门A"), QStringLiteral("12")});
    auto rs = c->queryWith("SELECT code, need_number FROM DEVICE_NEED", {});
    QVERIFY(rs->next());
    QCOMPARE(rs->text(0), QStringLiteral("O'1"));
    QVERIFY(rs->isNumber(1));
    QCOMPARE(rs->number(1), 12.0);

    QVERIFY_THROWS_EXCEPTION(DbError, c->append("DEVICE_IN; DROP TABLE user", {"code"}, {1}));
    QVERIFY_THROWS_EXCEPTION(DbError, c->append("DEVICE_IN", {"code) --"}, {1}));
    QVERIFY_THROWS_EXCEPTION(DbError, c->append("NO_SUCH_TABLE", {"code"}, {1}));
}

void TestConnection::rowUpdateWritesChangedFields()
{
    auto c = m_sandbox->open();
    // A long value in a field the update does not change is not cut.
    const QString longName = QString(30, QChar(0x4ED3));
    c->append("DEVICE_CODE", {"code", "name"}, {QStringLiteral("7"), longName});
    c->append("DEVICE", {"code", "now_number", "high_number", "low_number", "total_number"},
              {QStringLiteral("7"), 1.0f, 1.0f, 1.0f, 1.0f});
    updateRow(*c, {"DEVICE", SqlText("code=?"), {"7"}}, schema::Device, [](RowRecord& r) {
        r.setNumber(DeviceCol::now_number, r.number(DeviceCol::now_number) + 2.5f);
        r.setNumber(DeviceCol::total_number, r.number(DeviceCol::total_number) + 2.5f);
    });
    QCOMPARE(test::table(*c, "DEVICE"), (QList<QStringList>{{"7", "3.5", "1", "1", "3.5"}}));

    auto u = c->openRow({"DEVICE_CODE", SqlText("code=?"), {"7"}}, schema::DeviceCode);
    QVERIFY(u->found());
    QCOMPARE(u->record().text(DeviceCodeCol::name), QString(19, QChar(0x4ED3)));
    u->record().setText(DeviceCodeCol::code, QStringLiteral("8"));
    u->store();
    QCOMPARE(test::table(*c, "DEVICE_CODE"), (QList<QStringList>{{"8", longName}}));
}

void TestConnection::rowUpdateWithoutRowFails()
{
    auto c = m_sandbox->open();
    auto u = c->openRow({"DEVICE", SqlText("code=?"), {"none"}}, schema::Device);
    QVERIFY(!u->found());
    u->record().setNumber(DeviceCol::now_number, 1);
    QVERIFY_THROWS_EXCEPTION(DbError, u->store());
    QCOMPARE(c->count({"DEVICE"}), 0);
}

void TestConnection::rowUpdateLosesNoConcurrentChange()
{
    // Two program instances on the same database file.
    auto a = m_sandbox->open();
    auto b = m_sandbox->open();
    a->append("DEVICE", {"code", "now_number", "high_number", "low_number", "total_number"},
              {QStringLiteral("5"), 10.0f, 1.0f, 1.0f, 10.0f});

    const TableRows five{"DEVICE", SqlText("code=?"), {"5"}};
    auto ua = a->openRow(five, schema::Device);
    auto ub = b->openRow(five, schema::Device);
    ua->record().setNumber(DeviceCol::now_number, ua->record().number(DeviceCol::now_number) + 1);
    ub->record().setNumber(DeviceCol::now_number, ub->record().number(DeviceCol::now_number) + 2);
    ua->store();
    try {
        ub->store();
        QFAIL("the second store must fail");
    } catch (const DbError& e) {
        QVERIFY2(e.failure() == DbError::Failure::RowChanged, qPrintable(e.text()));
    }
    QCOMPARE(test::rows(*b, "SELECT now_number FROM DEVICE"), (QList<QStringList>{{"11"}}));

    // A fresh read sees the first change and may build on it.
    updateRow(*b, five, schema::Device, [](RowRecord& r) {
        r.setNumber(DeviceCol::now_number, r.number(DeviceCol::now_number) + 2);
    });
    QCOMPARE(test::rows(*a, "SELECT now_number FROM DEVICE"), (QList<QStringList>{{"13"}}));
}

void TestConnection::transactionIsAllOrNothing()
{
    auto c = m_sandbox->open();
    try {
        Transaction t(*c);
        c->append("DEVICE_IN", {"code", "in_date"},
                  {QStringLiteral("1"), QStringLiteral("2004-1-1 1:1:1")});
        updateRow(*c, {"DEVICE", SqlText("code=?"), {"1"}}, schema::Device,
                  [](RowRecord& r) { r.setNumber(DeviceCol::now_number, 1); });
        t.commit();
        QFAIL("the update of a missing row must fail");
    } catch (const DbError&) {
    }
    QCOMPARE(c->count({"DEVICE_IN"}), 0);
    QVERIFY(!c->inTransaction());

    {
        Transaction t(*c);
        c->append("DEVICE_IN", {"code"}, {QStringLiteral("2")});
        t.commit();
    }
    QCOMPARE(c->count({"DEVICE_IN"}), 1);

    // A failed inner part undoes the whole change even if the outer commits.
    {
        Transaction outer(*c);
        c->append("DEVICE_IN", {"code"}, {QStringLiteral("3")});
        {
            Transaction inner(*c);
            c->append("DEVICE_IN", {"code"}, {QStringLiteral("4")});
        }
        QVERIFY_THROWS_EXCEPTION(DbError, outer.commit());
    }
    QCOMPARE(c->count({"DEVICE_IN"}), 1);
}

void TestConnection::secondInstanceWaitsForWriter()
{
    auto a = m_sandbox->open();
    auto b = m_sandbox->open();
    Transaction t(*a);
    a->append("DEVICE_IN", {"code"}, {QStringLiteral("a")});
    // While a holds the embedded engine's write lock, b's append waits
    // instead of failing; the server lets both go on at once.
    std::atomic<bool> done = false;
    QString error;
    std::thread other([&] {
        try {
            b->append("DEVICE_IN", {"code"}, {QStringLiteral("b")});
        } catch (const DbError& e) {
            error = e.text();
        }
        done = true;
    });
    QTest::qWait(300);
    const bool finishedEarly = done;
    t.commit();
    other.join();
    if (!test::onServer())
        QVERIFY(!finishedEarly);
    QCOMPARE(error, QString());
    QCOMPARE(a->count({"DEVICE_IN"}), 2);
}

void TestConnection::engineErrorsCarryTheEngineText()
{
    auto c = m_sandbox->open();
    try {
        test::exec(*c, "SELECT * FROM NO_SUCH_TABLE");
        QFAIL("must throw");
    } catch (const DbError& e) {
        QCOMPARE(e.kind(), DbError::Kind::Engine);
        if (test::onServer())
            QVERIFY2(e.text().startsWith(
                         QStringLiteral("ERROR: relation \"no_such_table\" does not exist")),
                     qPrintable(e.text()));
        else
            QCOMPARE(e.text(), QStringLiteral("no such table: NO_SUCH_TABLE"));
    }
}

void TestConnection::closedConnectionRefusesWork()
{
    auto c = m_sandbox->open();
    c->close();
    QVERIFY(!c->isOpen());
    QVERIFY_THROWS_EXCEPTION(DbError, c->remove({"HOWDO"}));
    QVERIFY_THROWS_EXCEPTION(DbError, c->queryWith("SELECT * FROM HOWDO", {}));
}

void TestConnection::oneStatementPerText()
{
    auto c = m_sandbox->open();
    QVERIFY_THROWS_EXCEPTION(DbError, test::exec(*c, "DELETE FROM HOWDO; DROP TABLE user"));
    QCOMPARE(c->count({"user"}), 0);
    c->remove({"HOWDO"});
}

void TestConnection::connectionStrings()
{
    QCOMPARE((ConnectionString{"VOK1", "张三", "pw"}.toString()),
             QStringLiteral("DSN=VOK1;UID=张三;PWD=pw"));
    const ConnectionString tricky{"VOK2", "a;DSN=VOK5", "p}w;x"};
    const ConnectionString back = ConnectionString::parse(tricky.toString());
    QCOMPARE(back.dsn, QStringLiteral("VOK2"));
    QCOMPARE(back.uid, QStringLiteral("a;DSN=VOK5"));
    QCOMPARE(back.pwd, QStringLiteral("p}w;x"));
    QVERIFY_THROWS_EXCEPTION(DbError, openConnection(QStringLiteral("DSN=../etc;UID=;PWD=")));
}

void TestConnection::rowsKeepTheirOrderWhenChanged_data()
{
    // The rows of a table; each row as "first column:last column".
    QTest::addColumn<QString>("table");
    QTest::addColumn<SqlText>("condition");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QStringList>("expected");
    const QStringList stock{"a:A", "b:B2", "c:C", "d:D"};
    const QStringList users{"u1:1", "u2:2", "u3:3"};
    QTest::newRow("all") << "DEVICE_IN" << SqlText() << QVariantList{} << stock;
    QTest::newRow("lower case") << "device_in" << SqlText() << QVariantList{} << stock;
    QTest::newRow("mixed case, where")
        << "DEVICE_in" << SqlText("in_number > 0") << QVariantList{} << stock;
    QTest::newRow("words in a value")
        << "DEVICE_IN" << SqlText("provider <> ?") << QVariantList{"x ORDER BY code DESC"} << stock;
    QTest::newRow("date") << "DEVICE_IN"
                          << SqlText("in_date >= ") + dateMarker() + SqlText(" AND code <> ?")
                          << QVariantList{"2024-01-01 00:00:00", "none"} << stock;
    QTest::newRow("user") << "user" << SqlText() << QVariantList{} << users;
    QTest::newRow("user, where") << "user" << SqlText("class <> ?") << QVariantList{"9"} << users;
}

void TestConnection::rowsKeepTheirOrderWhenChanged()
{
    // The lists show rows in the order they were added; changing a row
    // (by UPDATE text or by a row update) does not move it.
    QFETCH(QString, table);
    QFETCH(SqlText, condition);
    QFETCH(QVariantList, values);
    QFETCH(QStringList, expected);
    auto c = m_sandbox->open();
    const QStringList in{"code", "in_date", "provider", "in_number", "buyer"};
    for (const char* code : {"a", "b", "c"})
        c->append("DEVICE_IN", in,
                  {QString::fromLatin1(code), QStringLiteral("2024-3-1 8:00:00"),
                   QStringLiteral("p"), 1.0f, QString::fromLatin1(code).toUpper()});
    for (const char* n : {"1", "2", "3"})
        c->append(
            "user", {"user", "pswd", "class"},
            {QStringLiteral("u") + QLatin1String(n), QStringLiteral("pw"), QString::fromLatin1(n)});
    test::exec(*c, "UPDATE DEVICE_IN SET price=9 WHERE code=?", {"a"});
    updateRow(*c, {"DEVICE_IN", SqlText("code=?"), {"b"}}, schema::DeviceIn,
              [](RowRecord& r) { r.setText(DeviceInCol::buyer, QStringLiteral("B2")); });
    test::exec(*c, "UPDATE " + c->name(u"user") + " SET pswd=? WHERE " + c->name(u"user") + "=?",
               {"new", "u2"});
    c->append("DEVICE_IN", in,
              {QStringLiteral("d"), QStringLiteral("2024-3-2 8:00:00"), QStringLiteral("p"), 1.0f,
               QStringLiteral("D")});

    auto rs = c->select({table, condition, values});
    const int columns = rs->columnCount();
    QCOMPARE(columns, table == "user" ? 3 : 7);
    for (int i = 0; i < columns; ++i)
        QVERIFY2(rs->columnName(i).compare("vok_seq", Qt::CaseInsensitive) != 0,
                 qPrintable(rs->columnName(i)));
    QStringList got;
    while (rs->next())
        got << rs->text(0) + QLatin1Char(':') + rs->text(columns - 1);
    QCOMPARE(got, expected);

    // A row update opens the first row in that order.
    auto u = c->openRow({"DEVICE_IN", SqlText("in_number > 0")}, schema::DeviceIn);
    QVERIFY(u->found());
    QCOMPARE(u->record().text(DeviceInCol::code), QStringLiteral("a"));
    QCOMPARE(u->record().text(DeviceInCol::buyer), QStringLiteral("A"));
    QCOMPARE(u->record().number(DeviceInCol::price), 9.0f);
}

// Appended in one pass (on the server many rows a statement): every row,
// in its order, typed, a null stored as no value.
void TestConnection::manyRowsAppendedInTurn_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("an embedded statement's worth") << 100; // 600 values of 6 columns
    QTest::newRow("one more") << 101;
    QTest::newRow("several, the last short") << 1500;
    QTest::newRow("a server statement's worth") << 20'000;
    QTest::newRow("and one more") << 20'001;
}

void TestConnection::manyRowsAppendedInTurn()
{
    QFETCH(int, rows);
    // Texts that the server's array of a column must carry unchanged.
    const QStringList reasons{QStringLiteral("盘点"),  QStringLiteral("a\"b"),
                              QStringLiteral("c\\d,"), QStringLiteral("{e,f}"),
                              QStringLiteral("NULL"),  QStringLiteral(" g ")};
    auto c = m_sandbox->open();
    int next = 0;
    Transaction t(*c);
    c->appendRows("DEVICE_ADJUST",
                  {"code", "adjust_time", "before_number", "after_number", "reason", "user_name"},
                  [&](QVariantList& values) {
                      if (next == rows)
                          return false;
                      values = {QStringLiteral("%1").arg(next, 4, 10, QLatin1Char('0')),
                                next % 2
                                    ? QVariant(QStringLiteral("2026-3-5 8:0:%1").arg(next % 60))
                                    : QVariant(),
                                next % 3 ? QVariant(float(next) / 2) : QVariant(),
                                next,
                                reasons.at(next % reasons.size()),
                                QStringLiteral("张三")};
                      ++next;
                      return true;
                  });
    t.commit();
    QCOMPARE(c->count({"DEVICE_ADJUST"}), rows);
    auto rs = c->select({"DEVICE_ADJUST"});
    for (int i = 0; i < rows; ++i) {
        QVERIFY(rs->next());
        QCOMPARE(rs->text(0), QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')));
        QCOMPARE(rs->text(1),
                 i % 2 ? QStringLiteral("2026-03-05 08:00:%1").arg(i % 60, 2, 10, QLatin1Char('0'))
                       : QString());
        QCOMPARE(rs->isNull(2), i % 3 == 0);
        if (i % 3)
            QCOMPARE(rs->number(2), i / 2.0);
        QCOMPARE(rs->number(3), double(i));
        QCOMPARE(rs->text(4), reasons.at(i % reasons.size()));
    }
    QVERIFY(!rs->next());
}

// The same texts run again while a result of theirs is still being read,
// from within a pass of appends, past the number of statements kept, and
// after the table was made anew: each gets what it asked for.
void TestConnection::statementsRunAgainKeepTheirOwnRows()
{
    auto c = m_sandbox->open();
    const QStringList names{"code", "name"};
    int next = 0;
    c->appendRows("DEVICE_CODE", names, [&](QVariantList& values) {
        if (next == 3)
            return false;
        // An append of the same text between two rows of the pass.
        c->append("DEVICE_CODE", names, {QStringLiteral("b%1").arg(next), QStringLiteral("乙")});
        values = {QStringLiteral("a%1").arg(next++), QStringLiteral("甲")};
        return true;
    });
    QCOMPARE(c->count({"DEVICE_CODE"}), 6);

    const QString text =
        QStringLiteral("SELECT code FROM DEVICE_CODE WHERE code > ? ORDER BY code");
    auto outer = c->queryWith(text, {QStringLiteral("a1")});
    QVERIFY(outer->next());
    QCOMPARE(outer->text(0), QStringLiteral("a2"));
    {
        auto inner = c->queryWith(text, {QStringLiteral("b1")});
        QVERIFY(inner->next());
        QCOMPARE(inner->text(0), QStringLiteral("b2"));
        QVERIFY(!inner->next());
    }
    QVERIFY(outer->next());
    QCOMPARE(outer->text(0), QStringLiteral("b0"));
    outer.reset();

    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 40; ++i) {
            auto rs = c->queryWith(QStringLiteral("SELECT COUNT(*) + %1 FROM DEVICE_CODE WHERE "
                                                  "code < ?")
                                       .arg(i),
                                   {QStringLiteral("b")});
            QVERIFY(rs->next());
            QCOMPARE(rs->number(0), 3.0 + i);
        }

    test::exec(*c, "CREATE TABLE vok_scratch (a TEXT)");
    c->executeWith("INSERT INTO vok_scratch (a) VALUES (?)", {QStringLiteral("x")});
    QCOMPARE(c->queryWith("SELECT * FROM vok_scratch", {})->columnCount(), 1);
    test::exec(*c, "DROP TABLE vok_scratch");
    test::exec(*c, "CREATE TABLE vok_scratch (a TEXT, b TEXT)");
    c->executeWith("INSERT INTO vok_scratch (a) VALUES (?)", {QStringLiteral("y")});
    auto rs = c->queryWith("SELECT * FROM vok_scratch", {});
    QCOMPARE(rs->columnCount(), 2);
    QVERIFY(rs->next());
    QCOMPARE(rs->text(0), QStringLiteral("y"));
    rs.reset();
    test::exec(*c, "DROP TABLE vok_scratch");

    // A result still open when its connection closes is read to its end.
    if (!test::onServer()) {
        auto open = c->queryWith(text, {QStringLiteral("a")});
        c->close();
        int n = 0;
        while (open->next())
            ++n;
        QCOMPARE(n, 6);
    }
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"

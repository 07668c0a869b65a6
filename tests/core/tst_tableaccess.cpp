// The table operations on a seeded department database, on both engines:
// the rows each query field, look-up and change finds, the permission
// rule, and a change of a listed row that another user deleted.
#include "core/Accounts.h"
#include "core/DeviceCatalogue.h"
#include "core/Permission.h"
#include "core/TableAccess.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace vok;

namespace {

// The rows every test starts from.
void seedRows(Connection& c)
{
    test::seed(c, "DEVICE_CODE", {{"1", "扫描仪"}, {"2", "打印机"}});
    test::seed(c, "DEVICE", {{"1", 5, 10, 2, 8}, {"2", 12, 10, 2, 20}, {"3", 1, 10, 2, 1}});
    test::seed(c, "DEVICE_IN",
               {{"1", "2004-1-5 9:3:7", "O'Brien", "123", 2.5, 9.9, "王"},
                {"2", "2004-10-1 0:0:0", "公司", "456", 3, 12, "李"},
                {"3", "2004-9-30 23:59:59", "公司", "456", 1, 9, "李"}});
    test::seed(c, "DEVICE_OUT",
               {{"1", "部门A", "2004-2-1 8:0:0", "好", "张", 1, "赵", "测试"},
                {"2", "部门B", "2004-2-2 8:0:0", "好", "张", 4, "钱", "维修"}});
    test::seed(c, "DEVICE_RETURN",
               {{"1", "2004-3-1 8:0:0", "王", 1, "赵"}, {"2", "2004-3-2 8:0:0", "王", 2, "钱"}});
    test::seed(c, "DEVICE_NEED",
               {{"1", "部门A", "2004-1-1", "2004-2-1", "3"},
                {"1", "部门A", "2004-3-1", "2004-4-1", "4"},
                {"2", "部门B", "2004-5-1", "2004-6-1", "1"}});
    test::seed(c, "DEVICE_WANTBUY",
               {{"1", "5", "8", "10", "5", "公司", "9.9", "2004-5-1 10:0:0"},
                {"2", "1", "1", "10", "9", "公司", "12", "2004-5-2 10:0:0"}});
    test::seed(c, "user", {{"admin", "pw", "1"}, {"guest", "pw2", "3"}});
    test::seed(c, "HOWDO", {{"admin", "登录数据库", "2004-1-5 9:5:0"}});
}

const TableDescription* table(const QString& name)
{
    for (const TableDescription* t :
         {&tables::deviceCode, &tables::device, &tables::deviceIn, &tables::deviceOut,
          &tables::deviceReturn, &tables::deviceNeed, &tables::deviceWantBuy, &tables::howdo,
          &tables::user})
        if (t->name() == name)
            return t;
    return nullptr;
}

// The first column of every row, sorted.
QStringList firstColumn(RowSet& rows)
{
    QStringList got;
    while (rows.next())
        got << rows.text(0);
    got.sort();
    return got;
}

} // namespace

class TestTableAccess : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void query_data();
    void query();
    void matching_data();
    void matching();
    void change_data();
    void change();
    void readOnlyClassWritesNothing();
    void deleteOfAListedRowGone();
    void renameKeepsOtherCodes();
    void datesOfEveryRowListed();
    void everyTableHasAChineseCaption();
    void accountsChangedByClassOneOnly_data();
    void accountsChangedByClassOneOnly();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_c;
};

void TestTableAccess::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_c = m_sandbox->open();
    seedRows(*m_c);
}

void TestTableAccess::cleanup()
{
    m_c.reset();
    m_sandbox.reset();
}

void TestTableAccess::query_data()
{
    // A query field of a table's query builder; the rows' codes.
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("stock-in, text with a quote") << "DEVICE_IN"
                                                 << "供应商c"
                                                 << "="
                                                 << "O'Brien" << QStringList{"1"};
    QTest::newRow("stock-in, text <>") << "DEVICE_IN"
                                       << "采购员c"
                                       << "<>"
                                       << "李" << QStringList{"1"};
    QTest::newRow("stock-in, number: price 9.9 compares with 9") << "DEVICE_IN"
                                                                 << "价格d"
                                                                 << ">"
                                                                 << "9.9" << QStringList{"1", "2"};
    QTest::newRow("stock-in, date before") << "DEVICE_IN"
                                           << "入库时间c"
                                           << "<"
                                           << "2004-10-1" << QStringList{"1", "3"};
    QTest::newRow("stock-in, date on or after") << "DEVICE_IN"
                                                << "入库时间c"
                                                << ">="
                                                << "2004-10-1" << QStringList{"2"};
    QTest::newRow("stock-in, unpadded time") << "DEVICE_IN"
                                             << "入库时间c"
                                             << "="
                                             << "2004-1-5 9:3:7" << QStringList{"1"};
    QTest::newRow("stock-out, text") << "DEVICE_OUT"
                                     << "使用部门c"
                                     << "="
                                     << "部门B" << QStringList{"2"};
    QTest::newRow("stock-out, number") << "DEVICE_OUT"
                                       << "出库数量d"
                                       << ">="
                                       << "2" << QStringList{"2"};
    QTest::newRow("stock-out, date") << "DEVICE_OUT"
                                     << "出库时间c"
                                     << "<="
                                     << "2004-2-1 8:0:0" << QStringList{"1"};
    QTest::newRow("return, text") << "DEVICE_RETURN"
                                  << "归还人c"
                                  << "="
                                  << "钱" << QStringList{"2"};
    QTest::newRow("return, number") << "DEVICE_RETURN"
                                    << "数量d"
                                    << "<"
                                    << "2" << QStringList{"1"};
    QTest::newRow("return, date") << "DEVICE_RETURN"
                                  << "还库时间c"
                                  << ">"
                                  << "2004-3-1 8:0:0" << QStringList{"2"};
    QTest::newRow("demand, text") << "DEVICE_NEED"
                                  << "需求部门c"
                                  << "="
                                  << "部门A" << QStringList{"1", "1"};
    QTest::newRow("demand, number held as text") << "DEVICE_NEED"
                                                 << "数量d"
                                                 << ">"
                                                 << "3" << QStringList{"1"};
    QTest::newRow("demand, date-only column") << "DEVICE_NEED"
                                              << "开始时间c"
                                              << "="
                                              << "2004-3-1" << QStringList{"1"};
    QTest::newRow("purchase plan, text") << "DEVICE_WANTBUY"
                                         << "供应商c"
                                         << "="
                                         << "公司" << QStringList{"1", "2"};
    QTest::newRow("purchase plan, number") << "DEVICE_WANTBUY"
                                           << "购买数量d"
                                           << ">"
                                           << "5" << QStringList{"2"};
    QTest::newRow("purchase plan, date") << "DEVICE_WANTBUY"
                                         << "计划时间c"
                                         << "<"
                                         << "2004-5-2" << QStringList{"1"};
    QTest::newRow("stock, text") << "DEVICE"
                                 << "设备号c"
                                 << "<>"
                                 << "1" << QStringList{"2", "3"};
    QTest::newRow("stock, number") << "DEVICE"
                                   << "总数d"
                                   << ">="
                                   << "8" << QStringList{"1", "2"};
    QTest::newRow("catalogue, name") << "DEVICE_CODE"
                                     << "设备名c"
                                     << "="
                                     << "打印机" << QStringList{"2"};
    QTest::newRow("catalogue, quote injection is plain text") << "DEVICE_CODE"
                                                              << "设备名c"
                                                              << "="
                                                              << "x' OR '1'='1" << QStringList{};
}

void TestTableAccess::query()
{
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QFETCH(QStringList, expected);
    const TableAccess access(*m_c, *::table(table));
    const auto rows = access.query(field, op, value);
    QVERIFY(rows);
    QCOMPARE(firstColumn(*access.list(*rows)), expected);
    QCOMPARE(qsizetype(access.count(*rows)), expected.size());
}

void TestTableAccess::matching_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QList<int>>("columns");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("stock by code")
        << "DEVICE" << QList<int>{0} << QStringList{"2"} << QStringList{"2"};
    QTest::newRow("stock-in by time, padded")
        << "DEVICE_IN" << QList<int>{1} << QStringList{"2004-01-05 09:03:07"} << QStringList{"1"};
    QTest::newRow("stock-out by time")
        << "DEVICE_OUT" << QList<int>{2} << QStringList{"2004-2-2 8:0:0"} << QStringList{"2"};
    QTest::newRow("demand by code and department")
        << "DEVICE_NEED" << QList<int>{0, 1} << QStringList{"1", "部门A"} << QStringList{"1", "1"};
    QTest::newRow("log-in name with a quote")
        << "user" << QList<int>{0} << QStringList{"x' OR '1'='1"} << QStringList{};
    QTest::newRow("user by name") << "user" << QList<int>{0} << QStringList{"guest"}
                                  << QStringList{"guest"};
}

void TestTableAccess::matching()
{
    QFETCH(QString, table);
    QFETCH(QList<int>, columns);
    QFETCH(QStringList, values);
    QFETCH(QStringList, expected);
    const TableAccess access(*m_c, *::table(table));
    const std::vector<int> cs(columns.begin(), columns.end());
    QCOMPARE(firstColumn(*access.list(access.matching(cs, values))), expected);
}

void TestTableAccess::change_data()
{
    // A change through the operations, then the first column of a table.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("code"); // bound to the check's ?
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("add device code") << "add code"
                                     << "SELECT name FROM DEVICE_CODE WHERE code=?"
                                     << "9" << QStringList{"O'Neil 仪"};
    QTest::newRow("rename device code") << "rename code"
                                        << "SELECT name FROM DEVICE_CODE WHERE code=?"
                                        << "1" << QStringList{"新名"};
    QTest::newRow("delete device code") << "delete code"
                                        << "SELECT code FROM DEVICE_CODE"
                                        << "" << QStringList{"2"};
    QTest::newRow("delete stock-in by time") << "delete stock-in"
                                             << "SELECT code FROM DEVICE_IN"
                                             << "" << QStringList{"1", "3"};
    QTest::newRow("delete demand pair, all rows of it") << "delete demand"
                                                        << "SELECT department FROM DEVICE_NEED"
                                                        << "" << QStringList{"部门B"};
    QTest::newRow("append stock-out") << "append stock-out"
                                      << "SELECT out_date FROM DEVICE_OUT WHERE code=?"
                                      << "9" << QStringList{"2004-12-31 23:59:59"};
    for (const char* t : {"DEVICE_CODE", "DEVICE_IN", "DEVICE_OUT", "DEVICE", "DEVICE_NEED",
                          "DEVICE_RETURN", "HOWDO", "DEVICE_WANTBUY", "user"})
        QTest::newRow(qPrintable(QStringLiteral("clear %1").arg(QLatin1String(t))))
            << QStringLiteral("clear %1").arg(QLatin1String(t))
            << QStringLiteral("SELECT * FROM %1")
                   .arg(quoteIdentifier(QString::fromLatin1(t),
                                        test::onServer() ? Engine::Postgres : Engine::Sqlite))
            << "" << QStringList{};
}

void TestTableAccess::change()
{
    QFETCH(QString, change);
    QFETCH(QString, check);
    QFETCH(QString, code);
    QFETCH(QStringList, expected);
    Connection& c = *m_c;
    if (change == "add code") {
        addDeviceCode(c, 1, "9", "O'Neil 仪");
    } else if (change == "rename code") {
        renameDeviceCode(c, 1, "1", "新名");
    } else if (change == "delete code") {
        deleteDeviceCode(c, 1, "1");
    } else if (change == "delete stock-in") {
        const TableAccess a(c, tables::deviceIn, 1);
        QCOMPARE(a.remove(a.matching(DeviceInCol::in_date, "2004-10-1 0:0:0")), qint64(1));
    } else if (change == "delete demand") {
        const TableAccess a(c, tables::deviceNeed, 1);
        const int key[] = {DeviceNeedCol::code, DeviceNeedCol::department};
        QCOMPARE(a.remove(a.matching(key, {"1", "部门A"}), {}), RowOutcome::Done);
    } else if (change == "append stock-out") {
        TableAccess(c, tables::deviceOut, 2)
            .append({"9", "部门C", "2004-12-31 23:59:59", "1", "张", 1.0f, "赵", "用"});
    } else if (change.startsWith("clear ")) {
        clearTable(c, 1, change.mid(6));
    }
    QStringList got;
    for (const QStringList& row :
         test::rows(c, check, code.isEmpty() ? QVariantList{} : QVariantList{code}))
        got << row.first();
    got.sort();
    QCOMPARE(got, expected);
}

void TestTableAccess::readOnlyClassWritesNothing()
{
    Connection& c = *m_c;
    const TableAccess in(c, tables::deviceIn, 3);
    const auto before = test::table(c, "DEVICE_IN");
    QVERIFY_THROWS_EXCEPTION(DbError, in.append({"9", "2005-1-1 0:0:0", "", "", 1, 1, ""}));
    QVERIFY_THROWS_EXCEPTION(DbError, in.remove(in.matching(DeviceInCol::code, "1")));
    QVERIFY_THROWS_EXCEPTION(DbError, in.remove(in.all(), {}));
    QVERIFY_THROWS_EXCEPTION(DbError, in.update(in.all(), {}, [](RowRecord&) {}));
    QVERIFY_THROWS_EXCEPTION(DbError, in.clear());
    QVERIFY_THROWS_EXCEPTION(DbError, addDeviceCode(c, 3, "9", "x"));
    QVERIFY_THROWS_EXCEPTION(DbError, renameDeviceCode(c, 3, "1", "x"));
    QVERIFY_THROWS_EXCEPTION(DbError, deleteDeviceCode(c, 3, "1"));
    try {
        in.clear();
    } catch (const DbError& e) {
        QCOMPARE(e.text(), readOnlyClassText());
    }
    QCOMPARE(test::table(c, "DEVICE_IN"), before);
    QCOMPARE(test::table(c, "DEVICE_CODE").size(), 2);
}

void TestTableAccess::deleteOfAListedRowGone()
{
    // P-one and P-two of the same second; another workstation deletes
    // P-one after it was listed and changes P-two.
    Connection& c = *m_c;
    c.remove({"DEVICE_IN"});
    const TableAccess in(c, tables::deviceIn, 1);
    in.append({"P-one", "2005-1-1 8:0:0", "a", "1", 1.0f, 1.0f, "x"});
    in.append({"P-two", "2005-1-1 8:0:0", "a", "1", 2.0f, 1.0f, "x"});
    RecordListModel list(tables::deviceIn.listColumns());
    in.fill(list, in.all());
    QCOMPARE(list.text(1, 0), QStringLiteral("P-one"));
    RowRecord listed(schema::DeviceIn);
    for (int col = 0; col < listed.size(); ++col)
        listed.setFromDatabase(col, list.value(1, col));
    const ConnectionPtr other = m_sandbox->open();
    test::exec(*other, "DELETE FROM DEVICE_IN WHERE code=?", {"P-one"});
    test::exec(*other, "UPDATE DEVICE_IN SET buyer=? WHERE code=?", {"y", "P-two"});
    const TableRows key = in.matching(DeviceInCol::in_date, "2005-01-01 08:00:00");
    QCOMPARE(in.remove(key, {list.rowId(1), &listed}), RowOutcome::Gone);
    QCOMPARE(test::rows(c, "SELECT code, buyer FROM DEVICE_IN"),
             (QList<QStringList>{{"P-two", "y"}}));
    // Listed as it is now, it goes.
    in.fill(list, in.all());
    for (int col = 0; col < listed.size(); ++col)
        listed.setFromDatabase(col, list.value(0, col));
    QCOMPARE(in.remove(key, {list.rowId(0), &listed}), RowOutcome::Done);
    QCOMPARE(in.count(in.all()), qint64(0));
}

void TestTableAccess::renameKeepsOtherCodes()
{
    Connection& c = *m_c;
    QCOMPARE(codeToAddProblem(c, "1"), QStringLiteral("设备号“1”已在设备代码表中，不能重复添加。"));
    QCOMPARE(codeToAddProblem(c, " "), QStringLiteral("设备号不能为空，请填入设备号。"));
    QVERIFY(codeToAddProblem(c, "9").isEmpty());
    QVERIFY_THROWS_EXCEPTION(DbError, addDeviceCode(c, 1, "2", "重复"));
    renameDeviceCode(c, 1, "x' OR '1'='1", "无");
    QCOMPARE(test::rows(c, "SELECT name FROM DEVICE_CODE"),
             (QList<QStringList>{{"扫描仪"}, {"打印机"}}));
}

void TestTableAccess::datesOfEveryRowListed()
{
    // Dates and times of every row, also past the first of a block read.
    const TableAccess need(*m_c, tables::deviceNeed);
    RecordListModel list(tables::deviceNeed.listColumns());
    need.fill(list, need.all());
    QStringList got;
    for (int row = 0; row < list.rowCount(); ++row)
        got << list.text(row, DeviceNeedCol::begin_date) + " " +
                   list.value(row, DeviceNeedCol::end_date).toString();
    QCOMPARE(got, (QStringList{"2004-05-01 2004-06-01", "2004-03-01 2004-04-01",
                               "2004-01-01 2004-02-01"}));
}

// The restore list and the clean form name tables as users know them,
// from the one description of each table.
void TestTableAccess::everyTableHasAChineseCaption()
{
    QCOMPARE(tables::all().size(), schema::all().size());
    for (size_t i = 0; i < schema::all().size(); ++i) {
        const TableDef* t = schema::all()[i];
        QCOMPARE(tables::all()[i]->def, t);
        const QString caption = tableCaption(t->name);
        QVERIFY2(caption != t->name && caption.front().unicode() >= 0x4E00, qPrintable(t->name));
    }
}

// Whatever window asks, only class 1 adds or removes an account; a refusal
// changes nothing.
void TestTableAccess::accountsChangedByClassOneOnly_data()
{
    QTest::addColumn<int>("byClass");
    QTest::addColumn<bool>("removing");
    QTest::addColumn<bool>("allowed");
    for (int byClass : {0, 1, 2, 3})
        for (bool removing : {false, true})
            QTest::addRow("%s by class %d", removing ? "remove" : "add", byClass)
                << byClass << removing << (byClass == 1);
}

void TestTableAccess::accountsChangedByClassOneOnly()
{
    QFETCH(int, byClass);
    QFETCH(bool, removing);
    QFETCH(bool, allowed);
    Connection& c = *m_c;
    const auto change = [&] {
        if (removing)
            Accounts::remove(c, byClass, "guest");
        else
            Accounts::add(c, byClass, "new", "secret", "2");
    };
    if (allowed) {
        change();
    } else {
        try {
            change();
            QFAIL("the account change went through");
        } catch (const DbError& e) {
            QCOMPARE(e.text(), accountsClassText());
        }
    }
    QCOMPARE(Accounts::exists(c, "guest"), !(allowed && removing));
    QCOMPARE(Accounts::exists(c, "new"), allowed && !removing);
}

QTEST_GUILESS_MAIN(TestTableAccess)
#include "tst_tableaccess.moc"

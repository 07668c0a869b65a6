// Every SQL form the program writes, with sample values, run on a seeded
// department database: what each one does to the rows.
#include "db/Connection.h"
#include "db/SqlFormat.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace vok;

namespace {

const char* const kSeed[] = {
    "INSERT INTO DEVICE_CODE(code,name) VALUES('1','扫描仪')",
    "INSERT INTO DEVICE_CODE(code,name) VALUES('2','打印机')",
    "INSERT INTO DEVICE (code,now_number,high_number,low_number,total_number) VALUES('1',5,10,2,8)",
    "INSERT INTO DEVICE (code,now_number,high_number,low_number,total_number) "
    "VALUES('2',12,10,2,20)",
    "INSERT INTO DEVICE (code,now_number,high_number,low_number,total_number) VALUES('3',1,10,2,1)",
    "INSERT INTO DEVICE_IN VALUES('1','2004-1-5 9:3:7','O''Brien','123',2.5,9.9,'王')",
    "INSERT INTO DEVICE_IN VALUES('2','2004-10-1 0:0:0','公司','456',3,12,'李')",
    "INSERT INTO DEVICE_IN VALUES('3','2004-9-30 23:59:59','公司','456',1,9,'李')",
    "INSERT INTO DEVICE_OUT VALUES('1','部门A','2004-2-1 8:0:0','好','张',1,'赵','测试')",
    "INSERT INTO DEVICE_OUT VALUES('2','部门B','2004-2-2 8:0:0','好','张',4,'钱','维修')",
    "INSERT INTO DEVICE_RETURN VALUES('1','2004-3-1 8:0:0','王',1,'赵')",
    "INSERT INTO DEVICE_RETURN VALUES('2','2004-3-2 8:0:0','王',2,'钱')",
    "INSERT INTO DEVICE_NEED VALUES('1','部门A','2004-1-1','2004-2-1','3')",
    "INSERT INTO DEVICE_NEED VALUES('1','部门A','2004-3-1','2004-4-1','4')",
    "INSERT INTO DEVICE_NEED VALUES('2','部门B','2004-5-1','2004-6-1','1')",
    "INSERT INTO DEVICE_WANTBUY VALUES('1','5','8','10','5','公司','9.9','2004-5-1 10:0:0')",
    "INSERT INTO DEVICE_WANTBUY VALUES('2','1','1','10','9','公司','12','2004-5-2 10:0:0')",
    "INSERT INTO user (user,pswd,class) VALUES('admin','pw','1')",
    "INSERT INTO user (user,pswd,class) VALUES('guest','pw2','3')",
    "INSERT INTO HOWDO (do_user,do_what,do_date) VALUES('admin','登录数据库','2004-1-5 9:5:0')",
};

QString f(QStringView format, std::initializer_list<SqlArg> args)
{
    return sqlFormat(format, args);
}
SqlArg t(const char* s)
{
    return SqlArg::text(QString::fromUtf8(s));
}
SqlArg n(const char* s)
{
    return SqlArg::name(QString::fromLatin1(s));
}
SqlArg o(const char* s)
{
    return SqlArg::op(QString::fromLatin1(s));
}
SqlArg d(const char* s)
{
    return SqlArg::date(QString::fromLatin1(s));
}

} // namespace

class TestSqlForms : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void forms_data();
    void forms();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_c;
};

void TestSqlForms::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_c = m_sandbox->open();
    for (const char* s : kSeed)
        m_c->execute(QString::fromUtf8(s));
}

void TestSqlForms::cleanup()
{
    m_c.reset();
    m_sandbox.reset();
}

void TestSqlForms::forms_data()
{
    // sql: the form with sample values. check: the SELECT whose first
    // column, sorted, must equal expected; empty means sql itself.
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QStringList>("expected");

    const QStringList all3{"1", "2", "3"};
    // Whole-table reads.
    QTest::newRow("SELECT * FROM DEVICE") << "SELECT * FROM DEVICE"
                                          << "" << all3;
    QTest::newRow("SELECT * FROM DEVICE_CODE") << "SELECT * FROM DEVICE_CODE"
                                               << "" << QStringList{"1", "2"};
    QTest::newRow("SELECT * FROM DEVICE_IN") << "SELECT * FROM DEVICE_IN"
                                             << "" << all3;
    QTest::newRow("SELECT * FROM DEVICE_out") << "SELECT * FROM DEVICE_out"
                                              << "" << QStringList{"1", "2"};
    QTest::newRow("SELECT * FROM DEVICE_RETURN") << "SELECT * FROM DEVICE_RETURN"
                                                 << "" << QStringList{"1", "2"};
    QTest::newRow("SELECT * FROM DEVICE_NEED") << "SELECT * FROM DEVICE_NEED"
                                               << "" << QStringList{"1", "1", "2"};
    QTest::newRow("SELECT * FROM DEVICE_WANTBUY") << "SELECT * FROM DEVICE_WANTBUY"
                                                  << "" << QStringList{"1", "2"};
    QTest::newRow("SELECT * FROM HOWDO") << "SELECT * FROM HOWDO"
                                         << "" << QStringList{"admin"};

    // Lookups.
    QTest::newRow("device by code")
        << f(u"SELECT * FROM DEVICE WHERE code='%s'", {t("2")}) << "" << QStringList{"2"};
    QTest::newRow("device by code, lower-case table")
        << f(u"SELECT * FROM device WHERE code='%s'", {t("3")}) << "" << QStringList{"3"};
    QTest::newRow("code by code") << f(u"SELECT * FROM DEVICE_CODE WHERE code='%s'", {t("1")}) << ""
                                  << QStringList{"1"};
    QTest::newRow("code query") << f(u"SELECT * FROM DEVICE_CODE WHERE %s='%s'",
                                     {n("name"), t("打印机")})
                                << "" << QStringList{"2"};
    QTest::newRow("over-stock") << "SELECT * FROM DEVICE WHERE now_number>high_number"
                                << "" << QStringList{"2"};
    QTest::newRow("under-stock") << "SELECT * FROM DEVICE WHERE now_number<low_number"
                                 << "" << QStringList{"3"};
    QTest::newRow("log-in found") << f(u"SELECT * FROM user where user='%s'AND pswd='%s'",
                                       {t("admin"), t("pw")})
                                  << "" << QStringList{"admin"};
    QTest::newRow("log-in, wrong password")
        << f(u"SELECT * FROM user where user='%s'AND pswd='%s'", {t("admin"), t("pw2")}) << ""
        << QStringList{};
    QTest::newRow("log-in, quote injection is plain text")
        << f(u"SELECT * FROM user where user='%s'AND pswd='%s'", {t("admin"), t("x' OR '1'='1")})
        << "" << QStringList{};

    // Rows found again by their time.
    QTest::newRow("stock-in by time")
        << f(u"SELECT * FROM DEVICE_IN WHERE in_date=#%s#", {d("2004-01-05 09:03:07")}) << ""
        << QStringList{"1"};
    QTest::newRow("stock-out by time")
        << f(u"SELECT * FROM DEVICE_OUT WHERE out_date=#%s#", {d("2004-2-2 8:0:0")}) << ""
        << QStringList{"2"};
    QTest::newRow("return by time")
        << f(u"SELECT * FROM DEVICE_RETURN WHERE return_date=#%s#", {d("2004-3-1 8:0:0")}) << ""
        << QStringList{"1"};

    // The query builder's three forms on every browsed table.
    QTest::newRow("stock-in, text")
        << f(u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'", {n("provider"), o("="), t("O'Brien")}) << ""
        << QStringList{"1"};
    QTest::newRow("stock-in, text <>")
        << f(u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'", {n("buyer"), o("<>"), t("李")}) << ""
        << QStringList{"1"};
    QTest::newRow("stock-in, number: price 9.9 compares with 9")
        << f(u"SELECT * FROM DEVICE_IN WHERE %s%s%d", {n("price"), o(">"), 9}) << ""
        << QStringList{"1", "2"};
    QTest::newRow("stock-in, date before 2004-10-1")
        << f(u"SELECT * FROM DEVICE_IN WHERE %s%s#%s#", {n("in_date"), o("<"), d("2004-10-1")})
        << "" << QStringList{"1", "3"};
    QTest::newRow("stock-in, date on or after")
        << f(u"SELECT * FROM DEVICE_IN WHERE %s%s#%s#", {n("in_date"), o(">="), d("2004-10-1")})
        << "" << QStringList{"2"};
    QTest::newRow("stock-out, text")
        << f(u"SELECT * FROM DEVICE_OUT WHERE %s%s'%s'", {n("department"), o("="), t("部门B")})
        << "" << QStringList{"2"};
    QTest::newRow("stock-out, number")
        << f(u"SELECT * FROM DEVICE_OUT WHERE %s%s%d", {n("out_number"), o(">="), 2}) << ""
        << QStringList{"2"};
    QTest::newRow("stock-out, date") << f(u"SELECT * FROM DEVICE_OUT WHERE %s%s#%s#",
                                          {n("out_date"), o("<="), d("2004-2-1 8:0:0")})
                                     << "" << QStringList{"1"};
    QTest::newRow("return, text") << f(u"SELECT * FROM DEVICE_RETURN WHERE %s%s'%s'",
                                       {n("return_person"), o("="), t("钱")})
                                  << "" << QStringList{"2"};
    QTest::newRow("return, number")
        << f(u"SELECT * FROM DEVICE_RETURN WHERE %s%s%d", {n("return_number"), o("<"), 2}) << ""
        << QStringList{"1"};
    QTest::newRow("return, date") << f(u"SELECT * FROM DEVICE_RETURN WHERE %s%s#%s#",
                                       {n("return_date"), o(">"), d("2004-3-1 8:0:0")})
                                  << "" << QStringList{"2"};
    QTest::newRow("demand, text") << f(u"SELECT * FROM DEVICE_NEED WHERE %s%s'%s'",
                                       {n("department"), o("="), t("部门A")})
                                  << "" << QStringList{"1", "1"};
    QTest::newRow("demand, number held as text")
        << f(u"SELECT * FROM DEVICE_NEED WHERE %s%s%d", {n("need_number"), o(">"), 3}) << ""
        << QStringList{"1"};
    QTest::newRow("demand, date-only column")
        << f(u"SELECT * FROM DEVICE_NEED WHERE %s%s#%s#", {n("begin_date"), o("="), d("2004-3-1")})
        << "" << QStringList{"1"};
    QTest::newRow("purchase plan, text")
        << f(u"SELECT * FROM DEVICE_WANTBUY WHERE %s%s'%s'", {n("provider"), o("="), t("公司")})
        << "" << QStringList{"1", "2"};
    QTest::newRow("purchase plan, number")
        << f(u"SELECT * FROM DEVICE_WANTBUY WHERE %s%s%d", {n("buy_number"), o(">"), 5}) << ""
        << QStringList{"2"};
    QTest::newRow("purchase plan, date")
        << f(u"SELECT * FROM DEVICE_WANTBUY WHERE %s%s#%s#", {n("buy_date"), o("<"), d("2004-5-2")})
        << "" << QStringList{"1"};
    QTest::newRow("stock, text") << f(u"SELECT * FROM DEVICE WHERE %s%s'%s'",
                                      {n("code"), o("<>"), t("1")})
                                 << "" << QStringList{"2", "3"};
    QTest::newRow("stock, number")
        << f(u"SELECT * FROM DEVICE WHERE %s%s%d", {n("total_number"), o(">="), 8}) << ""
        << QStringList{"1", "2"};

    // Changes.
    QTest::newRow("add device code")
        << f(u"INSERT INTO DEVICE_CODE(code,name) VALUES('%s','%s')", {t("9"), t("O'Neil 仪")})
        << "SELECT name FROM DEVICE_CODE WHERE code='9'" << QStringList{"O'Neil 仪"};
    QTest::newRow("rename device code")
        << f(u"UPDATE DEVICE_CODE SET NAME='%s' WHERE CODE='%s'", {t("新名"), t("1")})
        << "SELECT name FROM DEVICE_CODE WHERE code='1'" << QStringList{"新名"};
    QTest::newRow("delete device code") << f(u"DELETE FROM DEVICE_CODE WHERE CODE='%s'", {t("1")})
                                        << "SELECT code FROM DEVICE_CODE" << QStringList{"2"};
    QTest::newRow("delete stock row") << f(u"DELETE FROM DEVICE WHERE CODE='%s'", {t("2")})
                                      << "SELECT code FROM DEVICE" << QStringList{"1", "3"};
    QTest::newRow("delete stock-in by time")
        << f(u"DELETE FROM DEVICE_IN WHERE in_date=#%s#", {d("2004-10-1 0:0:0")})
        << "SELECT code FROM DEVICE_IN" << QStringList{"1", "3"};
    QTest::newRow("delete stock-out by time")
        << f(u"DELETE FROM DEVICE_OUT WHERE out_date=#%s#", {d("2004-2-1 8:0:0")})
        << "SELECT code FROM DEVICE_OUT" << QStringList{"2"};
    QTest::newRow("delete return by time")
        << f(u"DELETE FROM DEVICE_RETURN WHERE return_date=#%s#", {d("2004-3-2 8:0:0")})
        << "SELECT code FROM DEVICE_RETURN" << QStringList{"1"};
    QTest::newRow("delete demand pair, all rows of it")
        << f(u"DELETE FROM DEVICE_NEED WHERE code='%s' AND department='%s'", {t("1"), t("部门A")})
        << "SELECT department FROM DEVICE_NEED" << QStringList{"部门B"};
    QTest::newRow("delete purchase plan by time")
        << f(u"DELETE FROM DEVICE_WANTBUY WHERE buy_date=#%s#", {d("2004-05-01 10:00:00")})
        << "SELECT code FROM DEVICE_WANTBUY" << QStringList{"2"};
    QTest::newRow("add user") << f(u"INSERT INTO user (user,pswd,class) VALUES('%s','%s','%s')",
                                   {t("O'Hara"), t("p'w"), t("2")})
                              << "SELECT user FROM user WHERE pswd='p''w'" << QStringList{"O'Hara"};
    QTest::newRow("delete user") << f(u"DELETE FROM user WHERE user='%s'", {t("guest")})
                                 << "SELECT user FROM user" << QStringList{"admin"};
    QTest::newRow("log row")
        << f(u"INSERT INTO HOWDO (do_user,do_what,do_date) VALUES('%s','%s','%d-%d-%d %d:%d:%d')",
             {t("O'Brien"), t("添加入库信息"), 2004, 12, 31, 23, 59, 59})
        << "SELECT do_date FROM HOWDO WHERE do_user='O''Brien'"
        << QStringList{"2004-12-31 23:59:59"};
    for (const char* table : {"DEVICE_CODE", "DEVICE_IN", "DEVICE_OUT", "DEVICE", "DEVICE_NEED",
                              "DEVICE_RETURN", "HOWDO", "DEVICE_WANTBUY"}) {
        const QString sql = QStringLiteral("DELETE * FROM %1").arg(QLatin1String(table));
        QTest::newRow(sql.toLatin1().constData())
            << sql << QStringLiteral("SELECT * FROM %1").arg(QLatin1String(table)) << QStringList{};
    }
}

void TestSqlForms::forms()
{
    QFETCH(QString, sql);
    QFETCH(QString, check);
    QFETCH(QStringList, expected);
    if (check.isEmpty()) {
        check = sql;
    } else {
        m_c->execute(sql);
    }
    QStringList got;
    for (const QStringList& row : test::rows(*m_c, check))
        got << row.first();
    got.sort();
    expected.sort();
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TestSqlForms)
#include "tst_sqlforms.moc"

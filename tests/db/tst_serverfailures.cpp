// The shared server failing under the program: stopped, restarted,
// refusing the database account. Each is met with a real server that
// scripts/pg-cluster.sh stops and starts, never a mock.
#include "app/VOKDlg.h"
#include "core/StockChange.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "support/TestSupport.h"
#include "ui/ComErrorBox.h"
#include "ui/MessageService.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace vok;

namespace {

// Runs one verb of the test cluster script on the running cluster.
bool cluster(const QString& verb)
{
    QProcess p;
    p.start(QStringLiteral("bash"),
            {QStringLiteral(VOK_SOURCE_DIR "/scripts/pg-cluster.sh"), verb});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning("pg-cluster.sh %s: %s", qPrintable(verb), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

qint64 stockIns(Connection& c)
{
    return c.count({"DEVICE_IN"});
}

void addStockIn(Connection& c, const QString& code)
{
    c.append(QStringLiteral("DEVICE_IN"), {"code", "in_number"}, {code, 1.0f});
}

// The failure of one action, or Other with an empty text when it went through.
template <typename F> DbError failureOf(F&& action)
{
    try {
        action();
    } catch (const DbError& e) {
        return e;
    }
    return DbError(DbError::Kind::Engine, QString());
}

} // namespace

class TestServerFailures : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void restartedServerIsToldAndReconnects();
    void transactionAcrossTheBreakLeavesNothing();
    void mainWindowAsksAndReconnects_data();
    void mainWindowAsksAndReconnects();
    void stoppedServerIsUnreachable();
    void everyActionOffersTheReconnectAgain();
    void refusedLogInIsTold();
    void uniqueKeyIsTold();
    void refusedValueIsTold();
    void lockedRowIsWaitedForAsLongAsAFile();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestServerFailures::init()
{
    if (qEnvironmentVariableIsEmpty("VOK_PG_DIR"))
        QSKIP("needs a cluster of scripts/pg-cluster.sh (VOK_PG_DIR) to stop and start");
    m_sandbox = std::make_unique<test::Sandbox>();
}

void TestServerFailures::cleanup()
{
    m_sandbox.reset();
}

void TestServerFailures::restartedServerIsToldAndReconnects()
{
    auto c = m_sandbox->open();
    addStockIn(*c, QStringLiteral("a"));
    QVERIFY(cluster(QStringLiteral("restart")));

    const DbError lost = failureOf([&] { addStockIn(*c, QStringLiteral("b")); });
    QVERIFY2(lost.failure() == DbError::Failure::ConnectionLost, qPrintable(lost.text()));
    QVERIFY2(lost.text().startsWith(failureText(DbError::Failure::ConnectionLost) + '\n'),
             qPrintable(lost.text()));
    QVERIFY(!lost.detail().isEmpty());
    // Every later action says the same at once, until reopened.
    QCOMPARE(failureOf([&] { stockIns(*c); }).failure(), DbError::Failure::ConnectionLost);

    c->reopen();
    addStockIn(*c, QStringLiteral("c"));
    QCOMPARE(test::rows(*c, "SELECT code FROM DEVICE_IN"), (QList<QStringList>{{"a"}, {"c"}}));
}

void TestServerFailures::transactionAcrossTheBreakLeavesNothing()
{
    auto c = m_sandbox->open();
    {
        Transaction t(*c);
        addStockIn(*c, QStringLiteral("a"));
        QVERIFY(cluster(QStringLiteral("restart")));
        const DbError lost = failureOf([&] { addStockIn(*c, QStringLiteral("b")); });
        QVERIFY2(lost.failure() == DbError::Failure::ConnectionLost, qPrintable(lost.text()));
        QCOMPARE(failureOf([&] { t.commit(); }).failure(), DbError::Failure::ConnectionLost);
    }
    c->reopen();
    QCOMPARE(stockIns(*c), 0);
    QVERIFY(!c->inTransaction());
    {
        Transaction t(*c);
        addStockIn(*c, QStringLiteral("a"));
        t.commit();
    }
    QCOMPARE(stockIns(*c), 1);
}

void TestServerFailures::mainWindowAsksAndReconnects_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("是") << true;
    QTest::newRow("否") << false;
}

// The COM error box of any form asks; "是" opens the main window's
// connection again, which the form and the log hold, and the log writes.
void TestServerFailures::mainWindowAsksAndReconnects()
{
    QFETCH(bool, yes);
    CVOKDlg w;
    auto c = m_sandbox->open();
    w.replaceConnection(c);
    QVERIFY(cluster(QStringLiteral("restart")));
    const DbError lost = failureOf([&] { stockIns(*c); });
    QCOMPARE(lost.failure(), DbError::Failure::ConnectionLost);

    Messages::queueAnswer(yes ? Messages::Answer::Yes : Messages::Answer::No);
    showComError(lost, &w);
    QCOMPARE(Messages::shown().first().text, reconnectQuestion(lost));
    QCOMPARE(Messages::shown().first().buttons, Messages::Buttons::YesNo);
    QVERIFY(reconnectQuestion(lost).startsWith("与数据库服务器的连接已断开，操作没有完成，未保存任"
                                               "何更改。\r\n是否重新连接数据库服务器？\r\n\r\n"));
    if (yes) {
        QCOMPARE(Messages::shownTexts(), (QStringList{reconnectQuestion(lost), reconnectedText()}));
        QCOMPARE(stockIns(*c), 0);
        QVERIFY(writeLog(w.log(), QStringLiteral("添加入库信息")));
        QCOMPARE(c->count({"HOWDO"}), 1);
    } else {
        QCOMPARE(Messages::shownTexts().size(), 1);
        QCOMPARE(failureOf([&] { stockIns(*c); }).failure(), DbError::Failure::ConnectionLost);
    }
}

void TestServerFailures::stoppedServerIsUnreachable()
{
    auto c = m_sandbox->open();
    QVERIFY(cluster(QStringLiteral("halt")));
    const DbError lost = failureOf([&] { stockIns(*c); });
    const DbError unreachable = failureOf([&] { m_sandbox->open(); });
    // A reconnection while the server is down is refused the same way,
    // and the main window's box shows it.
    const DbError again = failureOf([&] { c->reopen(); });
    QVERIFY(cluster(QStringLiteral("resume")));
    QCOMPARE(lost.failure(), DbError::Failure::ConnectionLost);
    QVERIFY2(unreachable.failure() == DbError::Failure::Unreachable,
             qPrintable(unreachable.text()));
    QVERIFY(unreachable.text().startsWith(
        "无法连接数据库服务器。请检查网络和服务器是否已开启，然后再试。\n"));
    QCOMPARE(again.failure(), DbError::Failure::Unreachable);
    c->reopen();
    QCOMPARE(stockIns(*c), 0);
}

// A reconnection while the server is down fails; every later action
// still offers it, and the one after the server is back goes through.
void TestServerFailures::everyActionOffersTheReconnectAgain()
{
    CVOKDlg w;
    auto c = m_sandbox->open();
    w.replaceConnection(c);
    QVERIFY(cluster(QStringLiteral("halt")));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DbError lost = failureOf([&] { stockIns(*c); });
        QVERIFY2(lost.failure() == DbError::Failure::ConnectionLost, qPrintable(lost.text()));
        Messages::clearShown();
        Messages::queueAnswer(Messages::Answer::Yes);
        showComError(lost, &w);
        QCOMPARE(Messages::shown().size(), 2);
        QCOMPARE(Messages::shown().first().text, reconnectQuestion(lost));
        QVERIFY2(Messages::shown().last().text.startsWith(
                     "无法连接数据库服务器。请检查网络和服务器是否已开启，然后再试。"),
                 qPrintable(Messages::shown().last().text));
    }
    QVERIFY(cluster(QStringLiteral("resume")));
    const DbError lost = failureOf([&] { addStockIn(*c, QStringLiteral("a")); });
    QCOMPARE(lost.failure(), DbError::Failure::ConnectionLost);
    Messages::clearShown();
    Messages::queueAnswer(Messages::Answer::Yes);
    showComError(lost, &w);
    QCOMPARE(Messages::shownTexts(), (QStringList{reconnectQuestion(lost), reconnectedText()}));
    addStockIn(*c, QStringLiteral("a"));
    QCOMPARE(stockIns(*c), 1);
}

void TestServerFailures::refusedLogInIsTold()
{
    // The database account's password changes on the server; the data
    // sources still hold the old one.
    QFile ini(qEnvironmentVariable("ODBCINI"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QString password =
        QRegularExpression("Password=(\\w+)").match(QString::fromUtf8(ini.readAll())).captured(1);
    QVERIFY(!password.isEmpty());
    auto c = m_sandbox->open();
    // A role's password is no value a statement can bind.
    // A role's password is no value a statement can bind.
    test::exec(*c, "ALTER ROLE vok PASSWORD 'changed'");
    const DbError refused = failureOf([&] { m_sandbox->open(); });
    test::exec(*c, QStringLiteral("ALTER ROLE vok PASSWORD '%1'").arg(password));
    QVERIFY2(refused.failure() == DbError::Failure::LoginRefused, qPrintable(refused.text()));
    QVERIFY(refused.text().startsWith(
        "数据库服务器拒绝登录。请让管理员检查数据源中的数据库帐户和密码。\n"));
}

void TestServerFailures::uniqueKeyIsTold()
{
    auto c = m_sandbox->open();
    test::exec(*c, "CREATE TEMPORARY TABLE probe (code TEXT UNIQUE)");
    test::seed(*c, "probe(code)", {{"1"}});
    const DbError twice = failureOf([&] { test::seed(*c, "probe(code)", {{"1"}}); });
    QCOMPARE(twice.failure(), DbError::Failure::Unique);
    QVERIFY2(twice.text().startsWith(failureText(DbError::Failure::Unique) + "\nERROR: duplicate"),
             qPrintable(twice.text()));
}

void TestServerFailures::refusedValueIsTold()
{
    auto c = m_sandbox->open();
    const DbError refused = failureOf([&] { test::seed(*c, "DEVICE_IN", {{"a", "abc"}}); });
    QCOMPARE(refused.failure(), DbError::Failure::BadValue);
    QVERIFY2(
        refused.text().startsWith("数据库不接受输入的值（日期、时间或数字的写法不对），操作没有"
                                  "完成。请检查输入的值后再试。\nERROR: invalid input syntax"),
        qPrintable(refused.text()));
}

void TestServerFailures::lockedRowIsWaitedForAsLongAsAFile()
{
    // Another connection holds the device's row, as a stock-out in another
    // program does: the wait ends as the embedded engine's does, in its
    // words, and nothing is changed.
    const auto holder = m_sandbox->open();
    test::seed(*holder, "DEVICE", {{"001", 5, 10, 1, 8}});
    const auto c = m_sandbox->open();
    QCOMPARE(test::rows(*c, "SELECT current_setting(?)", {"lock_timeout"}),
             QList<QStringList>{{"15s"}});
    test::exec(*c, "SET lock_timeout = '1s'"); // the same wait, shorter
    Transaction hold(*holder);
    QCOMPARE(test::rows(*holder, "SELECT code FROM DEVICE WHERE code=? FOR UPDATE", {"001"}).size(),
             1);
    QElapsedTimer waited;
    waited.start();
    const DbError busy = failureOf([&] {
        Transaction out(*c);
        Stock::issue(*c, "001", 1);
        out.commit();
    });
    QVERIFY2(busy.failure() == DbError::Failure::Busy, qPrintable(busy.text()));
    QVERIFY2(busy.text().startsWith(failureText(DbError::Failure::Busy) + '\n'),
             qPrintable(busy.text()));
    QVERIFY(waited.elapsed() < 10000);
    hold.commit();
    QCOMPARE(readStock(*c, "001").now, 5.0f);
}

QTEST_MAIN(TestServerFailures)
#include "tst_serverfailures.moc"

#include "core/Clock.h"
#include "core/OperationLog.h"
#include "db/Connection.h"
#include "support/TestSupport.h"
#include "ui/ComErrorBox.h"
#include "ui/MessageService.h"

#include <QTest>

using namespace vok;

class TestOperationLog : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void writesUnpaddedLocalTime_data();
    void writesUnpaddedLocalTime();
    void quotesAreWrittenAsTyped();
    void failureShowsComErrorBox();
    void attachReplacesConnectionAndUser();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestOperationLog::writesUnpaddedLocalTime_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("stored");
    QTest::newRow("morning") << QDateTime(QDate(2004, 1, 5), QTime(9, 5, 0)) << "2004-1-5 9:5:0"
                             << "2004-01-05 09:05:00";
    QTest::newRow("last second of the year")
        << QDateTime(QDate(2004, 12, 31), QTime(23, 59, 59)) << "2004-12-31 23:59:59"
        << "2004-12-31 23:59:59";
    QTest::newRow("midnight") << QDateTime(QDate(2004, 1, 1), QTime(0, 0, 0)) << "2004-1-1 0:0:0"
                              << "2004-01-01 00:00:00";
}

void TestOperationLog::writesUnpaddedLocalTime()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, written);
    QFETCH(QString, stored);
    QCOMPARE(unpaddedDateTime(time), written);
    auto c = m_sandbox->open();
    COperationLog log;
    log.attach(c, QStringLiteral("张三"));
    Clock::setNow(time);
    QVERIFY(writeLog(log, QStringLiteral("登录数据库")));
    QVERIFY(writeLog(log, QStringLiteral("登录数据库"))); // same second: a second row
    QCOMPARE(test::rows(*c, "SELECT do_user, do_what, do_date FROM HOWDO"),
             (QList<QStringList>{{"张三", "登录数据库", stored}, {"张三", "登录数据库", stored}}));
}

void TestOperationLog::quotesAreWrittenAsTyped()
{
    auto c = m_sandbox->open();
    COperationLog log;
    log.attach(c, QStringLiteral("O'Brien"));
    QVERIFY(writeLog(log, QStringLiteral("it's done")));
    QCOMPARE(test::rows(*c, "SELECT do_user, do_what FROM HOWDO"),
             (QList<QStringList>{{"O'Brien", "it's done"}}));
    QVERIFY(Messages::shown().isEmpty());
}

void TestOperationLog::failureShowsComErrorBox()
{
    auto c = m_sandbox->open();
    test::exec(*c, "DROP TABLE HOWDO");
    COperationLog log;
    log.attach(c, QStringLiteral("a"));
    QVERIFY(!writeLog(log, QStringLiteral("添加入库信息")));
    QCOMPARE(Messages::shown().size(), 1);
    const Messages::Shown box = Messages::shown().first();
    if (test::onServer())
        QVERIFY2(box.text.startsWith(QStringLiteral("ERROR: relation \"howdo\" does not exist")),
                 qPrintable(box.text));
    else
        QCOMPARE(box.text, QStringLiteral("no such table: HOWDO"));
    QCOMPARE(box.caption, appTitle());
    QCOMPARE(box.icon, Messages::Icon::Exclamation);
    QCOMPARE(box.buttons, Messages::Buttons::Ok);

    COperationLog detached;
    QVERIFY(!writeLog(detached, QStringLiteral("x")));
    QCOMPARE(Messages::shown().size(), 2);
}

void TestOperationLog::attachReplacesConnectionAndUser()
{
    auto a = m_sandbox->open(QStringLiteral("VOK1"));
    auto b = m_sandbox->open(QStringLiteral("VOK2"));
    COperationLog log;
    log.attach(a, QStringLiteral("甲"));
    log.write(QStringLiteral("登录数据库"));
    log.attach(b, QStringLiteral("乙"));
    log.write(QStringLiteral("重新登录数据库"));
    QCOMPARE(test::rows(*a, "SELECT do_user, do_what FROM HOWDO"),
             (QList<QStringList>{{"甲", "登录数据库"}}));
    QCOMPARE(test::rows(*b, "SELECT do_user, do_what FROM HOWDO"),
             (QList<QStringList>{{"乙", "重新登录数据库"}}));
}

QTEST_GUILESS_MAIN(TestOperationLog)
#include "tst_operationlog.moc"

#include "core/OperationLog.h"
#include "stock/DeviceCardDlg.h"
#include "ui/DeviceScan.h"
#include "ui/MessageService.h"

#include "support/FormTest.h"
#include "support/TestSupport.h"

#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

using namespace vok;

// The device card, as a storekeeper scans a label: the code, then Enter.
class TestDeviceCard : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void scannedCodeShowsItsCard();
    void unknownCodeKeepsTheCard();
    void latestTwentyMovements();

private:
    void scan(QWidget& form, const QString& code);

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
};

void TestDeviceCard::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    test::seed(*m_db, "DEVICE_CODE", {{"D001", "投影仪"}, {"D002", "交换机"}});
    test::seed(*m_db, "DEVICE", {{"D001", 7, 20, 2, 12}});
}

void TestDeviceCard::cleanup()
{
    m_db.reset();
    m_sandbox.reset();
}

void TestDeviceCard::scan(QWidget& form, const QString& code)
{
    auto* edit = form.findChild<QLineEdit*>("code");
    QVERIFY(edit);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, code);
    QTest::keyClick(edit, Qt::Key_Return);
}

void TestDeviceCard::scannedCodeShowsItsCard()
{
    test::seed(*m_db, "DEVICE_IN", {{"D001", "2004-1-5 9:3:7", "华光公司", "1", 10, 100, "甲"}});
    test::seed(*m_db, "DEVICE_OUT",
               {{"D001", "技术部", "2004-1-6 10:0:0", "正常", "乙", 5, "丙", "会议"}});
    test::seed(*m_db, "DEVICE_RETURN", {{"D001", "2004-1-7 8:0:0", "乙", 2, "丙"}});
    test::seed(*m_db, "DEVICE_IN", {{"D002", "2004-1-8 9:0:0", "华光公司", "1", 3, 100, "甲"}});
    COperationLog log;
    auto form = test::openForm<CDeviceCardDlg>(test::formContext(m_db, &log));
    scan(*form, "D001");
    QVERIFY(form->isVisible());
    QVERIFY(Messages::shown().isEmpty());
    QCOMPARE(form->findChild<QLineEdit*>("name")->text(), QStringLiteral("投影仪"));
    QStringList figures;
    for (const char* name : {"now", "high", "low", "total"})
        figures << form->findChild<QLineEdit*>(name)->text();
    QCOMPARE(figures, QStringList({"7", "20", "2", "12"}));
    QCOMPARE(test::listed(*form->movements()->model()),
             (QList<QStringList>{{"2004-01-07 08:00:00", "还库", "2", "丙"},
                                 {"2004-01-06 10:00:00", "出库", "5", "技术部　丙"},
                                 {"2004-01-05 09:03:07", "入库", "10", "华光公司"}}));
    QVERIFY(CDeviceCardDlg::cardHtml(*form->card()).contains("设备卡片：D001"));
    test::savePicture(*form, "devicecard");
}

void TestDeviceCard::unknownCodeKeepsTheCard()
{
    COperationLog log;
    auto form = test::openForm<CDeviceCardDlg>(test::formContext(m_db, &log));
    scan(*form, "D002");
    QCOMPARE(form->findChild<QLineEdit*>("name")->text(), QStringLiteral("交换机"));
    // A device without a stock row shows zeros.
    QCOMPARE(form->findChild<QLineEdit*>("now")->text(), QStringLiteral("0"));
    scan(*form, "X9");
    QVERIFY(form->isVisible());
    QCOMPARE(Messages::shown().size(), 1);
    QCOMPARE(Messages::shown().first().text, DeviceScan::unknownCodeText("X9"));
    QCOMPARE(form->findChild<QLineEdit*>("name")->text(), QStringLiteral("交换机"));
    QCOMPARE(form->card()->code, QStringLiteral("D002"));
}

void TestDeviceCard::latestTwentyMovements()
{
    Transaction t(*m_db);
    for (int day = 1; day <= 15; ++day) {
        const QString date = QStringLiteral("2004-2-%1").arg(day);
        test::seed(*m_db, "DEVICE_IN", {{"D001", date + " 9:0:0", "甲", "1", day, 1, "甲"}});
        test::seed(*m_db, "DEVICE_RETURN", {{"D001", date + " 10:0:0", "乙", day, "丙"}});
    }
    t.commit();
    COperationLog log;
    auto form = test::openForm<CDeviceCardDlg>(test::formContext(m_db, &log));
    scan(*form, "D001");
    const QList<QStringList> shown = test::listed(*form->movements()->model());
    QCOMPARE(shown.size(), 20);
    QCOMPARE(shown.first(), (QStringList{"2004-02-15 10:00:00", "还库", "15", "丙"}));
    QCOMPARE(shown.last(), (QStringList{"2004-02-06 09:00:00", "入库", "6", "甲"}));
}

QTEST_MAIN(TestDeviceCard)
#include "tst_devicecard.moc"

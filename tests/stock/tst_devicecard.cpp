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
    QList<QStringList> shownMovements(const CDeviceCardDlg& form);

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
};

void TestDeviceCard::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_db->execute("INSERT INTO DEVICE_CODE (code,name) VALUES('D001','投影仪')");
    m_db->execute("INSERT INTO DEVICE_CODE (code,name) VALUES('D002','交换机')");
    m_db->execute("INSERT INTO DEVICE (code,now_number,high_number,low_number,total_number) "
                  "VALUES('D001',7,20,2,12)");
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

QList<QStringList> TestDeviceCard::shownMovements(const CDeviceCardDlg& form)
{
    QList<QStringList> rows;
    const QTableWidget* t = form.movements();
    for (int r = 0; r < t->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < t->columnCount(); ++c)
            row << t->item(r, c)->text();
        rows << row;
    }
    return rows;
}

void TestDeviceCard::scannedCodeShowsItsCard()
{
    m_db->execute("INSERT INTO DEVICE_IN (code,in_date,provider,teleno,in_number,price,buyer) "
                  "VALUES('D001','2004-1-5 9:3:7','华光公司','1',10,100,'甲')");
    m_db->execute("INSERT INTO DEVICE_OUT "
                  "(code,department,out_date,out_state,out_person,out_number,taker,usage) "
                  "VALUES('D001','技术部','2004-1-6 10:0:0','正常','乙',5,'丙','会议')");
    m_db->execute("INSERT INTO DEVICE_RETURN (code,return_date,keeper,return_number,return_person) "
                  "VALUES('D001','2004-1-7 8:0:0','乙',2,'丙')");
    m_db->execute("INSERT INTO DEVICE_IN (code,in_date,provider,teleno,in_number,price,buyer) "
                  "VALUES('D002','2004-1-8 9:0:0','华光公司','1',3,100,'甲')");
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
    QCOMPARE(shownMovements(*form),
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
        m_db->execute(QStringLiteral("INSERT INTO DEVICE_IN "
                                     "(code,in_date,provider,teleno,in_number,price,buyer) "
                                     "VALUES('D001','2004-2-%1 9:0:0','甲','1',%1,1,'甲')")
                          .arg(day));
        m_db->execute(QStringLiteral("INSERT INTO DEVICE_RETURN "
                                     "(code,return_date,keeper,return_number,return_person) "
                                     "VALUES('D001','2004-2-%1 10:0:0','乙',%1,'丙')")
                          .arg(day));
    }
    t.commit();
    COperationLog log;
    auto form = test::openForm<CDeviceCardDlg>(test::formContext(m_db, &log));
    scan(*form, "D001");
    const QList<QStringList> shown = shownMovements(*form);
    QCOMPARE(shown.size(), 20);
    QCOMPARE(shown.first(), (QStringList{"2004-02-15 10:00:00", "还库", "15", "丙"}));
    QCOMPARE(shown.last(), (QStringList{"2004-02-06 09:00:00", "入库", "6", "甲"}));
}

QTEST_MAIN(TestDeviceCard)
#include "tst_devicecard.moc"

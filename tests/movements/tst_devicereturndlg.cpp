#include "EntryFormDriver.h"

#include "movements/DeviceReturnDlg.h"

using namespace vok;
using namespace vok::test;

class TestDeviceReturnDlg : public EntryFormTest
{
    Q_OBJECT
private slots:
    void checks_data();
    void checks();
    void returnRaisesNowOnly_data();
    void returnRaisesNowOnly();
    void failureLeavesNeitherRow();
    void layoutAndPicture();
};

void TestDeviceReturnDlg::checks_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("class 3 before the device") << 3 << Typed{} << kRefusal;
    QTest::newRow("nothing chosen") << 1 << Typed{{"number", "3"}} << "请选择一个设备";
    QTest::newRow("quantity left at 0") << 1 << Typed{{"device", "a1"}} << kRange;
    QTest::newRow("quantity 10001") << 1 << Typed{{"device", "a1"}, {"number", "10001"}} << kRange;
    QTest::newRow("keeper over 20 bytes, before the quantity")
        << 1 << Typed{{"device", "a1"}, {"keeper", QString(11, QChar(0x674E))}}
        << "“请填入不多于20个的字符。”";
}

void TestDeviceReturnDlg::checks()
{
    QFETCH(int, classNumber);
    QFETCH(Typed, typed);
    QFETCH(QString, message);
    d->stock("a1", 5);
    expectRefused<CDeviceReturnDlg>(classNumber, typed, message, "DEVICE_RETURN");
    QCOMPARE(d->stockRows(), (QList<QStringList>{{"a1", "5", "20", "2", "50"}}));
}

void TestDeviceReturnDlg::returnRaisesNowOnly_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QList<QStringList>>("stock");
    QTest::newRow("stock row raised by 3")
        << "a1"
        << "3" << QList<QStringList>{{"a1", "8", "20", "2", "50"}};
    QTest::newRow("any quantity up to 10000")
        << "a1"
        << "10000" << QList<QStringList>{{"a1", "10005", "20", "2", "50"}};
    QTest::newRow("no stock row: none is made")
        << "B2"
        << "3" << QList<QStringList>{{"a1", "5", "20", "2", "50"}};
}

void TestDeviceReturnDlg::returnRaisesNowOnly()
{
    QFETCH(QString, code);
    QFETCH(QString, quantity);
    QFETCH(QList<QStringList>, stock);
    d->stock("a1", 5);
    auto f = d->open<CDeviceReturnDlg>();
    EntryFormDriver::type(f.get(), {{"device", code},
                                    {"keeper", "管理员甲"},
                                    {"number", quantity},
                                    {"returnPerson", "归还人乙"}});
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(d->rows("SELECT * FROM DEVICE_RETURN"),
             (QList<QStringList>{{code, "2004-01-05 09:03:07", "管理员甲", quantity, "归还人乙"}}));
    QCOMPARE(d->stockRows(), stock);
    QCOMPARE(d->logged(), QStringList{"添加还库信息"});
    QVERIFY(!f->isVisible());
}

void TestDeviceReturnDlg::failureLeavesNeitherRow()
{
    d->stock("a1", 5);
    d->scripted->beforeStore = [] {
        throw DbError(DbError::Kind::Engine, QStringLiteral("库存写入失败"));
    };
    auto f = d->open<CDeviceReturnDlg>();
    EntryFormDriver::type(f.get(), {{"device", "a1"}, {"number", "3"}});
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{"库存写入失败"});
    QVERIFY(d->rows("SELECT * FROM DEVICE_RETURN").isEmpty());
    QCOMPARE(d->stockRows(), (QList<QStringList>{{"a1", "5", "20", "2", "50"}}));
    QVERIFY(d->logged().isEmpty());
    QVERIFY(f->isVisible());
}

void TestDeviceReturnDlg::layoutAndPicture()
{
    auto f = d->open<CDeviceReturnDlg>();
    QCOMPARE(f->windowTitle(), QStringLiteral("设备还库登记"));
    // The buttons stand in a column right of the box, confirm on top.
    QWidget* box = f->findChild<QWidget*>("inputGroup");
    QPushButton* ok = f->commands()->button(CDeviceReturnDlg::IDC_CONFIRM);
    QPushButton* help = f->commands()->button(CommandTable::kHelp);
    QPushButton* exit = f->commands()->button(CommandTable::kExit);
    QVERIFY(ok->x() >= box->geometry().right());
    QCOMPARE(help->x(), ok->x());
    QVERIFY(ok->y() < help->y() && help->y() < exit->y());
    QVERIFY(exit->isDefault());
    EntryFormDriver::grab(f.get(), "devicereturn");
    QVERIFY(d->helpTopicOf(f.get()).contains("devret.htm"));
}

QTEST_MAIN(TestDeviceReturnDlg)
#include "tst_devicereturndlg.moc"

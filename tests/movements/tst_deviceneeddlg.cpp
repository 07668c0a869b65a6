#include "EntryFormDriver.h"

#include "movements/DeviceNeedDlg.h"

#include <QDateEdit>

using namespace vok;
using namespace vok::test;

class TestDeviceNeedDlg : public EntryFormTest
{
    Q_OBJECT
private slots:
    void checks_data();
    void checks();
    void demandIsStoredAsText_data();
    void demandIsStoredAsText();
    void departmentStopsAtTenBytes();
    void layoutAndPicture();
};

void TestDeviceNeedDlg::checks_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<QString>("message");
    const Typed ok{{"device", "a1"}, {"department", "车间"}, {"number", "5"}};
    QTest::newRow("nothing chosen") << 3 << Typed{{"number", "5"}} << "请选择一个设备";
    QTest::newRow("department over 10 bytes")
        << 1 << Typed{{"device", "a1"}, {"department", QString(6, QChar(0x90E8))}, {"number", "x"}}
        << "“请填入不多于10个的字符。”";
    QTest::newRow("quantity left at 0")
        << 1 << Typed{{"device", "a1"}, {"department", "车间"}} << kRange;
    QTest::newRow("class 3 with valid fields") << 3 << ok << kRefusal;
    QTest::newRow("class 3, empty department")
        << 3 << Typed{{"device", "a1"}, {"number", "5"}} << kRefusal;
    QTest::newRow("empty department")
        << 1 << Typed{{"device", "a1"}, {"number", "5"}} << "部门一项不能为空！";
    QTest::newRow("end before start") << 1
                                      << Typed{{"device", "a1"},
                                               {"department", "车间"},
                                               {"number", "5"},
                                               {"beginDate", "2004-12-31"},
                                               {"endDate", "2004-1-1"}}
                                      << "结束时间不能早于开始时间！";
}

void TestDeviceNeedDlg::checks()
{
    QFETCH(int, classNumber);
    QFETCH(Typed, typed);
    QFETCH(QString, message);
    expectRefused<CDeviceNeedDlg>(classNumber, typed, message, "DEVICE_NEED");
}

void TestDeviceNeedDlg::demandIsStoredAsText_data()
{
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QDate>("begin");
    QTest::addColumn<QDate>("end");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("10000 with six decimals")
        << "一车间"
        << "10000" << QDate(2004, 1, 5) << QDate(2004, 3, 1)
        << QStringList{"a1", "一车间", "2004-1-5", "2004-3-1", "10000.000000"};
    QTest::newRow("one day, blanks for a department")
        << "   "
        << "2.5" << QDate(2004, 12, 31) << QDate(2004, 12, 31)
        << QStringList{"a1", "   ", "2004-12-31", "2004-12-31", "2.500000"};
}

void TestDeviceNeedDlg::demandIsStoredAsText()
{
    QFETCH(QString, department);
    QFETCH(QString, quantity);
    QFETCH(QDate, begin);
    QFETCH(QDate, end);
    QFETCH(QStringList, written);
    d->stock("a1", 5);
    auto f = d->open<CDeviceNeedDlg>();
    qobject_cast<QDateEdit*>(EntryFormDriver::control(f.get(), "beginDate"))->setDate(begin);
    qobject_cast<QDateEdit*>(EntryFormDriver::control(f.get(), "endDate"))->setDate(end);
    EntryFormDriver::type(f.get(),
                          {{"device", "a1"}, {"department", department}, {"number", quantity}});
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(d->scripted->appends.size(), 1);
    QCOMPARE(d->scripted->appends.at(0).table, QStringLiteral("DEVICE_NEED"));
    QStringList values;
    for (const QVariant& v : d->scripted->appends.at(0).values) {
        QCOMPARE(v.typeId(), QMetaType::QString);
        values << v.toString();
    }
    QCOMPARE(values, written);
    QCOMPARE(d->rows("SELECT code, department FROM DEVICE_NEED"),
             (QList<QStringList>{{"a1", department}}));
    QCOMPARE(d->stockRows(), (QList<QStringList>{{"a1", "5", "20", "2", "50"}}));
    QCOMPARE(d->logged(), QStringList{"添加需求信息"});
    QVERIFY(!f->isVisible());
}

void TestDeviceNeedDlg::departmentStopsAtTenBytes()
{
    auto f = d->open<CDeviceNeedDlg>();
    auto* edit = qobject_cast<QLineEdit*>(EntryFormDriver::control(f.get(), "department"));
    edit->setFocus();
    QTest::keyClicks(edit, "abcdefghijkl");
    QCOMPARE(edit->text(), QStringLiteral("abcdefghij"));
    edit->clear();
    for (const char* c : {"设", "备", "需", "求", "部", "门"})
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString::fromUtf8(c),
                            Qt::NoModifier);
    QCOMPARE(edit->text(), QStringLiteral("设备需求部"));
}

void TestDeviceNeedDlg::layoutAndPicture()
{
    auto f = d->open<CDeviceNeedDlg>();
    QCOMPARE(f->windowTitle(), QStringLiteral("设备需求登记"));
    for (const char* name : {"beginDate", "endDate"}) {
        auto* picker = qobject_cast<QDateEdit*>(EntryFormDriver::control(f.get(), name));
        QVERIFY(picker->calendarPopup());
        QCOMPARE(picker->date(), QDate(2004, 1, 5));
    }
    QCOMPARE(test::accessibleNames(*f, {"beginDate", "endDate"}),
             (QStringList{"开始时间", "结束时间"}));
    EntryFormDriver::grab(f.get(), "deviceneed");
    QVERIFY(d->helpTopicOf(f.get()).contains("devneed.htm"));
}

QTEST_MAIN(TestDeviceNeedDlg)
#include "tst_deviceneeddlg.moc"

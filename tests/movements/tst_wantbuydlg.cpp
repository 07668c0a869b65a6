#include "EntryFormDriver.h"

#include "movements/WantBuyDlg.h"

#include <QContextMenuEvent>
#include <QDateEdit>
#include <QLabel>
#include <QMenu>

using namespace vok;
using namespace vok::test;

class TestWantBuyDlg : public EntryFormTest
{
    Q_OBJECT
private slots:
    void closeUpShowsNameAndFigures();
    void checks_data();
    void checks();
    void planRowIsStoredAsText_data();
    void planRowIsStoredAsText();
    void layoutAndPicture();
};

void TestWantBuyDlg::closeUpShowsNameAndFigures()
{
    d->stock("a1", 5, 30, 2, 1234567);
    auto f = d->open<CWantBuyDlg>();
    EntryFormDriver::type(f.get(), {{"buyNumber", "7"}, {"provider", "供应商甲"}});
    EntryFormDriver::choose(f.get(), "a1");
    auto shown = [&] {
        QStringList t;
        for (const char* name :
             {"name", "maxNumber", "totalNumber", "nowNumber", "buyNumber", "provider"})
            t << EntryFormDriver::text(f.get(), name);
        return t;
    };
    QCOMPARE(shown(), (QStringList{"名a1", "30", "1.23457e+06", "5", "7", "供应商甲"}));
    EntryFormDriver::choose(f.get(), "B2");
    QCOMPARE(shown(), (QStringList{"名B2", "0", "0", "0", "7", "供应商甲"}));
    // Chosen with the list closed: the figures of the last look-up stay.
    EntryFormDriver::type(f.get(), {{"device", "a1"}});
    QCOMPARE(shown().at(0), QStringLiteral("名B2"));
}

void TestWantBuyDlg::checks_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<QString>("message");
    const QString oneLine = QStringLiteral("你无权执行此项操作!请重新登录数据库!");
    QTest::newRow("class 3 before the device") << 3 << Typed{} << oneLine;
    QTest::newRow("nothing chosen")
        << 1 << Typed{{"buyNumber", "5"}, {"price", "5"}} << "请选择一个设备";
    QTest::newRow("quantity to buy left at 0") << 1 << Typed{{"device", "a1"}} << kRange;
    QTest::newRow("price left at 0") << 1 << Typed{{"device", "a1"}, {"buyNumber", "5"}} << kRange;
    QTest::newRow("supplier over 20 bytes") << 1
                                            << Typed{{"device", "a1"},
                                                     {"buyNumber", "5"},
                                                     {"price", "5"},
                                                     {"provider", QString(21, 's')}}
                                            << "“请填入不多于20个的字符。”";
}

void TestWantBuyDlg::checks()
{
    QFETCH(int, classNumber);
    QFETCH(Typed, typed);
    QFETCH(QString, message);
    expectRefused<CWantBuyDlg>(classNumber, typed, message, "DEVICE_WANTBUY");
}

void TestWantBuyDlg::planRowIsStoredAsText_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("no stock row: three zeros")
        << "B2" << QStringList{"B2",        "0.000000", "0.000000", "0.000000",
                               "12.000000", "供应商甲", "2.500000", "2004-1-5 9:3:7"};
    QTest::newRow("seven-digit total rounded to six digits")
        << "a1" << QStringList{"a1",        "5.000000", "1234570.000000", "30.000000",
                               "12.000000", "供应商甲", "2.500000",       "2004-1-5 9:3:7"};
}

void TestWantBuyDlg::planRowIsStoredAsText()
{
    QFETCH(QString, code);
    QFETCH(QStringList, written);
    d->stock("a1", 5, 30, 2, 1234567);
    auto f = d->open<CWantBuyDlg>();
    EntryFormDriver::choose(f.get(), code);
    EntryFormDriver::type(f.get(),
                          {{"buyNumber", "12"}, {"provider", "供应商甲"}, {"price", "2.5"}});
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(d->scripted->appends.size(), 1);
    QCOMPARE(d->scripted->appends.at(0).names,
             (QStringList{"code", "now_number", "total_number", "max_number", "buy_number",
                          "provider", "price", "buy_date"}));
    QStringList values;
    for (const QVariant& v : d->scripted->appends.at(0).values) {
        QCOMPARE(v.typeId(), QMetaType::QString);
        values << v.toString();
    }
    QCOMPARE(values, written);
    QCOMPARE(d->rows("SELECT code, total_number FROM DEVICE_WANTBUY").size(), 1);
    QCOMPARE(d->logged(), QStringList{"生成设备采购计划报表"});
    QCOMPARE(d->stockRows().at(0).at(1), QStringLiteral("5"));
    QVERIFY(!f->isVisible());
}

void TestWantBuyDlg::layoutAndPicture()
{
    d->stock("a1", 5, 30, 2, 100);
    auto f = d->open<CWantBuyDlg>();
    EntryFormDriver::choose(f.get(), "a1");
    QCOMPARE(f->commands()->button(CWantBuyDlg::IDC_GENERATE)->text(), QStringLiteral("生　　成"));
    QCOMPARE(f->commands()->button(CommandTable::kExit)->text(), QStringLiteral("退　　出"));
    QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5), f->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(f.get(), &right);
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!(qobject_cast<QMenu*>(w) && w->isVisible()));
    QCOMPARE(f->findChild<QLabel*>("heading")->text(), QStringLiteral("设备采购计划报表"));
    // Two columns: the name beside the code, the total beside the maximum.
    QWidget* code = EntryFormDriver::control(f.get(), "device");
    QWidget* name = EntryFormDriver::control(f.get(), "name");
    QCOMPARE(name->y(), code->y());
    QVERIFY(name->x() > code->geometry().right());
    QVERIFY(qobject_cast<QDateEdit*>(EntryFormDriver::control(f.get(), "date"))->calendarPopup());
    for (const char* name : {"name", "maxNumber", "totalNumber", "nowNumber"})
        QVERIFY(qobject_cast<QLineEdit*>(EntryFormDriver::control(f.get(), name))->isReadOnly());
    EntryFormDriver::grab(f.get(), "wantbuy");
    QVERIFY(d->helpTopicOf(f.get()).contains("report.htm"));
}

QTEST_MAIN(TestWantBuyDlg)
#include "tst_wantbuydlg.moc"

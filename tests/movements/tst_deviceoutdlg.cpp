#include "EntryFormDriver.h"

#include "movements/DeviceOutDlg.h"

#include <QLabel>

using namespace vok;
using namespace vok::test;

namespace {
const QString kOverLimit = QStringLiteral("超过最大限量！");
} // namespace

class TestDeviceOutDlg : public EntryFormTest
{
    Q_OBJECT
private slots:
    void closeUpShowsStockOnHand_data();
    void closeUpShowsStockOnHand();
    void checks_data();
    void checks();
    void issueLowersNowOnly_data();
    void issueLowersNowOnly();
    void staleFigureIsCheckedAgainstStockNow_data();
    void staleFigureIsCheckedAgainstStockNow();
    void failureLeavesNeitherRow();
    void enterInPurposeStartsANewLine();
    void layoutAndPicture();

private:
    std::unique_ptr<CDeviceOutDlg> chosen(const QString& code, int classNumber = 1)
    {
        auto f = d->open<CDeviceOutDlg>(classNumber);
        EntryFormDriver::choose(f.get(), code);
        return f;
    }
};

void TestDeviceOutDlg::closeUpShowsStockOnHand_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("shown");
    QTest::newRow("stock row") << "a1"
                               << "5";
    QTest::newRow("fraction") << "C3"
                              << "2.5";
    QTest::newRow("no stock row") << "B2"
                                  << "0";
}

void TestDeviceOutDlg::closeUpShowsStockOnHand()
{
    QFETCH(QString, code);
    QFETCH(QString, shown);
    d->stock("a1", 5);
    d->stock("C3", 2.5f);
    auto f = d->open<CDeviceOutDlg>();
    EntryFormDriver::type(f.get(), {{"department", "车间"}, {"number", "3"}});
    EntryFormDriver::choose(f.get(), "a1");
    QCOMPARE(EntryFormDriver::text(f.get(), "maxNumber"), QStringLiteral("5"));
    EntryFormDriver::choose(f.get(), code);
    QCOMPARE(EntryFormDriver::text(f.get(), "maxNumber"), shown);
    // What was typed stays; choosing with the list closed looks nothing up.
    QCOMPARE(EntryFormDriver::text(f.get(), "department"), QStringLiteral("车间"));
    QCOMPARE(EntryFormDriver::text(f.get(), "number"), QStringLiteral("3"));
    EntryFormDriver::type(f.get(), {{"device", "a1"}});
    QCOMPARE(EntryFormDriver::text(f.get(), "maxNumber"), shown);
    QCOMPARE(f->windowTitle(), QStringLiteral("设备出库登记"));
}

void TestDeviceOutDlg::checks_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("device"); // chosen from the opened list
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");

    const Typed ok{{"number", "5"}};
    // Typed after the valid texts, over them.
    auto with = [&](const Typed& changes) { return ok + changes; };
    QTest::newRow("class 3 first, nothing chosen") << 3 << "" << Typed{} << kRefusal << "";
    QTest::newRow("class 3 with valid fields") << 3 << "a1" << ok << kRefusal << "";
    QTest::newRow("nothing chosen") << 1 << "" << ok << "请选择一个设备"
                                    << "";
    QTest::newRow("quantity left at 0") << 1 << "a1" << Typed{} << kRange << "number";
    QTest::newRow("quantity not a number")
        << 1 << "a1" << with({{"number", "x"}}) << kNotANumber << "number";
    QTest::newRow("quantity before state")
        << 1 << "a1" << with({{"number", "0"}, {"state", "10"}}) << kRange << "number";
    QTest::newRow("state 10") << 1 << "a1" << with({{"state", "10"}})
                              << "“请填入一个在0和9之间的整数。”"
                              << "state";
    QTest::newRow("state not whole")
        << 1 << "a1" << with({{"state", "1.5"}}) << "“请填入一个正整数。”"
        << "state";
    QTest::newRow("purpose over 80 bytes")
        << 1 << "a1" << with({{"usage", QString(41, QChar(0x7528))}})
        << "“请填入不多于80个的字符。”"
        << "usage";
    QTest::newRow("department over 20 bytes")
        << 1 << "a1" << with({{"department", QString(21, 'd')}}) << "“请填入不多于20个的字符。”"
        << "department";
    QTest::newRow("stock 5, quantity 5.5")
        << 1 << "a1" << with({{"number", "5.5"}}) << kOverLimit << "";
    QTest::newRow("stock 0 fails the largest quantity")
        << 1 << "C3" << with({{"number", "1"}}) << "“请填入一个不小于1的数字。”"
        << "maxNumber";
    QTest::newRow("no stock row cannot be issued")
        << 1 << "B2" << with({{"number", "1"}}) << "“请填入一个不小于1的数字。”"
        << "maxNumber";
}

void TestDeviceOutDlg::checks()
{
    QFETCH(int, classNumber);
    QFETCH(QString, device);
    QFETCH(Typed, typed);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    d->stock("a1", 5);
    d->stock("C3", 0);
    const auto before = d->stockRows();
    auto f = d->open<CDeviceOutDlg>(classNumber);
    if (!device.isEmpty())
        EntryFormDriver::choose(f.get(), device);
    EntryFormDriver::type(f.get(), typed);
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    if (!focus.isEmpty())
        QTRY_COMPARE(EntryFormDriver::focused(), focus);
    QVERIFY(d->rows("SELECT * FROM DEVICE_OUT").isEmpty());
    QCOMPARE(d->stockRows(), before);
    QVERIFY(f->isVisible());
}

void TestDeviceOutDlg::issueLowersNowOnly_data()
{
    QTest::addColumn<float>("onHand");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("left");
    QTest::newRow("the whole stock, state 0") << 5.0f << "5"
                                              << "0"
                                              << "0";
    QTest::newRow("a fraction, state 9") << 5.0f << "2.5"
                                         << "9"
                                         << "2.5";
    // Two stock-ins of 6,000: more on hand than one movement may carry.
    QTest::newRow("12000 on hand") << 12000.0f << "10000"
                                   << "1"
                                   << "2000";
}

void TestDeviceOutDlg::issueLowersNowOnly()
{
    QFETCH(float, onHand);
    QFETCH(QString, quantity);
    QFETCH(QString, state);
    QFETCH(QString, left);
    d->stock("a1", onHand);
    auto f = chosen("a1");
    EntryFormDriver::type(f.get(), {{"department", "一车间"},
                                    {"state", state},
                                    {"outPerson", "李四"},
                                    {"number", quantity},
                                    {"taker", "王五"},
                                    {"usage", "维修\n备用"}});
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(d->rows("SELECT * FROM DEVICE_OUT"),
             (QList<QStringList>{{"a1", "一车间", "2004-01-05 09:03:07", state, "李四", quantity,
                                  "王五", "维修\n备用"}}));
    QCOMPARE(d->stockRows(), (QList<QStringList>{{"a1", left, "20", "2", "50"}}));
    QCOMPARE(d->logged(), QStringList{"添加出库信息"});
    QCOMPARE(d->scripted->appends.at(0).names,
             (QStringList{"code", "department", "out_date", "out_state", "out_person", "out_number",
                          "taker", "usage"}));
    QCOMPARE(d->scripted->appends.at(0).values.at(3).typeId(), QMetaType::QString);
    QVERIFY(!f->isVisible());
}

void TestDeviceOutDlg::staleFigureIsCheckedAgainstStockNow_data()
{
    QTest::addColumn<QString>("change"); // another workstation, after the figure was shown
    QTest::addColumn<QString>("shownNow");
    QTest::newRow("stock lowered") << "UPDATE DEVICE SET now_number=2 WHERE code=?"
                                   << "2";
    QTest::newRow("stock row gone") << "DELETE FROM DEVICE WHERE code=?"
                                    << "0";
}

void TestDeviceOutDlg::staleFigureIsCheckedAgainstStockNow()
{
    QFETCH(QString, change);
    QFETCH(QString, shownNow);
    d->stock("a1", 5);
    auto f = chosen("a1");
    EntryFormDriver::type(f.get(), {{"number", "3"}});
    test::exec(*d->db, change, {"a1"});
    const auto before = d->stockRows();
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{kOverLimit});
    QCOMPARE(EntryFormDriver::text(f.get(), "maxNumber"), shownNow);
    QVERIFY(d->rows("SELECT * FROM DEVICE_OUT").isEmpty());
    QCOMPARE(d->stockRows(), before);
    QVERIFY(d->logged().isEmpty());
    QVERIFY(f->isVisible());
}

void TestDeviceOutDlg::failureLeavesNeitherRow()
{
    d->stock("a1", 5);
    d->scripted->beforeAppend = [](const QString&) {
        throw DbError(DbError::Kind::Engine, QStringLiteral("写入失败"));
    };
    auto f = chosen("a1");
    EntryFormDriver::type(f.get(), {{"number", "3"}});
    confirm(*f);
    QCOMPARE(Messages::shownTexts(), QStringList{"写入失败"});
    QCOMPARE(d->stockRows(), (QList<QStringList>{{"a1", "5", "20", "2", "50"}}));
    QVERIFY(d->rows("SELECT * FROM DEVICE_OUT").isEmpty());
    QVERIFY(d->logged().isEmpty());
    QCOMPARE(EntryFormDriver::text(f.get(), "number"), QStringLiteral("3"));
}

void TestDeviceOutDlg::enterInPurposeStartsANewLine()
{
    auto f = d->open<CDeviceOutDlg>();
    auto* usage = qobject_cast<QPlainTextEdit*>(EntryFormDriver::control(f.get(), "usage"));
    usage->setFocus();
    QTest::keyClicks(usage, "ab");
    QTest::keyClick(usage, Qt::Key_Return);
    QTest::keyClicks(usage, "c");
    QCOMPARE(usage->toPlainText(), QStringLiteral("ab\nc"));
    QVERIFY(f->isVisible());
}

void TestDeviceOutDlg::layoutAndPicture()
{
    auto f = d->open<CDeviceOutDlg>();
    QStringList labels;
    for (QLabel* l : f->findChildren<QLabel*>())
        if (l->buddy())
            labels << l->text() + "→" + l->buddy()->objectName();
    QCOMPARE(labels, (QStringList{"出库设备→device", "出库时间→date", "使用部门→department",
                                  "出库状态→state", "经手人→outPerson", "数量→number",
                                  "领取人→taker", "用途→usage", "最大数量→maxNumber"}));
    QVERIFY(qobject_cast<QLineEdit*>(EntryFormDriver::control(f.get(), "maxNumber"))->isReadOnly());
    QCOMPARE(EntryFormDriver::text(f.get(), "state"), QStringLiteral("0"));
    QCOMPARE(f->commands()->button(CDeviceOutDlg::IDC_CONFIRM)->text(), QStringLiteral("确　认"));
    QCOMPARE(test::accessibleNames(*f, {"date", "time", "usage"}),
             (QStringList{"出库时间 日期", "出库时间 时间", "用途"}));
    // Typing stops at the capacities: 用途 80 bytes, 领取人 20.
    for (const char* name : {"usage", "taker"}) {
        QWidget* edit = EntryFormDriver::control(f.get(), name);
        edit->setFocus();
        test::typeKeys(edit, QString(41, QChar(0x7528)));
    }
    QCOMPARE(EntryFormDriver::text(f.get(), "usage"), QString(40, QChar(0x7528)));
    QCOMPARE(EntryFormDriver::text(f.get(), "taker"), QString(10, QChar(0x7528)));
    EntryFormDriver::grab(f.get(), "deviceout");
    QVERIFY(d->helpTopicOf(f.get()).contains("devout.htm"));
}

QTEST_MAIN(TestDeviceOutDlg)
#include "tst_deviceoutdlg.moc"

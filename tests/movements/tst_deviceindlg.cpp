#include "core/Clock.h"
#include "core/OperationLog.h"
#include "db/DbError.h"
#include "movements/DeviceInDlg.h"
#include "stock/LabelDlg.h"
#include "support/FormTest.h"
#include "support/ScriptedConnection.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/MessageService.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>

using namespace vok;

namespace {

const QString kRefusal = QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!");
const QString kRange = QStringLiteral("“请填入一个在1和10000之间的数字。”");
const QString kNotANumber = QStringLiteral("请键入一个数。");
const QString kDone = QStringLiteral("完成操作！");

using test::Typed;

} // namespace

class TestDeviceInDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opensWithSortedCodesAndNothingChosen();
    void noDeviceChosenWritesNothing();
    void refusals_data();
    void refusals();
    void newDeviceGetsStockRowWithLimitsOne_data();
    void newDeviceGetsStockRowWithLimitsOne();
    void secondStockInRaisesNowAndTotal();
    void foreignCharacterSpoilsNoLaterText();
    void timeIsComposedUnpaddedFromBothPickers_data();
    void timeIsComposedUnpaddedFromBothPickers();
    void quotesArePlainText();
    void overlongCatalogueCodeIsRefusedNotCut();
    void failureLeavesNeitherRow_data();
    void failureLeavesNeitherRow();
    void listFailureClosesTheForm_data();
    void listFailureClosesTheForm();
    void contextMenuAndHelp();
    void tabOrderAndLabels();
    void textStopsAtCapacity_data();
    void textStopsAtCapacity();
    void programTextIsKeptWholeAndRefused();
    void pickersTakeOneTabStopEach();
    void accessibleNames();

private:
    std::unique_ptr<CDeviceInDlg> openForm(int classNumber = 1);
    QList<QStringList> stock();
    QList<QStringList> stockIns();

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
    std::unique_ptr<COperationLog> m_log;
};

void TestDeviceInDlg::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    m_log = std::make_unique<COperationLog>();
    m_log->attach(m_db, QStringLiteral("张三"));
    test::seed(*m_db, "DEVICE_CODE", {{"B2", "x"}, {"a1", "x"}, {"C3", "x"}, {"A'1", "x"}});
    Clock::setNow(QDateTime(QDate(2004, 1, 5), QTime(9, 3, 7)));
}

void TestDeviceInDlg::cleanup()
{
    m_log.reset();
    m_scripted.reset();
    m_db.reset();
    m_sandbox.reset();
}

std::unique_ptr<CDeviceInDlg> TestDeviceInDlg::openForm(int classNumber)
{
    return test::openForm<CDeviceInDlg>(test::formContext(m_scripted, m_log.get(), classNumber));
}

QList<QStringList> TestDeviceInDlg::stock()
{
    return test::rows(*m_db, QStringLiteral("SELECT * FROM DEVICE ORDER BY code"));
}

QList<QStringList> TestDeviceInDlg::stockIns()
{
    return test::table(*m_db, "DEVICE_IN");
}

void TestDeviceInDlg::opensWithSortedCodesAndNothingChosen()
{
    auto form = openForm();
    auto* list = form->findChild<QComboBox*>("device");
    QStringList codes;
    for (int i = 0; i < list->count(); ++i)
        codes << list->itemText(i);
    QCOMPARE(codes, (QStringList{"A'1", "a1", "B2", "C3"}));
    QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(form->findChild<QLineEdit*>("number")->text(), QStringLiteral("0"));
    QCOMPARE(form->findChild<QLineEdit*>("price")->text(), QStringLiteral("0"));
    QCOMPARE(form->findChild<QDateEdit*>("date")->date(), QDate(2004, 1, 5));
    QCOMPARE(form->findChild<QTimeEdit*>("time")->time(), QTime(9, 3, 7));
    QCOMPARE(form->windowTitle(), QStringLiteral("设备入库登记"));
}

void TestDeviceInDlg::noDeviceChosenWritesNothing()
{
    auto form = openForm(3);
    QVERIFY(test::type(*form, {{"number", "5"}, {"price", "5"}, {"provider", "供应商甲"}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{"请选择一个设备"});
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::None);
    QCOMPARE(Messages::shown().at(0).caption, appTitle());
    QVERIFY(stockIns().isEmpty());
    QVERIFY(form->isVisible());
}

void TestDeviceInDlg::refusals_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus"); // object name of the field that gets the focus

    const Typed ok{{"device", "a1"}, {"number", "5"}, {"price", "12.5"}};
    // Typed after the valid texts, over them.
    auto with = [&](const Typed& changes) { return ok + changes; };
    QTest::newRow("quantity left at 0") << 1 << Typed{{"device", "a1"}} << kRange << "number";
    QTest::newRow("quantity 0.5") << 1 << with({{"number", "0.5"}}) << kRange << "number";
    QTest::newRow("quantity 10000.5") << 1 << with({{"number", "10000.5"}}) << kRange << "number";
    QTest::newRow("quantity empty") << 1 << with({{"number", ""}}) << kNotANumber << "number";
    QTest::newRow("quantity letters") << 1 << with({{"number", "5kg"}}) << kNotANumber << "number";
    QTest::newRow("price 0") << 1 << with({{"price", "0"}}) << kRange << "price";
    QTest::newRow("price blank") << 1 << with({{"price", "  "}}) << kNotANumber << "price";
    QTest::newRow("quantity checked before price")
        << 1 << with({{"number", "x"}, {"price", "0"}}) << kNotANumber << "number";
    QTest::newRow("class 3 with a bad quantity sees the quantity")
        << 3 << with({{"number", "0"}}) << kRange << "number";
    QTest::newRow("class 3 with valid fields is refused") << 3 << ok << kRefusal << "";
    QTest::newRow("buyer over 10 bytes")
        << 1 << with({{"buyer", QStringLiteral("欧阳张三李四")}, {"number", "x"}})
        << "“请填入不多于10个的字符。”"
        << "buyer";
    QTest::newRow("supplier over 20 bytes")
        << 1 << with({{"provider", QString(21, 'S')}}) << "“请填入不多于20个的字符。”"
        << "provider";
    QTest::newRow("telephone over 10 bytes")
        << 1 << with({{"teleno", "010-12345678"}}) << "“请填入不多于10个的字符。”"
        << "teleno";
    QTest::newRow("supplier not GBK")
        << 1 << with({{"provider", QStringLiteral("供应商😀")}})
        << QStringLiteral("字符“😀”无法保存到数据库中，请改用其他字符。") << "provider";
}

void TestDeviceInDlg::refusals()
{
    QFETCH(int, classNumber);
    QFETCH(Typed, typed);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    auto form = openForm(classNumber);
    QApplication::setActiveWindow(form.get());
    QVERIFY(test::type(*form, typed));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    const Messages::Shown shown = Messages::shown().at(0);
    if (message == kRefusal) {
        QCOMPARE(shown.caption, QStringLiteral("警告!"));
        QCOMPARE(shown.icon, Messages::Icon::Stop);
    } else {
        QCOMPARE(shown.caption, appTitle());
        QCOMPARE(shown.icon, Messages::Icon::Exclamation);
        QTRY_COMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                 : QString(),
                     focus);
    }
    QVERIFY(stockIns().isEmpty());
    QVERIFY(stock().isEmpty());
    QVERIFY(form->isVisible());
    // What was typed stays.
    QMap<QString, QString> last;
    for (const auto& [name, text] : typed)
        last[name] = text;
    last.remove("device");
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        QCOMPARE(form->findChild<QLineEdit*>(it.key())->text(), it.value());
}

void TestDeviceInDlg::newDeviceGetsStockRowWithLimitsOne_data()
{
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("labels"); // one a unit received
    QTest::newRow("lower bound") << "1"
                                 << "1" << 1;
    QTest::newRow("upper bound") << "10000"
                                 << "10000" << 10000;
    QTest::newRow("fraction, blanks around") << " 2.5 "
                                             << "2.5" << 2;
}

void TestDeviceInDlg::newDeviceGetsStockRowWithLimitsOne()
{
    QFETCH(QString, quantity);
    QFETCH(QString, stored);
    QFETCH(int, labels);
    auto form = openForm();
    // Labels after a stock-in: off until chosen, then remembered.
    auto* labelsAfter = form->findChild<QCheckBox*>("labelsAfter");
    QVERIFY(labelsAfter && !labelsAfter->isChecked());
    labelsAfter->setChecked(true);
    QVERIFY(openForm()->findChild<QCheckBox*>("labelsAfter")->isChecked());
    QVERIFY(test::type(*form, {{"device", "B2"},
                               {"provider", QStringLiteral("供应商甲")},
                               {"teleno", "0101234567"},
                               {"number", quantity},
                               {"price", "10000"},
                               {"buyer", QStringLiteral("王五")}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::None);
    // The label window, one label a unit, in front.
    CLabelDlg* labelDlg = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* l = qobject_cast<CLabelDlg*>(w))
            labelDlg = l;
    QVERIFY(labelDlg);
    QTRY_VERIFY(labelDlg->isVisible());
    QTRY_VERIFY(labelDlg->isActiveWindow());
    QVERIFY(labelDlg->findChild<QLabel*>("count"));
    QCOMPARE(labelDlg->findChild<QLabel*>("count")->text(),
             QStringLiteral("共 %1 张标签。").arg(labels));
    labelDlg->close();
    QCOMPARE(stockIns(), (QList<QStringList>{{"B2", "2004-01-05 09:03:07", "供应商甲", "0101234567",
                                              stored, "10000", "王五"}}));
    QCOMPARE(stock(), (QList<QStringList>{{"B2", stored, "1", "1", stored}}));
    QCOMPARE(test::table(*m_db, "HOWDO"),
             (QList<QStringList>{{"张三", "添加入库信息", "2004-01-05 09:03:07"}}));
    QVERIFY(!form->isVisible());
    QCOMPARE(form->result(), 0);
}

void TestDeviceInDlg::secondStockInRaisesNowAndTotal()
{
    test::seed(*m_db, "DEVICE", {{"a1", 5, 20, 2, 50}});
    for (const char* q : {"2.5", "3"}) {
        auto form = openForm();
        QVERIFY(test::type(*form,
                           {{"device", "a1"}, {"number", QString::fromLatin1(q)}, {"price", "1"}}));
        QVERIFY(test::press(*form, "confirm"));
        QVERIFY(!form->isVisible());
    }
    QCOMPARE(stock(), (QList<QStringList>{{"a1", "10.5", "20", "2", "55.5"}}));
    QCOMPARE(stockIns().size(), 2);
    QCOMPARE(Messages::shownTexts(), (QStringList{kDone, kDone}));
}

void TestDeviceInDlg::foreignCharacterSpoilsNoLaterText()
{
    // A character outside GBK is refused once; Chinese typed after it is not.
    auto form = openForm();
    QVERIFY(test::type(
        *form,
        {{"device", "a1"}, {"number", "1"}, {"price", "1"}, {"provider", QStringLiteral("Bär")}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(),
             QStringList{QStringLiteral("字符“ä”无法保存到数据库中，请改用其他字符。")});
    Messages::clearShown();
    QVERIFY(test::type(
        *form, {{"provider", QStringLiteral("普通")}, {"buyer", QStringLiteral("新设备")}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(stockIns().size(), 1);
}

void TestDeviceInDlg::timeIsComposedUnpaddedFromBothPickers_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("stored");
    QTest::newRow("padded nowhere") << QDate(2004, 1, 5) << QTime(9, 3, 7) << "2004-1-5 9:3:7"
                                    << "2004-01-05 09:03:07";
    QTest::newRow("fills the field")
        << QDate(2004, 12, 31) << QTime(23, 59, 59) << "2004-12-31 23:59:59"
        << "2004-12-31 23:59:59";
    QTest::newRow("midnight") << QDate(2005, 2, 28) << QTime(0, 0, 0) << "2005-2-28 0:0:0"
                              << "2005-02-28 00:00:00";
}

void TestDeviceInDlg::timeIsComposedUnpaddedFromBothPickers()
{
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QFETCH(QString, written);
    QFETCH(QString, stored);
    auto form = openForm();
    form->findChild<QDateEdit*>("date")->setDate(date);
    form->findChild<QTimeEdit*>("time")->setTime(time);
    QVERIFY(test::type(*form, {{"device", "C3"}, {"number", "1"}, {"price", "1"}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(m_scripted->appends.size(), 2);
    QCOMPARE(m_scripted->appends.at(0).table, QStringLiteral("DEVICE_IN"));
    QCOMPARE(m_scripted->appends.at(0).names,
             (QStringList{"code", "in_date", "provider", "teleno", "in_number", "price", "buyer"}));
    QCOMPARE(m_scripted->appends.at(0).values.at(1).toString(), written);
    QCOMPARE(m_scripted->appends.at(0).values.at(4).typeId(), QMetaType::Float);
    QCOMPARE(m_scripted->appends.at(1).names,
             (QStringList{"code", "now_number", "high_number", "low_number", "total_number"}));
    QCOMPARE(stockIns().at(0).at(1), stored);
}

void TestDeviceInDlg::quotesArePlainText()
{
    for (int i = 0; i < 2; ++i) {
        auto form = openForm();
        QVERIFY(test::type(*form, {{"device", "A'1"},
                                   {"provider", "x' OR '1'='1"},
                                   {"buyer", "O'Brien"},
                                   {"number", "4"},
                                   {"price", "1"}}));
        QVERIFY(test::press(*form, "confirm"));
        QVERIFY(!form->isVisible());
    }
    QCOMPARE(Messages::shownTexts(), (QStringList{kDone, kDone}));
    QCOMPARE(stock(), (QList<QStringList>{{"A'1", "8", "1", "1", "8"}}));
    const auto rows = stockIns();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(2), QStringLiteral("x' OR '1'='1"));
    QCOMPARE(rows.at(0).at(6), QStringLiteral("O'Brien"));
}

void TestDeviceInDlg::overlongCatalogueCodeIsRefusedNotCut()
{
    // A code of 10 bytes, as another program may have put in the catalogue:
    // cut to 9 it would be a different device.
    test::seed(*m_db, "DEVICE_CODE", {{"ABCDEFGHIJ", "x"}, {"ABCDEFGHI", "y"}});
    auto form = openForm();
    QApplication::setActiveWindow(form.get());
    QVERIFY(test::type(*form, {{"device", "ABCDEFGHIJ"}, {"number", "1"}, {"price", "1"}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{"“请填入不多于9个的字符。”"});
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("device"));
    QVERIFY(stockIns().isEmpty());
    QVERIFY(stock().isEmpty());
}

void TestDeviceInDlg::failureLeavesNeitherRow_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("existingStock");
    QTest::addColumn<QString>("shown");
    QTest::newRow("stock query fails") << "openUpdate" << true << "库存查询失败";
    QTest::newRow("new stock row fails") << "appendDevice" << false << "库存添加失败";
    QTest::newRow("another user changed the stock row")
        << "concurrent" << true << "无法为更新定位行。一些值可能已在最后一次读取后被更改。";
}

void TestDeviceInDlg::failureLeavesNeitherRow()
{
    QFETCH(QString, step);
    QFETCH(bool, existingStock);
    QFETCH(QString, shown);
    if (existingStock)
        test::seed(*m_db, "DEVICE", {{"a1", 5, 20, 2, 50}});
    const auto before = stock();
    if (step == "openUpdate")
        m_scripted->beforeOpenUpdate = [](const QString&) {
            throw DbError(DbError::Kind::Engine, QStringLiteral("库存查询失败"));
        };
    if (step == "appendDevice")
        m_scripted->beforeAppend = [](const QString& table) {
            if (table == "device")
                throw DbError(DbError::Kind::Engine, QStringLiteral("库存添加失败"));
        };
    if (step == "concurrent")
        // Another instance raises the stock between reading and storing.
        m_scripted->beforeStore = [this] {
            test::exec(m_scripted->inner(),
                       "UPDATE DEVICE SET now_number=now_number+1 WHERE code=?", {"a1"});
        };
    auto form = openForm();
    QVERIFY(test::type(*form, {{"device", "a1"}, {"number", "3"}, {"price", "1"}}));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{shown});
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Exclamation);
    QVERIFY(stockIns().isEmpty());
    QCOMPARE(stock(), before);
    QVERIFY(test::table(*m_db, "HOWDO").isEmpty());
    QVERIFY(form->isVisible());
    QCOMPARE(form->findChild<QLineEdit*>("number")->text(), QStringLiteral("3"));

    // The same entry goes through once the fault is gone.
    m_scripted->beforeOpenUpdate = nullptr;
    m_scripted->beforeAppend = nullptr;
    m_scripted->beforeStore = nullptr;
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(stockIns().size(), 1);
    QCOMPARE(stock().at(0).at(1), existingStock ? QStringLiteral("8") : QStringLiteral("3"));
}

void TestDeviceInDlg::listFailureClosesTheForm_data()
{
    QTest::addColumn<bool>("modal");
    QTest::newRow("run modally, as the main window does") << true;
    QTest::newRow("only shown") << false;
}

void TestDeviceInDlg::listFailureClosesTheForm()
{
    QFETCH(bool, modal);
    m_scripted->beforeQuery = [](const QString&) {
        throw DbError(DbError::Kind::Engine, QStringLiteral("表不存在"));
    };
    CDeviceInDlg form(test::formContext(m_scripted, m_log.get(), 1));
    QVERIFY(Messages::shown().isEmpty()); // nothing is read while the form is built
    if (modal) {
        QCOMPARE(form.exec(), int(QDialog::Rejected)); // returns at once, never shown
    } else {
        form.show();
        QTRY_VERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
    }
    QCOMPARE(Messages::shownTexts(), QStringList{"表不存在"});
}

void TestDeviceInDlg::contextMenuAndHelp()
{
    auto form = openForm();
    QMenu* menu = form->commands()->createMenu(form.get());
    QStringList items;
    for (QAction* a : menu->actions())
        items << a->text();
    QCOMPARE(items, (QStringList{"确认", "帮助", "退出"}));
    QCOMPARE(form->commands()->button(CDeviceInDlg::IDC_CONFIRM)->text(), QStringLiteral("确　认"));
    QCOMPARE(form->commands()->button(CommandTable::kHelp)->text(), QStringLiteral("帮　助"));
    QCOMPARE(form->commands()->button(CommandTable::kExit)->text(), QStringLiteral("退　出"));
    QVERIFY(form->commands()->button(CommandTable::kExit)->isDefault());

    menu->actions().at(1)->trigger();
    QTRY_COMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(m_sandbox->helpLaunches().at(0).join(' ').contains("devin.htm"));

    menu->actions().at(0)->trigger(); // confirm with nothing chosen
    QTRY_COMPARE(Messages::shownTexts(), QStringList{"请选择一个设备"});

    menu->actions().at(2)->trigger();
    QTRY_VERIFY(!form->isVisible());
    QVERIFY(stockIns().isEmpty());
}

void TestDeviceInDlg::tabOrderAndLabels()
{
    auto form = openForm();
    const QStringList expected{"device", "date",  "time",        "provider", "teleno", "number",
                               "price",  "buyer", "labelsAfter", "confirm",  "help",   "exit"};
    QStringList order;
    QWidget* w = form->findChild<QWidget*>("device");
    for (int i = 0; i < expected.size(); ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() ||
               w->objectName().startsWith("qt_"));
    }
    QCOMPARE(order, expected);
    QStringList labels;
    for (QLabel* l : form->findChildren<QLabel*>())
        if (l->buddy())
            labels << l->text() + "→" + l->buddy()->objectName();
    QCOMPARE(labels, (QStringList{"入库设备→device", "入库时间→date", "供应商→provider",
                                  "商家电话→teleno", "数量→number", "价格→price", "采购员→buyer"}));
}

// Typing and pasting into 供应商 (20 GBK bytes) stop at the limit, cutting
// what was typed or pasted at a character boundary.
void TestDeviceInDlg::textStopsAtCapacity_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<bool>("paste");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("shown");
    const QString eleven = QString(11, QChar(0x5E93)); // 库
    QTest::newRow("typed Chinese") << "" << 0 << false << eleven << QString(10, QChar(0x5E93));
    QTest::newRow("typed after a letter")
        << "a" << 1 << false << eleven << "a" + QString(9, QChar(0x5E93));
    QTest::newRow("typed letters") << "" << 0 << false << QString(25, 'x') << QString(20, 'x');
    QTest::newRow("pasted") << "" << 0 << true << eleven + "x" << QString(10, QChar(0x5E93));
    QTest::newRow("pasted between")
        << "ab" << 1 << true << eleven << "a" + QString(9, QChar(0x5E93)) + "b";
    QTest::newRow("pasted fits") << "" << 0 << true << "北京仪器"
                                 << "北京仪器";
}

void TestDeviceInDlg::textStopsAtCapacity()
{
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(bool, paste);
    QFETCH(QString, input);
    QFETCH(QString, shown);
    auto form = openForm();
    auto* edit = test::control<QLineEdit>(*form, "provider");
    QVERIFY(edit);
    edit->setFocus();
    test::typeKeys(edit, before);
    edit->setCursorPosition(cursor);
    if (paste) {
        QGuiApplication::clipboard()->setText(input);
        edit->paste();
    } else {
        test::typeKeys(edit, input);
    }
    QCOMPARE(edit->text(), shown);
}

// A text the program puts in an edit is shown whole; taking it still
// refuses it with the standard text.
void TestDeviceInDlg::programTextIsKeptWholeAndRefused()
{
    auto form = openForm();
    QVERIFY(test::type(*form, {{"device", "a1"}, {"provider", QString(11, QChar(0x5E93))}}));
    QCOMPARE(test::control<QLineEdit>(*form, "provider")->text().size(), 11);
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{"“请填入不多于20个的字符。”"});
    QCOMPARE(stockIns(), QList<QStringList>{});
}

void TestDeviceInDlg::pickersTakeOneTabStopEach()
{
    auto form = openForm();
    QApplication::setActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    auto* list = test::control<QComboBox>(*form, "device");
    list->setFocus();
    QStringList visited;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    visited << QApplication::focusWidget()->objectName();
    QCOMPARE(visited, (QStringList{"date", "time", "provider", "time"}));

    // Inside a picker the arrow keys choose the section and typing sets it.
    auto* date = test::control<QDateEdit>(*form, "date");
    date->setFocus();
    date->setCurrentSection(QDateTimeEdit::YearSection);
    QTest::keyClick(date, Qt::Key_Right);
    QTest::keyClick(date, Qt::Key_Right);
    QTest::keyClick(date, Qt::Key_Right);
    QTest::keyClick(date, Qt::Key_Right);
    QTest::keyClick(date, Qt::Key_Right);
    QCOMPARE(date->currentSection(), QDateTimeEdit::MonthSection);
}

void TestDeviceInDlg::accessibleNames()
{
    auto form = openForm();
    QCOMPARE(test::accessibleNames(*form, {"device", "date", "time", "provider", "buyer"}),
             (QStringList{"入库设备", "入库时间 日期", "入库时间 时间", "供应商", "采购员"}));
}

QTEST_MAIN(TestDeviceInDlg)
#include "tst_deviceindlg.moc"

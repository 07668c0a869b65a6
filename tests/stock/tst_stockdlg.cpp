// The stock form driven as a user drives it: the list, a click, the range
// checks of the four quantities, add, change and delete with their refusals
// and the adjustments they record, the query, print, help and the context
// menu.
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "stock/StockDlg.h"
#include "support/FormTest.h"
#include "support/ScriptedConnection.h"
#include "support/TestSupport.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DeviceScan.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/QueryGroup.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace vok;
using Rows = QList<QStringList>;

namespace {

const QString kRefusal = QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!");
const QString kDone = QStringLiteral("完成操作！");
const QString kChoose = QStringLiteral("请选择一个设备");
const QString kRange = QStringLiteral("“请填入一个在1和10000之间的数字。”");
const QString kOnHandRange = QStringLiteral("“请填入一个不小于0的数字。”");
const QString kNotANumber = QStringLiteral("请键入一个数。");

// Control ids.
// The controls' object names.
const QString Code = QStringLiteral("code");
const QString Now = QStringLiteral("now");
const QString High = QStringLiteral("high");
const QString Low = QStringLiteral("low");
const QString Total = QStringLiteral("total");
const QString Price = QStringLiteral("price");
const QString Add = QStringLiteral("add");
const QString Change = QStringLiteral("change");
const QString Delete = QStringLiteral("delete");
const QString Print = QStringLiteral("print");
const QString Help = QStringLiteral("help");
const QString Exit = QStringLiteral("exit");
const QString Query = QStringLiteral("query");

QStringList items(const QComboBox* combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

} // namespace

class TestStockDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opensWithTheTableReversed();
    void quantitiesAreChecked_data();
    void quantitiesAreChecked();
    void addStoresTheValuesAsTyped();
    void openingPrice_data();
    void openingPrice();
    void addIsRefused_data();
    void addIsRefused();
    void addRacingAnotherWorkstation();
    void databaseWithDuplicatesStillWorks();
    void changeWritesBackWhatTheEditsShow();
    void changeFails_data();
    void changeFails();
    void deleteRemovesEveryRowOfTheCode();
    void changesOfTheStockOnHandAreRecorded_data();
    void changesOfTheStockOnHandAreRecorded();
    void query_data();
    void query();
    void codeListFailureClosesTheForm();
    void readOnlyClassMayListQueryPrintAndRead();
    void scannedCodeShowsItsStockRow_data();
    void scannedCodeShowsItsStockRow();

private:
    std::unique_ptr<CStockDlg> openForm(int classNumber = 1);
    void chooseCode(CStockDlg& form, const QString& code);
    void clickRow(CStockDlg& form, int row);
    Rows stock();
    Rows adjustments();

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
    std::unique_ptr<COperationLog> m_log;
};

void TestStockDlg::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    m_log = std::make_unique<COperationLog>();
    m_log->attach(m_db, QStringLiteral("张三"));
    test::seed(*m_db, "DEVICE_CODE", {{"b2", "n"}, {"A1", "n"}, {"c3", "n"}, {"x'y", "n"}});
    test::seed(*m_db, "DEVICE", {{"A1", 5, 20, 2, 50}, {"b2", 12.3456789, 100, 10, 200}});
}

void TestStockDlg::cleanup()
{
    PrintService::setChooser({});
    m_log.reset();
    m_scripted.reset();
    m_db.reset();
    m_sandbox.reset();
}

std::unique_ptr<CStockDlg> TestStockDlg::openForm(int classNumber)
{
    auto form = test::openForm<CStockDlg>(
        test::formContext(m_scripted, m_log.get(), classNumber, QStringLiteral("张三")));
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("window not exposed");
    return form;
}

void TestStockDlg::chooseCode(CStockDlg& form, const QString& code)
{
    auto* combo = test::control<QComboBox>(form, Code);
    combo->setCurrentIndex(combo->findText(code));
}

void TestStockDlg::clickRow(CStockDlg& form, int row)
{
    RecordListView* list = form.list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 1)).center());
}

Rows TestStockDlg::adjustments()
{
    return test::rows(*m_db, QStringLiteral("SELECT code, before_number, after_number, reason, "
                                            "user_name, adjust_time FROM DEVICE_ADJUST"));
}

Rows TestStockDlg::stock()
{
    return test::table(*m_db, "DEVICE");
}

void TestStockDlg::opensWithTheTableReversed()
{
    auto form = openForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("库存管理"));
    QCOMPARE(test::listed(*form->list()),
             (Rows{{"b2", "12.345679", "100.000000", "10.000000", "200.000000"},
                   {"A1", "5.000000", "20.000000", "2.000000", "50.000000"}}));
    const RecordListModel* m = form->list()->records();
    QCOMPARE(m->headerData(4, Qt::Horizontal).toString(), QStringLiteral("总数"));
    const int w = form->list()->frameGeometry().width();
    for (int c = 0; c < 5; ++c)
        QCOMPARE(form->list()->columnWidth(c), w / 5);
    for (const QString& id : {Now, High, Low, Total})
        QCOMPARE(test::control<QLineEdit>(*form, id)->text(), QStringLiteral("1"));

    // The code combo: typing allowed, the catalogue sorted, nothing chosen.
    auto* code = test::control<QComboBox>(*form, Code);
    QVERIFY(code->isEditable());
    QCOMPARE(items(code), (QStringList{"A1", "b2", "c3", "x'y"}));
    QCOMPARE(code->currentText(), QString());
    QCOMPARE(items(form->queryGroup()->fieldCombo()),
             (QStringList{"设备号c", "现存数量d", "最大数量d", "最小数量d", "总数d"}));

    // Every input has its label as buddy; the tab order is the controls'.
    QMap<QString, QString> labels;
    for (QLabel* l : form->findChildren<QLabel*>())
        if (l->buddy())
            labels[l->buddy()->objectName()] = l->text();
    QCOMPARE(labels, (QMap<QString, QString>{{"queryField", "要查询的项"},
                                             {"queryOperator", "符号"},
                                             {"queryValue", "要查询的内容"},
                                             {"code", "设备号"},
                                             {"deviceName", "设备名"},
                                             {"now", "现存数量"},
                                             {"high", "最大数量"},
                                             {"low", "最小数量"},
                                             {"total", "总数"},
                                             {"price", "单价"}}));
    QStringList order;
    for (QWidget* w = form->list(); order.size() < 17; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(u"qt_"))
            order << w->objectName();
    QCOMPARE(order, (QStringList{"list", "queryField", "queryOperator", "queryValue", "query",
                                 "code", "now", "high", "low", "total", "price", "add", "change",
                                 "delete", "print", "help", "exit"}));
    // Typing a code stops at its 9 bytes.
    code->lineEdit()->clear();
    test::typeKeys(code, QStringLiteral("ABCDEFGHIJ"));
    QCOMPARE(code->currentText(), QStringLiteral("ABCDEFGHI"));
    code->setEditText(QString());
    QCOMPARE(test::control<QPushButton>(*form, Exit)->text(), QStringLiteral("退　出"));
    QCOMPARE(test::control<QPushButton>(*form, Query)->text(), QStringLiteral("查　　询"));
    QVERIFY(Messages::shown().isEmpty());

    // VOK_SHOT_DIR keeps a picture of the form for a look.
    if (qEnvironmentVariableIsSet("VOK_SHOT_DIR")) {
        clickRow(*form, 0);
        form->grab().save(qEnvironmentVariable("VOK_SHOT_DIR") + QStringLiteral("/stock.png"));
    }
}

void TestStockDlg::quantitiesAreChecked_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message"); // empty: accepted
    // A device issued to its last unit has 0 on hand; the total keeps its range.
    QTest::newRow("0 on hand") << Now << "0" << QString();
    QTest::newRow("-0.5 on hand") << Now << "-0.5" << kOnHandRange;
    QTest::newRow("0 in total") << Total << "0" << QStringLiteral("“请填入一个不小于1的数字。”");
    QTest::newRow("0.5") << High << "0.5" << kRange;
    QTest::newRow("-1") << Low << "-1" << kRange;
    QTest::newRow("10000.5") << High << "10000.5" << kRange;
    // What stock-ins add up to has no upper bound.
    QTest::newRow("12000 on hand") << Now << "12000" << QString();
    QTest::newRow("20000 in total") << Total << "20000" << QString();
    QTest::newRow("empty") << Now << "" << kNotANumber;
    QTest::newRow("letters") << Total << "12a" << kNotANumber;
    QTest::newRow("1.5") << Now << "1.5" << QString();
    QTest::newRow("10000 with blanks") << Total << " 10000 " << QString();
}

void TestStockDlg::quantitiesAreChecked()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, message);
    const Rows before = stock();
    auto form = openForm();
    QApplication::setActiveWindow(form.get());
    chooseCode(*form, "c3");
    test::control<QLineEdit>(*form, field)->setText(value);
    // A later field that fails too is not reached.
    if (field != Total && !message.isEmpty())
        test::control<QLineEdit>(*form, Total)->setText("x");
    QVERIFY(test::press(*form, Add));
    if (!message.isEmpty()) {
        QCOMPARE(Messages::shownTexts(), QStringList{message});
        QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Exclamation);
        QTRY_COMPARE(QApplication::focusWidget(), test::control<QLineEdit>(*form, field));
        QCOMPARE(stock(), before);
        QCOMPARE(test::logged(*m_db), QStringList());
        return;
    }
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    const QString stored = value.trimmed();
    Rows expected = before;
    expected << QStringList{"c3", field == Now ? stored : "1", "1", "1",
                            field == Total ? stored : "1"};
    QCOMPARE(stock(), expected);
}

void TestStockDlg::addStoresTheValuesAsTyped()
{
    auto form = openForm();
    chooseCode(*form, "c3");
    // Minimum above maximum and stock above total are stored without remark;
    // blanks around the code are no part of it.
    QVERIFY(
        test::type(*form, {{Code, " c3 "}, {Now, "70"}, {High, "5"}, {Low, "10"}, {Total, "7"}}));
    QVERIFY(test::press(*form, Add));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(stock().last(), (QStringList{"c3", "70", "5", "10", "7"}));
    QCOMPARE(test::logged(*m_db), QStringList{"修改库存信息"});
    QCOMPARE(test::listed(*form->list()).first(),
             (QStringList{"c3", "70.000000", "5.000000", "10.000000", "7.000000"}));
    const auto& append = m_scripted->appends.first();
    QCOMPARE(append.table, QStringLiteral("DEVICE"));
    QCOMPARE(append.names, schema::Device.columnNames());
}

// The opening quantity's unit price: none when empty, stored to the cent,
// a bad one refused with the field named and nothing written.
void TestStockDlg::openingPrice_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Rows>("stored"); // the opening adjustment's price
    QTest::newRow("none") << "  " << kDone << Rows{{""}};
    QTest::newRow("given") << " 12.345 " << kDone << Rows{{"12.35"}};
    QTest::newRow("nothing") << "0" << kDone << Rows{{"0"}};
    QTest::newRow("no number") << "abc" << QStringLiteral("单价：") + kNotANumber << Rows{};
    QTest::newRow("below 0") << "-1" << QStringLiteral("单价：“请填入一个在0和10000之间的数字。”")
                             << Rows{};
}

void TestStockDlg::openingPrice()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(Rows, stored);
    auto form = openForm();
    chooseCode(*form, "c3");
    QVERIFY(test::type(*form, {{Now, "4"}, {Total, "4"}, {Price, typed}}));
    QVERIFY(test::press(*form, Add));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QCOMPARE(test::rows(*m_db, QStringLiteral("SELECT price FROM DEVICE_ADJUST WHERE code = 'c3'")),
             stored);
    QCOMPARE(test::rows(*m_db, QStringLiteral("SELECT code FROM DEVICE WHERE code = 'c3'")).size(),
             stored.size());
}

void TestStockDlg::addIsRefused_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("choose"); // an entry to choose
    QTest::addColumn<QString>("typed");  // then the text typed over it
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, int classNumber, const char* choose, const char* typed,
                        const char* now, const QString& message) {
        QTest::newRow(name) << classNumber << QString(choose) << QString(typed) << QString(now)
                            << message;
    };
    row("class 3 before the fields", 3, "c3", "", "-1", kRefusal);
    row("nothing chosen", 1, "", "", "1", kChoose);
    row("typed code", 1, "c3", "zz", "1", kChoose);
    row("fields before the choice", 1, "", "", "-1", kOnHandRange);
    row("code with a stock row", 1, "A1", "", "1",
        QStringLiteral("设备号“A1”已有库存记录，不能再新增。\r\n请在列表中选中它后修改。"));
}

void TestStockDlg::addIsRefused()
{
    QFETCH(int, classNumber);
    QFETCH(QString, choose);
    QFETCH(QString, typed);
    QFETCH(QString, now);
    QFETCH(QString, message);
    const Rows before = stock();
    auto form = openForm(classNumber);
    if (!choose.isEmpty())
        chooseCode(*form, choose);
    if (!typed.isEmpty())
        QVERIFY(test::type(*form, Code, typed));
    QVERIFY(test::type(*form, {{Now, now}}));
    QVERIFY(test::press(*form, Add));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QCOMPARE(stock(), before);
    QCOMPARE(test::logged(*m_db), QStringList());
    QVERIFY(m_scripted->appends.isEmpty());
}

void TestStockDlg::addRacingAnotherWorkstation()
{
    // The embedded engine's transaction holds the write lock from the
    // look-up on, so there no other workstation can add in between.
    if (!test::onServer())
        QSKIP("the embedded engine serialises the look-up and the append");
    // Another workstation adds the row between the look-up and the append,
    // and the database refuses the second row in its own words.
    ConnectionPtr other = m_sandbox->open();
    m_scripted->beforeAppend = [other](const QString&) {
        test::seed(*other, "DEVICE", {{"c3", 1, 1, 1, 1}});
        throw DbError(DbError::Kind::Engine,
                      QStringLiteral("UNIQUE constraint failed: DEVICE.code"));
    };
    auto form = openForm();
    chooseCode(*form, "c3");
    QVERIFY(test::press(*form, Add));
    QCOMPARE(Messages::shownTexts(),
             QStringList{QStringLiteral(
                 "设备号“c3”已有库存记录，不能再新增。\r\n请在列表中选中它后修改。")});
    QCOMPARE(stock().size(), 3);
    QCOMPARE(test::logged(*m_db), QStringList());
}

void TestStockDlg::databaseWithDuplicatesStillWorks()
{
    // A database made before one stock row per code was declared.
    test::allowDuplicateStockRows(*m_db);
    test::seed(*m_db, "DEVICE", {{"A1", 5, 20, 2, 50}, {"A1", 6, 20, 2, 50}});

    auto form = openForm();
    QCOMPARE(test::listed(*form->list()).size(), 2);
    chooseCode(*form, "A1");
    QVERIFY(test::press(*form, Add));
    QCOMPARE(Messages::shownTexts(),
             QStringList{QStringLiteral(
                 "设备号“A1”已有库存记录，不能再新增。\r\n请在列表中选中它后修改。")});
    // Change sets the first row; delete removes both.
    Messages::clearShown();
    QVERIFY(test::type(*form, {{Now, "9"}}));
    QVERIFY(test::press(*form, Change));
    QCOMPARE(stock(), (Rows{{"A1", "9", "1", "1", "1"}, {"A1", "6", "20", "2", "50"}}));
    QVERIFY(test::press(*form, Delete));
    QCOMPARE(stock(), Rows());
    QCOMPARE(Messages::shownTexts(), (QStringList{kDone, kDone}));
}

void TestStockDlg::changeWritesBackWhatTheEditsShow()
{
    auto form = openForm();
    clickRow(*form, 0);
    QCOMPARE(test::control<QComboBox>(*form, Code)->currentText(), QStringLiteral("b2"));
    QCOMPARE(test::control<QLineEdit>(*form, Now)->text(), QStringLiteral("12.3457"));
    QVERIFY(test::press(*form, Change));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    // Six significant digits, as the edit shows the stock.
    QCOMPARE(stock().at(1), (QStringList{"b2", "12.3457", "100", "10", "200"}));
    // Typed values replace the old ones, they are not added. The keyboard
    // moves to a row as a click does.
    clickRow(*form, 0);
    QTest::keyClick(form->list(), Qt::Key_Down);
    QCOMPARE(test::control<QLineEdit>(*form, High)->text(), QStringLiteral("20"));
    QVERIFY(test::type(*form, {{Now, "3"}, {Total, "4"}}));
    QVERIFY(test::press(*form, Change));
    QCOMPARE(stock().at(0), (QStringList{"A1", "3", "20", "2", "4"}));
    QCOMPARE(test::logged(*m_db), (QStringList{"修改库存信息", "修改库存信息"}));
    QCOMPARE(test::listed(*form->list()).at(1).at(1), QStringLiteral("3.000000"));
}

void TestStockDlg::changeFails_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, const QString& button, int classNumber, const char* code,
                        const char* low, const QString& message) {
        QTest::newRow(name) << button << classNumber << QString(code) << QString(low) << message;
    };
    row("no stock row", Change, 1, "c3", "1", comErrorText(noCurrentRecordError()));
    row("another workstation changed it", Change, 1, "A1", "1", comErrorText(rowChangedError()));
    row("empty code", Change, 1, "", "1", kChoose);
    row("code too long", Change, 1, "ABCDEFGHIJ", "1", QStringLiteral("“请填入不多于9个的字符。”"));
    // Class 3: Change and Delete take the fields first, then refuse.
    row("class 3 change, a field fails", Change, 3, "A1", "0", kRange);
    row("class 3 delete, a field fails", Delete, 3, "A1", "0", kRange);
    row("class 3 change", Change, 3, "A1", "1", kRefusal);
    row("class 3 delete", Delete, 3, "A1", "1", kRefusal);
}

void TestStockDlg::changeFails()
{
    QFETCH(QString, button);
    QFETCH(int, classNumber);
    QFETCH(QString, code);
    QFETCH(QString, low);
    QFETCH(QString, message);
    Rows expected = stock();
    // The row changes under the form's store (within its transaction,
    // which keeps other workstations out, so the change goes with it).
    if (QByteArray(QTest::currentDataTag()).startsWith("another"))
        m_scripted->beforeStore = [this] {
            test::exec(m_scripted->inner(),
                       "UPDATE DEVICE SET now_number=now_number+1 WHERE code=?", {"A1"});
        };
    auto form = openForm(classNumber);
    QVERIFY(test::type(*form, Code, code));
    QVERIFY(test::type(*form, {{Now, "9"}, {Low, low}}));
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QCOMPARE(stock(), expected);
    QCOMPARE(test::logged(*m_db), QStringList());
    QCOMPARE(adjustments(), Rows());
}

void TestStockDlg::deleteRemovesEveryRowOfTheCode()
{
    auto form = openForm();
    // An empty code removes nothing and still reports success.
    QVERIFY(test::press(*form, Delete));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(stock().size(), 2);
    // A typed code.
    QVERIFY(test::type(*form, Code, "b2"));
    QVERIFY(test::press(*form, Delete));
    QCOMPARE(stock(), (Rows{{"A1", "5", "20", "2", "50"}}));
    QCOMPARE(test::listed(*form->list()).size(), 1);
    QCOMPARE(test::logged(*m_db), (QStringList{"删除库存记录。", "删除库存记录。"}));
}

void TestStockDlg::changesOfTheStockOnHandAreRecorded_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("now");
    QTest::addColumn<Rows>("recorded"); // code, before, after, reason, user, time
    const QString time = QStringLiteral("2026-03-15 10:00:00");
    QTest::newRow("add: opening stock") << Add << "c3"
                                        << "7" << Rows{{"c3", "0", "7", "期初库存", "张三", time}};
    // The form's total 1 over 0 on hand: one unit taken in before, since
    // issued, is the opening total.
    QTest::newRow("add with 0 on hand") << Add << "c3"
                                        << "0"
                                        << Rows{{"c3", "0", "0", "期初库存", "张三", time},
                                                {"c3", "1", "1", "期初总数", "张三", time}};
    QTest::newRow("change of the stock on hand")
        << Change << "A1"
        << "3" << Rows{{"A1", "5", "3", "修改库存", "张三", time}};
    QTest::newRow("change to 0 on hand") << Change << "A1"
                                         << "0" << Rows{{"A1", "5", "0", "修改库存", "张三", time}};
    QTest::newRow("change of the limits alone") << Change << "A1"
                                                << "5" << Rows{};
    QTest::newRow("delete") << Delete << "A1"
                            << "5" << Rows{{"A1", "5", "0", "删除库存", "张三", time}};
    QTest::newRow("delete without a stock row") << Delete << "c3"
                                                << "5" << Rows{};
}

void TestStockDlg::changesOfTheStockOnHandAreRecorded()
{
    QFETCH(QString, button);
    QFETCH(QString, code);
    QFETCH(QString, now);
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
    auto form = openForm();
    if (button == Add)
        chooseCode(*form, code);
    else
        QVERIFY(test::type(*form, Code, code));
    QVERIFY(test::type(*form, {{Now, now}, {High, "30"}}));
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QTEST(adjustments(), "recorded");
}

void TestStockDlg::query_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("codes"); // empty with a message: the list
    QTest::addColumn<bool>("error");        // the COM error box and an empty list
    const auto row = [](const char* field, const char* op, const char* value,
                        const QStringList& codes, bool error = false) {
        QTest::addRow("%s %s %s", field, op, value)
            << QString(field) << QString(op) << QString(value) << codes << error;
    };
    row("设备号c", "=", "A1", {"A1"});
    row("设备号c", "=", "x'y", {"x'y"});
    row("现存数量d", ">", "12.9", {"b2"}); // 12.9 reads as 12
    row("最大数量d", "<", "100", {"x'y", "A1"});
    row("最小数量d", "<>", "2", {"x'y", "b2"});
    row("总数d", "=", "50", {"A1"});
    row("设备号", "=", "A1", {}, true);   // a field typed by hand
    row("设备号c", "!=", "A1", {}, true); // not a comparison
}

void TestStockDlg::query()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QFETCH(QStringList, codes);
    QFETCH(bool, error);
    test::seed(*m_db, "DEVICE", {{"x'y", 1, 1, 1, 1}});
    auto form = openForm();
    form->queryGroup()->fieldCombo()->setCurrentText(field);
    form->queryGroup()->operatorCombo()->setCurrentText(op);
    form->queryGroup()->valueEdit()->setText(value);
    QVERIFY(test::press(*form, Query));
    QCOMPARE(Messages::shown().size(), error ? 1 : 0);
    QStringList listedCodes;
    for (const QStringList& r : test::listed(*form->list()))
        listedCodes << r.at(0);
    QCOMPARE(listedCodes, codes);
}

void TestStockDlg::codeListFailureClosesTheForm()
{
    m_scripted->beforeQuery = [](const QString& sql) {
        if (sql.contains(u"DEVICE_CODE"))
            throw DbError(DbError::Kind::Engine, QStringLiteral("表不存在"));
    };
    CStockDlg form(test::formContext(m_scripted, nullptr, 3));
    QVERIFY(Messages::shown().isEmpty());          // nothing is read while the form is built
    QCOMPARE(form.exec(), int(QDialog::Rejected)); // returns at once, never shown
    QCOMPARE(Messages::shownTexts(), QStringList{"表不存在"});
    QVERIFY(!form.isVisible());
}

void TestStockDlg::readOnlyClassMayListQueryPrintAndRead()
{
    // Printed from the top row while codes read as numbers.
    test::seed(*m_db, "DEVICE", {{"0012", 7.75, 100, 10.5, 200}, {"305", 12, 20, 2, 9999.9}});
    auto form = openForm(3);
    QCOMPARE(test::listed(*form->list()).size(), 4);
    QVERIFY(test::type(*form,
                       {{"queryField", "总数d"}, {"queryOperator", ">"}, {"queryValue", "100"}}));
    QVERIFY(test::press(*form, Query));
    QCOMPARE(test::listed(*form->list()).size(), 3);
    std::unique_ptr<QMenu> menu(form->commands()->createMenu(nullptr));
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{"新增", "修改", "删除", "打印", "帮助", "退出", "-", "查询", "-",
                                 "打印预览…", "导出…\tCtrl+E", "导入…"}));
    QVERIFY(test::press(*form, Help));
    QVERIFY(m_sandbox->helpLaunches().at(0).join(' ').contains("device.htm"));

    // The report of what the list shows, to a PDF (VOK_REPORT_DIR keeps it).
    QString dir = qEnvironmentVariable("VOK_REPORT_DIR");
    if (dir.isEmpty())
        dir = m_sandbox->dataDir();
    const QString pdf = dir + QStringLiteral("/stock.pdf");
    QFile::remove(pdf);
    test::printToPdf([&] { return pdf; });
    QVERIFY(test::press(*form, Print));
    QVERIFY(QFile(pdf).size() > 1000);
    QVERIFY(Messages::shown().isEmpty());

    QVERIFY(test::press(*form, Exit));
    QVERIFY(!form->isVisible());
    QCOMPARE(stock().size(), 4);
}

void TestStockDlg::scannedCodeShowsItsStockRow_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("now"); // 1: the form's first figure, nothing shown
    QTest::newRow("a listed code") << "A1"
                                   << "5";
    QTest::newRow("a code without a stock row") << "c3"
                                                << "1";
    QTest::newRow("unknown") << "Z9"
                             << "1";
}

void TestStockDlg::scannedCodeShowsItsStockRow()
{
    QFETCH(QString, code);
    QFETCH(QString, now);
    auto form = openForm();
    auto* combo = test::control<QComboBox>(*form, Code);
    combo->setFocus();
    QTRY_VERIFY(combo->hasFocus());
    QTest::keyClicks(combo, code);
    QTest::keyClick(combo, Qt::Key_Return);
    QVERIFY(form->isVisible());
    QCOMPARE(test::control<QLineEdit>(*form, Now)->text(), now);
    const bool known = code != QLatin1String("Z9");
    QCOMPARE(Messages::shownTexts(),
             known ? QStringList() : QStringList{DeviceScan::unknownCodeText(code)});
    QCOMPARE(QApplication::focusWidget() == test::control<QLineEdit>(*form, Now), known);
    // The catalogue's name beside the code, none for a code it lacks.
    QCOMPARE(test::control<QLineEdit>(*form, "deviceName")->text(),
             known ? QStringLiteral("n") : QString());
}

QTEST_MAIN(TestStockDlg)
#include "tst_stockdlg.moc"

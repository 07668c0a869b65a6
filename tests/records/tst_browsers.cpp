// The stock-out, return, demand, purchase-plan and adjustment browsers and
// the log viewer driven as a user drives them, and the row identity every browser's
// Modify and Delete keep to (the stock-in browser included).
#include "records/ViewAdjustDlg.h"
#include "records/ViewInDlg.h"
#include "records/ViewLogDlg.h"
#include "records/ViewNeedDlg.h"
#include "records/ViewOutDlg.h"
#include "records/ViewReturnDlg.h"
#include "records/ViewWantBuyDlg.h"
#include "support/BrowserTest.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/DeviceScan.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/QueryGroup.h"
#include "ui/RecordListView.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QPushButton>
#include <QTest>

using namespace vok;
using Messages::Answer;
using Messages::Icon;

namespace {

using test::u;

// The rows every test starts from.
void seedRows(Connection& c)
{
    test::seed(c, "DEVICE_IN",
               {{"1", "2004-1-5 9:3:7", "甲", "1", 1, 1, "王"},
                {"2", "2004-2-1 8:0:0", "乙", "2", 2, 2, "张"},
                {"3", "2004-2-1 8:0:0", "乙", "3", 3, 3, "张"}});
    test::seed(c, "DEVICE_OUT",
               {{"1", "部门A", "2004-1-5 9:3:7", "2", "王", 3, "李", "维修"},
                {"2", "部门B", "2004-2-1 8:0:0", "abc", "张", 5, "赵", "实验"},
                {"3", "部门B", "2004-2-1 8:0:0", "1", "张", 6, "赵", "实验"}});
    test::seed(c, "DEVICE_RETURN",
               {{"1", "2004-1-5 9:3:7", "王", 2, "李"},
                {"2", "2004-3-1 10:0:0", "张", 4, "赵"},
                {"3", "2004-3-1 10:0:0", "张", 1, "钱"}});
    test::seed(c, "DEVICE_NEED",
               {{"1", "部门A", "2004-1-1", "2004-2-1", 5},
                {"2", "部门B", "2004-1-1", "2004-3-1", 7},
                {"2", "部门B", "2004-2-1", "2004-4-1", 8}});
    test::seed(c, "DEVICE_WANTBUY",
               {{"1", 5, 10, 20, 15, "abc", 9.5, "2004-1-5 9:3:7"},
                {"2", 1, 2, 30, 29, "def", 3, "2004-2-1 8:0:0"},
                {"3", 0, 0, 9, 9, "abc", 1, "2004-2-1 8:0:0"}});
    test::seed(
        c, "HOWDO",
        {{"张三", "登录数据库", "2004-1-5 9:3:7"}, {"李四", "删除入库信息", "2004-2-1 8:0:0"}});
    test::seed(c, "DEVICE_ADJUST",
               {{"1", "2004-1-5 9:3:7", 0, 5, "期初库存", "王"},
                {"2", "2004-2-1 8:0:0", 5, 3, "修改库存", "张"},
                {"3", "2004-3-1 10:0:0", 3, 0, "删除库存", "张"}});
}

// One browser under test: how to open it and what tells its rows apart.
struct Kind
{
    const char* name;
    std::function<std::unique_ptr<RecordBrowser>(const FormContext&)> make;
    const char* table;
    int modify;           // the command; 0: none
    int remove;           // the command; 0: none
    const char* editable; // a text field Modify stores
    SqlLiteral whereTop;  // the top row (code 3, or the second demand row)
    const char* topValue; // the value whereTop binds
    const char* done;     // Modify's notice
    const char* deleteLog;
};

template <typename T> std::unique_ptr<RecordBrowser> make(const FormContext& c)
{
    return std::make_unique<T>(c);
}

const Kind kKinds[] = {
    {"in", make<CViewInDlg>, "DEVICE_IN", CViewInDlg::IDC_MODIFY, CViewInDlg::IDC_DELETE,
     "provider", "code=?", "3", "完成修改入库信息操作！", "删除入库信息"},
    {"out", make<CViewOutDlg>, "DEVICE_OUT", CViewOutDlg::IDC_MODIFY, CViewOutDlg::IDC_DELETE,
     "taker", "code=?", "3", "完成操作！", "删除出库信息"},
    {"return", make<CViewReturnDlg>, "DEVICE_RETURN", CViewReturnDlg::IDC_MODIFY,
     CViewReturnDlg::IDC_DELETE, "keeper", "code=?", "3", "完成操作！", "删除还库信息"},
    {"need", make<CViewNeedDlg>, "DEVICE_NEED", 0, CViewNeedDlg::IDC_DELETE, nullptr,
     "need_number=?", "8", "", "删除需求信息"},
    {"wantbuy", make<CViewWantBuyDlg>, "DEVICE_WANTBUY", 0, CViewWantBuyDlg::IDC_DELETE, nullptr,
     "code=?", "3", "", "删除采购计划信息"},
};

// The adjustment list: read-only, no command of its own but query and print.
const Kind kAdjust{
    "adjust", make<CViewAdjustDlg>, "DEVICE_ADJUST", 0, 0, nullptr, "code=?", "3", "", ""};

} // namespace

class TestBrowsers : public QObject, test::BrowserTest
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opens_data();
    void opens();
    void modifyChangesOnlyTheClickedRow_data();
    void modifyChangesOnlyTheClickedRow();
    void modifyAfterAnotherChangeWritesNothing_data();
    void modifyAfterAnotherChangeWritesNothing();
    void deleteOfARowGoneSaysSo_data();
    void deleteOfARowGoneSaysSo();
    void deleteSharedKeyAsks_data();
    void deleteSharedKeyAsks();
    void deleteOfAListedRowGoneLeavesItsTwin_data();
    void deleteOfAListedRowGoneLeavesItsTwin();
    void deleteClearsTheFields_data();
    void deleteClearsTheFields();
    void stockOutState_data();
    void stockOutState();
    void purchasePlanQueryBySupplier();
    void adjustmentsAreOnlyRead_data();
    void adjustmentsAreOnlyRead();
    void readOnlyClassIsRefused_data();
    void readOnlyClassIsRefused();
    void enterClosesWhenChecksPass_data();
    void enterClosesWhenChecksPass();
    void scannedCodeInQuery_data();
    void scannedCodeInQuery();
    void logViewer();

private:
    std::unique_ptr<RecordBrowser> open(const Kind& kind, int classNumber = 1);
    void clickRow(RecordBrowser& dlg, int row);
    QLineEdit* edit(RecordBrowser& dlg, const QString& name);
    QStringList listed(RecordBrowser& dlg, int column = 0)
    {
        return test::listedColumn(*dlg.list(), column);
    }
    QStringList logEntries();
    QList<QStringList> table(const Kind& kind);
};

void TestBrowsers::init()
{
    openDatabase(seedRows);
}

void TestBrowsers::cleanup()
{
    PrintService::setChooser({});
    closeDatabase();
}

std::unique_ptr<RecordBrowser> TestBrowsers::open(const Kind& kind, int classNumber)
{
    auto dlg = kind.make(test::formContext(m_c, &m_log, classNumber, QStringLiteral("admin")));
    test::showOpened(*dlg);
    return dlg;
}

void TestBrowsers::clickRow(RecordBrowser& dlg, int row)
{
    RecordListView* list = dlg.list();
    const QRect r = list->visualRect(list->model()->index(row, 0));
    QVERIFY(r.isValid());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

QLineEdit* TestBrowsers::edit(RecordBrowser& dlg, const QString& name)
{
    auto* e = qobject_cast<QLineEdit*>(dlg.field(name));
    Q_ASSERT(e);
    return e;
}

QStringList TestBrowsers::logEntries()
{
    QStringList out;
    for (const QStringList& r :
         test::rows(*m_c, "SELECT do_what FROM HOWDO WHERE do_user=?", {"admin"}))
        out << r.first();
    return out;
}

QList<QStringList> TestBrowsers::table(const Kind& kind)
{
    return test::table(*m_c, kind.table);
}

void TestBrowsers::opens_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("headings");
    QTest::addColumn<QStringList>("menu");
    QTest::addColumn<QString>("topic");
    QTest::newRow("out") << 1 << u("查看出库信息")
                         << QStringList{u("设备号"), u("使用部门"), u("出库时间"), u("出库状况"),
                                        u("经手人"), u("出库数量"), u("领取人"),   u("用途")}
                         << QStringList{u("删除"), u("修改"), u("帮助"), u("退出"),
                                        u("打印"), "-",       u("查询")}
                         << "viewdevout.htm";
    QTest::newRow("return") << 2 << u("查看还库信息")
                            << QStringList{u("设备号"), u("还库时间"), u("管理员"), u("数量"),
                                           u("归还人")}
                            << QStringList{u("修改"), u("删除"), u("帮助"), u("打印"),
                                           u("退出"), "-",       u("查询")}
                            << "viewdevret.htm";
    QTest::newRow("need") << 3 << u("查看需求信息")
                          << QStringList{u("设备号"), u("需求部门"), u("开始时间"), u("结束时间"),
                                         u("数量")}
                          << QStringList{u("删除"), u("打印"), u("帮助"), u("退出"), "-", u("查询")}
                          << "viewdevneed.htm";
    QTest::newRow("wantbuy") << 4 << u("查看设备采购计划报表")
                             << QStringList{u("设备号"),   u("现有库存"), u("总库存"),
                                            u("最大库存"), u("购买数量"), u("供应商"),
                                            u("价格"),     u("计划时间")}
                             << QStringList{u("删除"), u("帮助"), u("打印"),
                                            u("退出"), "-",       u("查询")}
                             << "viewreport.htm";
    QTest::newRow("adjust") << -1 << u("查看库存调整")
                            << QStringList{u("设备号"),     u("调整时间"), u("调整前数量"),
                                           u("调整后数量"), u("原因"),     u("操作员"),
                                           u("单价")}
                            << QStringList{u("打印"), u("帮助"), u("退出"), "-", u("查询")}
                            << "viewadjust.htm";
}

void TestBrowsers::opens()
{
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(QStringList, headings);
    QFETCH(QStringList, menu);
    QFETCH(QString, topic);
    const Kind& k = kind < 0 ? kAdjust : kKinds[kind];
    auto dlg = open(k);
    QCOMPARE(dlg->windowTitle(), title);
    // A list without a name of its own is announced by the form's title.
    QCOMPARE(QAccessible::queryAccessibleInterface(dlg->list())->text(QAccessible::Name), title);
    const RecordListModel* m = dlg->list()->records();
    QStringList shown;
    for (int c = 0; c < m->columnCount(); ++c)
        shown << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(shown, headings);
    const QStringList codes{kind == 3 ? "2" : "3", "2", "1"};
    QCOMPARE(listed(*dlg), codes);
    const int w = dlg->list()->frameGeometry().width();
    for (int c = 0; c < m->columnCount(); ++c)
        QCOMPARE(dlg->list()->columnWidth(c), w / m->columnCount());
    std::unique_ptr<QMenu> popup(dlg->commands()->createMenu(nullptr));
    QStringList items;
    for (QAction* a : popup->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    // The list's own commands (preview, export) follow the form's.
    QCOMPARE(items.mid(0, menu.size()), menu);
    dlg->commands()->trigger(CommandTable::kHelp);
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(m_sandbox->helpLaunches().first().join(u' ').contains(topic));

    // The report of the listed rows; VOK_REPORT_DIR and VOK_SHOT_DIR keep
    // the PDF and a picture for a look.
    QString dir = qEnvironmentVariable("VOK_REPORT_DIR");
    if (dir.isEmpty())
        dir = m_sandbox->dataDir();
    const QString pdf = dir + QStringLiteral("/%1.pdf").arg(QLatin1String(k.name));
    QFile::remove(pdf);
    test::printToPdf([&] { return pdf; });
    QVERIFY(test::press(*dlg, "print"));
    QVERIFY(QFile(pdf).size() > 1000);
    QVERIFY(Messages::shown().isEmpty());
    if (qEnvironmentVariableIsSet("VOK_SHOT_DIR")) {
        clickRow(*dlg, 1);
        dlg->grab().save(qEnvironmentVariable("VOK_SHOT_DIR") +
                         QStringLiteral("/%1.png").arg(QLatin1String(k.name)));
    }
}

void TestBrowsers::modifyChangesOnlyTheClickedRow_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("in") << 0;
    QTest::newRow("out") << 1;
    QTest::newRow("return") << 2;
}

void TestBrowsers::modifyChangesOnlyTheClickedRow()
{
    QFETCH(int, kind);
    const Kind& k = kKinds[kind];
    auto dlg = open(k);
    const auto before = table(k);
    // Row 0 is code 3; code 2 has the same time.
    clickRow(*dlg, 0);
    edit(*dlg, k.editable)->setText(u("新"));
    QTest::mouseClick(dlg->commands()->button(k.modify), Qt::LeftButton);
    QCOMPARE(Messages::shownTexts(), QStringList{u(k.done)});
    auto after = table(k);
    QCOMPARE(after.size(), 3);
    QCOMPARE(after.at(0), before.at(0));
    QCOMPARE(after.at(1), before.at(1));
    QVERIFY(after.at(2) != before.at(2));
    QVERIFY(after.at(2).contains(u("新")));
    QCOMPARE(logEntries().size(), 1);
    QCOMPARE(listed(*dlg), (QStringList{"3", "2", "1"}));
}

void TestBrowsers::modifyAfterAnotherChangeWritesNothing_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("removed");
    QTest::newRow("in changed") << 0 << false;
    QTest::newRow("out changed") << 1 << false;
    QTest::newRow("out removed") << 1 << true;
    QTest::newRow("return changed") << 2 << false;
}

void TestBrowsers::modifyAfterAnotherChangeWritesNothing()
{
    QFETCH(int, kind);
    QFETCH(bool, removed);
    const Kind& k = kKinds[kind];
    auto dlg = open(k);
    clickRow(*dlg, 0);
    // Another workstation changes or removes the row meanwhile.
    auto other = m_sandbox->open();
    const TableRows top{k.table, k.whereTop, {k.topValue}};
    if (removed)
        other->remove(top);
    else
        test::exec(*other, u("UPDATE ") + k.table + " SET code=? WHERE " + k.whereTop.text(),
                   {"9", k.topValue});
    const auto before = table(k);
    edit(*dlg, k.editable)->setText(u("新"));
    dlg->commands()->trigger(k.modify);
    QCOMPARE(Messages::shownTexts(), QStringList{removed ? RecordBrowser::recordGoneText()
                                                         : RecordBrowser::recordChangedText()});
    QCOMPARE(Messages::shown().first().icon, Icon::Exclamation);
    QCOMPARE(table(k), before);
    QCOMPARE(logEntries(), QStringList());
    // The list was read again.
    QCOMPARE(listed(*dlg).first(), removed ? QStringLiteral("2") : QStringLiteral("9"));
}

void TestBrowsers::deleteOfARowGoneSaysSo_data()
{
    QTest::addColumn<int>("kind");
    for (int i = 0; i < 5; ++i)
        QTest::newRow(kKinds[i].name) << i;
}

void TestBrowsers::deleteOfARowGoneSaysSo()
{
    QFETCH(int, kind);
    const Kind& k = kKinds[kind];
    auto dlg = open(k);
    clickRow(*dlg, 0);
    m_sandbox->open()->remove({k.table});
    dlg->commands()->trigger(k.remove);
    QCOMPARE(Messages::shownTexts(), QStringList{RecordBrowser::recordGoneText()});
    QCOMPARE(logEntries(), QStringList());
    QCOMPARE(dlg->list()->records()->rowCount(), 0);
}

void TestBrowsers::deleteSharedKeyAsks_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("question");
    QTest::newRow("out") << 1
                         << u("有2条出库信息的出库时间都是2004-02-01 08:00:00，将全部删除。\r\n"
                              "确定删除吗？");
    QTest::newRow("return") << 2
                            << u("有2条还库信息的还库时间都是2004-03-01 10:00:00，将全部删除。\r\n"
                                 "确定删除吗？");
    QTest::newRow("need") << 3
                          << u("有2条需求信息的设备号都是2、需求部门都是部门B，将全部删除。\r\n"
                               "确定删除吗？");
    QTest::newRow("wantbuy") << 4
                             << u("有2条采购计划信息的计划时间都是2004-02-01 08:00:00，"
                                  "将全部删除。\r\n确定删除吗？");
}

void TestBrowsers::deleteSharedKeyAsks()
{
    QFETCH(int, kind);
    QFETCH(QString, question);
    const Kind& k = kKinds[kind];
    auto dlg = open(k);
    clickRow(*dlg, 0);
    Messages::queueAnswer(Answer::Ok);
    QTest::mouseClick(dlg->commands()->button(k.remove), Qt::LeftButton);
    QCOMPARE(Messages::shownTexts(), (QStringList{question, u("完成操作！")}));
    QCOMPARE(Messages::shown().first().icon, Icon::Stop);
    QCOMPARE(table(k).size(), 1);
    QCOMPARE(table(k).first().first(), QStringLiteral("1"));
    QCOMPARE(logEntries(), QStringList{u(k.deleteLog)});
    QCOMPARE(listed(*dlg), QStringList{"1"});
    // The one row left goes without a question.
    Messages::clearShown();
    clickRow(*dlg, 0);
    dlg->commands()->trigger(k.remove);
    QCOMPARE(Messages::shownTexts(), QStringList{u("完成操作！")});
    QCOMPARE(table(k).size(), 0);
}

void TestBrowsers::deleteOfAListedRowGoneLeavesItsTwin_data()
{
    QTest::addColumn<int>("kind");
    for (int i = 0; i < 5; ++i)
        QTest::newRow(kKinds[i].name) << i;
}

void TestBrowsers::deleteOfAListedRowGoneLeavesItsTwin()
{
    // The top row shares its key (the time; the demand's code and
    // department) with the row under it. Another workstation deletes the
    // listed top row; Delete must not take the twin instead.
    QFETCH(int, kind);
    const Kind& k = kKinds[kind];
    auto dlg = open(k);
    clickRow(*dlg, 0);
    m_sandbox->open()->remove({k.table, k.whereTop, {k.topValue}});
    const auto before = table(k);
    dlg->commands()->trigger(k.remove);
    QCOMPARE(Messages::shownTexts(), QStringList{RecordBrowser::recordGoneText()});
    QCOMPARE(table(k), before);
    QCOMPARE(before.size(), 2);
    QCOMPARE(logEntries(), QStringList());
    QCOMPARE(dlg->list()->records()->rowCount(), 2);
}

void TestBrowsers::deleteClearsTheFields_data()
{
    QTest::addColumn<int>("kind");
    for (int i = 0; i < 5; ++i)
        QTest::newRow(kKinds[i].name) << i;
}

void TestBrowsers::deleteClearsTheFields()
{
    QFETCH(int, kind);
    const Kind& k = kKinds[kind];
    auto dlg = open(k);
    clickRow(*dlg, 2); // a row of its own key
    const auto* details = dlg->findChild<QWidget*>(QStringLiteral("detailGroup"));
    QVERIFY(details);
    const auto edits = details->findChildren<QLineEdit*>();
    QVERIFY(!edits.isEmpty());
    QVERIFY(!edits.first()->text().isEmpty());
    dlg->commands()->trigger(k.remove);
    QCOMPARE(Messages::shownTexts().size(), 1);
    QCOMPARE(table(k).size(), 2);
    for (const QLineEdit* e : edits)
        QVERIFY2(e->text().isEmpty(), qPrintable(e->objectName()));
    // Nothing is left to delete: the empty fields are refused or found
    // gone, and nothing is written.
    Messages::clearShown();
    dlg->commands()->trigger(k.remove);
    QCOMPARE(Messages::shownTexts().size(), 1);
    QCOMPARE(Messages::shown().first().icon, Icon::Exclamation);
    QCOMPARE(table(k).size(), 2);
    QCOMPARE(logEntries(), QStringList{u(k.deleteLog)});
}

void TestBrowsers::stockOutState_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("state"); // typed; empty: as the click shows it
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("stored");
    QTest::newRow("10") << 0 << "10" << u("“请填入一个在0和9之间的整数。”") << "1";
    QTest::newRow("-1") << 0 << "-1" << u("“请填入一个在0和9之间的整数。”") << "1";
    QTest::newRow("not a number") << 0 << "x" << u("请键入一个整数。") << "1";
    QTest::newRow("9") << 0 << "9" << u("完成操作！") << "9";
    QTest::newRow("listed abc shows 0") << 1 << "" << u("完成操作！") << "0";
}

void TestBrowsers::stockOutState()
{
    QFETCH(int, row);
    QFETCH(QString, state);
    QFETCH(QString, message);
    QFETCH(QString, stored);
    auto dlg = open(kKinds[1]);
    clickRow(*dlg, row);
    QLineEdit* e = edit(*dlg, "outState");
    if (state.isEmpty())
        QCOMPARE(e->text(), QStringLiteral("0"));
    else
        e->setText(state);
    dlg->commands()->trigger(CViewOutDlg::IDC_MODIFY);
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    const QString code = row == 0 ? QStringLiteral("3") : QStringLiteral("2");
    const QString original = row == 0 ? QStringLiteral("1") : QStringLiteral("abc");
    QCOMPARE(
        test::rows(*m_c,
                   QStringLiteral("SELECT out_state FROM DEVICE_OUT WHERE code='%1'").arg(code)),
        QList<QStringList>{{message == u("完成操作！") ? stored : original}});
}

void TestBrowsers::purchasePlanQueryBySupplier()
{
    auto dlg = open(kKinds[4]);
    test::query(*dlg->queryGroup(), u("供应商c"), u("="), u("abc"));
    QCOMPARE(listed(*dlg), (QStringList{"3", "1"}));
    clickRow(*dlg, 1);
    QCOMPARE(edit(*dlg, "price")->text(), QStringLiteral("9.5"));
    QCOMPARE(edit(*dlg, "buyDate")->text(), QStringLiteral("2004-01-05 09:03:07"));
    QVERIFY(Messages::shown().isEmpty());
}

void TestBrowsers::adjustmentsAreOnlyRead_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("by code") << u("设备号c") << "="
                             << "2" << QStringList{"2"};
    QTest::newRow("by time") << u("调整时间c") << ">"
                             << "2004-1-31" << QStringList{"3", "2"};
    QTest::newRow("by reason") << u("原因c") << "=" << u("期初库存") << QStringList{"1"};
    QTest::newRow("by user") << u("操作员c") << "=" << u("张") << QStringList{"3", "2"};
}

void TestBrowsers::adjustmentsAreOnlyRead()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    auto dlg = open(kAdjust);
    QVERIFY(!dlg->findChild<QPushButton*>("modify"));
    QVERIFY(!dlg->findChild<QPushButton*>("delete"));
    test::query(*dlg->queryGroup(), field, op, value);
    QTEST(listed(*dlg), "codes");
    clickRow(*dlg, 0);
    for (const char* name : {"code", "adjustTime", "before", "after", "reason", "userName"})
        QVERIFY(edit(*dlg, QString::fromLatin1(name))->isReadOnly());
    QVERIFY(Messages::shown().isEmpty());
}

void TestBrowsers::readOnlyClassIsRefused_data()
{
    deleteOfARowGoneSaysSo_data();
}

void TestBrowsers::readOnlyClassIsRefused()
{
    QFETCH(int, kind);
    const Kind& k = kKinds[kind];
    auto dlg = open(k, 3);
    const auto before = table(k);
    clickRow(*dlg, 0);
    for (int id : {k.modify, k.remove}) {
        if (!id)
            continue;
        Messages::clearShown();
        dlg->commands()->trigger(id);
        QCOMPARE(Messages::shownTexts(), QStringList{u("你无权执行此项操作!请重新登录数据库!")});
        QCOMPARE(Messages::shown().first().caption, u("警告!"));
    }
    QCOMPARE(table(k), before);
    QCOMPARE(logEntries(), QStringList());
}

void TestBrowsers::enterClosesWhenChecksPass_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("field"); // set to 0 first; empty: none
    QTest::addColumn<bool>("closes");
    QTest::newRow("out") << 1 << QString() << true;
    QTest::newRow("out quantity 0") << 1 << "outNumber" << false;
    QTest::newRow("return") << 2 << QString() << true;
    QTest::newRow("return quantity 0") << 2 << "returnNumber" << false;
    QTest::newRow("need") << 3 << QString() << true;
    QTest::newRow("wantbuy") << 4 << QString() << true;
}

void TestBrowsers::enterClosesWhenChecksPass()
{
    QFETCH(int, kind);
    QFETCH(QString, field);
    QFETCH(bool, closes);
    auto dlg = open(kKinds[kind]);
    clickRow(*dlg, 0);
    if (!field.isEmpty())
        edit(*dlg, field)->setText(QStringLiteral("0"));
    const auto before = table(kKinds[kind]);
    dlg->queryGroup()->valueEdit()->setFocus();
    QTest::keyClick(dlg->queryGroup()->valueEdit(), Qt::Key_Return);
    QCOMPARE(dlg->isVisible(), !closes);
    QCOMPARE(Messages::shownTexts(),
             closes ? QStringList() : QStringList{u("“请填入一个在1和10000之间的数字。”")});
    QCOMPARE(table(kKinds[kind]), before);
    // A focused button takes Enter itself.
    if (!closes) {
        QPushButton* help = dlg->commands()->button(CommandTable::kHelp);
        help->setFocus();
        QTest::keyClick(help, Qt::Key_Return);
        QCOMPARE(m_sandbox->helpLaunches().size(), 1);
        QVERIFY(dlg->isVisible());
    }
}

void TestBrowsers::scannedCodeInQuery_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message"); // empty: the code is taken
    QTest::newRow("a code") << u("设备号c") << "2" << QString();
    QTest::newRow("an unknown code") << u("设备号c") << "X9" << DeviceScan::unknownCodeText("X9");
}

void TestBrowsers::scannedCodeInQuery()
{
    QFETCH(QString, field);
    QFETCH(QString, code);
    QFETCH(QString, message);
    test::seed(*m_c, "DEVICE_CODE", {{"2", "投影仪"}});
    auto dlg = open(kKinds[1]);
    QueryGroup* query = dlg->queryGroup();
    query->fieldCombo()->setCurrentText(field);
    query->operatorCombo()->setCurrentText(QStringLiteral("="));
    query->valueEdit()->setFocus();
    QTest::keyClicks(query->valueEdit(), code);
    QTest::keyClick(query->valueEdit(), Qt::Key_Return);

    QVERIFY(dlg->isVisible());
    if (message.isEmpty()) {
        QVERIFY(Messages::shown().isEmpty());
        QVERIFY(query->queryButton()->hasFocus());
        QTest::keyClick(query->queryButton(), Qt::Key_Return);
        QCOMPARE(listed(*dlg), QStringList{code});
    } else {
        QCOMPARE(Messages::shownTexts(), QStringList{message});
        QCOMPARE(query->valueText(), QString());
        QVERIFY(query->valueEdit()->hasFocus());
    }
}

void TestBrowsers::logViewer()
{
    FormContext context = test::formContext(m_c, nullptr, 3);
    auto dlg = test::openForm<CViewLogDlg>(context);
    QCOMPARE(dlg->windowTitle(), u("查看操作日志"));
    QVERIFY(!dlg->queryGroup());
    QVERIFY(!dlg->findChild<QPushButton*>("print"));
    QCOMPARE(dlg->commands()->button(CommandTable::kExit)->text(), u("退       出"));
    QVERIFY(dlg->commands()->button(CommandTable::kExit)->isDefault());
    // Read by name: user, date, content; the date as the other lists show it.
    QCOMPARE(dlg->list()->records()->rowTexts(0),
             (QStringList{u("李四"), "2004-02-01 08:00:00", u("删除入库信息")}));
    QCOMPARE(dlg->list()->records()->rowCount(), 2);
    clickRow(*dlg, 1);
    QCOMPARE(edit(*dlg, "user")->text(), u("张三"));
    QCOMPARE(edit(*dlg, "date")->text(), QStringLiteral("2004-01-05 09:03:07"));
    QCOMPARE(dlg->field(u"what")->property("plainText").toString(), u("登录数据库"));
    if (qEnvironmentVariableIsSet("VOK_SHOT_DIR"))
        dlg->grab().save(qEnvironmentVariable("VOK_SHOT_DIR") + QStringLiteral("/log.png"));

    QTest::mouseClick(dlg->commands()->button(CViewLogDlg::IDC_CLEAR), Qt::LeftButton);
    QCOMPARE(Messages::shownTexts(), QStringList{u("你无权执行此项操作!请重新登录数据库!")});
    QCOMPARE(test::table(*m_c, "HOWDO").size(), 2);

    Messages::clearShown();
    context.classNumber = 2;
    dlg = test::openForm<CViewLogDlg>(context);
    QTest::mouseClick(dlg->commands()->button(CViewLogDlg::IDC_CLEAR), Qt::LeftButton);
    QVERIFY(Messages::shown().isEmpty());
    QCOMPARE(dlg->list()->records()->rowCount(), 0);
    QCOMPARE(test::table(*m_c, "HOWDO").size(), 0);
    // Return on the list chooses a row; on the form it presses the default
    // button, exit.
    dlg->setFocus();
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestBrowsers)
#include "tst_browsers.moc"

// The stock-in browser driven as a user drives it: list, click, query of
// every field, modify and delete by time, refusals, help, menu, print.
#include "core/OperationLog.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"
#include "records/ViewInDlg.h"
#include "support/BrowserTest.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/QueryGroup.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace vok;
using Messages::Answer;
using Messages::Buttons;
using Messages::Icon;

Q_DECLARE_METATYPE(Messages::Icon)

namespace {

// The rows every test starts from.
void seedRows(Connection& c)
{
    test::seed(c, "DEVICE_IN",
               {{"1", "2004-1-5 9:3:7", "O'Brien", "123", 2.5, 9.9, "王"},
                {"2", "2004-10-1 0:0:0", "公司", "456", 3, 12, "李"},
                {"3", "2004-9-30 23:59:59", "公司", "456", 1, 9, "李"},
                {"4", "2004-9-30 23:59:59", "厂", "789", 12.5, 100, "张"},
                {"5", "2004-11-2 8:0:0", "厂", "789", 0, 5, "张"}});
}

using test::u;

} // namespace

class TestViewIn : public QObject, test::BrowserTest
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opensWithTheTableReversed();
    void clickShowsRowInFields();
    void enterClosesUnlessAButtonHasFocus();
    void query_data();
    void query();
    void queryRefused_data();
    void queryRefused();
    void modifyByTime();
    void modifyWithoutRowChangesNothing();
    void modifyAfterScrollingChangesTheClickedRowOnly_data();
    void modifyAfterScrollingChangesTheClickedRowOnly();
    void modifyChecksFieldsFirst_data();
    void modifyChecksFieldsFirst();
    void deleteOneRowAsksNothing();
    void deleteSharedTimeAsks_data();
    void deleteSharedTimeAsks();
    void readOnlyClassIsRefused();
    void helpMenuAndPrint();
    void readOnlyLookAndNames();
    void serverListsAsTheEmbeddedEngine();

private:
    std::unique_ptr<CViewInDlg> open(int classNumber = 1);
    [[nodiscard]] bool clickRow(CViewInDlg& dlg, int row);
    QLineEdit* edit(CViewInDlg& dlg, const char* name);
    QPushButton* button(CViewInDlg& dlg, const QString& name);
    QStringList logEntries() { return test::logged(*m_c); }
};

void TestViewIn::init()
{
    openDatabase(seedRows);
}

void TestViewIn::cleanup()
{
    RecordListModel::setDefaultWindowRows(256);
    PrintService::setChooser({});
    closeDatabase();
}

std::unique_ptr<CViewInDlg> TestViewIn::open(int classNumber)
{
    auto dlg = openBrowser<CViewInDlg>(classNumber);
    if (!QTest::qWaitForWindowExposed(dlg.get()))
        qWarning("window not exposed");
    return dlg;
}

bool TestViewIn::clickRow(CViewInDlg& dlg, int row)
{
    RecordListView* list = dlg.list();
    const QRect r = list->visualRect(list->model()->index(row - list->frame()->offset(), 2));
    if (!r.isValid())
        return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    return true;
}

QLineEdit* TestViewIn::edit(CViewInDlg& dlg, const char* name)
{
    // The detail field of each DEVICE_IN column, by column name.
    const char* const kFields[] = {"code",     "inDate", "provider", "teleno",
                                   "quantity", "price",  "buyer"};
    const int column = schema::DeviceIn.indexOf(QString::fromLatin1(name));
    auto* e = column < 0 ? nullptr : test::control<QLineEdit>(dlg, kFields[column]);
    if (!e)
        qFatal("no edit %s in the form", name);
    return e;
}

QPushButton* TestViewIn::button(CViewInDlg& dlg, const QString& name)
{
    QPushButton* b = test::control<QPushButton>(dlg, name);
    if (!b || !b->isEnabled())
        qFatal("no enabled button %s in the form", qPrintable(name));
    return b;
}

void TestViewIn::opensWithTheTableReversed()
{
    auto dlg = open();
    QCOMPARE(dlg->windowTitle(), u("查看入库信息"));
    QCOMPARE(test::listedColumn(*dlg->list()), (QStringList{"5", "4", "3", "2", "1"}));
    const RecordListModel* m = dlg->list()->records();
    QCOMPARE(m->rowTexts(4), (QStringList{"1", "2004-01-05 09:03:07", "O'Brien", "123", "2.500000",
                                          "9.900000", u("王")}));
    QStringList headings;
    for (int c = 0; c < m->columnCount(); ++c)
        headings << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headings, (QStringList{u("设备号"), u("入库时间"), u("供应商"), u("供应商电话"),
                                    u("数量"), u("价格"), u("采购员")}));
    // Columns 0, 2, 4, 5, 6 take an eighth of the list's width, 1 and 3 3/16.
    const int w = dlg->list()->frameGeometry().width();
    QCOMPARE(dlg->list()->columnWidth(0), w / 8);
    QCOMPARE(dlg->list()->columnWidth(1), 3 * w / 16);
    QCOMPARE(edit(*dlg, "price")->text(), QStringLiteral("1"));
    QCOMPARE(edit(*dlg, "in_number")->text(), QStringLiteral("1"));
    QVERIFY(edit(*dlg, "code")->isReadOnly());
    QVERIFY(edit(*dlg, "in_date")->isReadOnly());
    QCOMPARE(button(*dlg, "modify")->text(), u("修　　改"));
    QVERIFY(button(*dlg, "exit")->isDefault());
    QStringList ops;
    for (int i = 0; i < dlg->queryGroup()->operatorCombo()->count(); ++i)
        ops << dlg->queryGroup()->operatorCombo()->itemText(i);
    QCOMPARE(ops, (QStringList{"<", "<>", "=", ">"}));
    QCOMPARE(dlg->queryGroup()->fieldCombo()->itemText(5), u("价格d"));
    QVERIFY(Messages::shown().isEmpty());
    // VOK_SHOT_DIR keeps a picture of the form for a look.
    if (qEnvironmentVariableIsSet("VOK_SHOT_DIR")) {
        QVERIFY(clickRow(*dlg, 1));
        test::savePicture(*dlg, QStringLiteral("viewin"));
    }
}

void TestViewIn::clickShowsRowInFields()
{
    auto dlg = open();
    QVERIFY(clickRow(*dlg, 1));
    QCOMPARE(edit(*dlg, "code")->text(), QStringLiteral("4"));
    QCOMPARE(edit(*dlg, "in_date")->text(), QStringLiteral("2004-09-30 23:59:59"));
    QCOMPARE(edit(*dlg, "provider")->text(), u("厂"));
    QCOMPARE(edit(*dlg, "teleno")->text(), QStringLiteral("789"));
    QCOMPARE(edit(*dlg, "in_number")->text(), QStringLiteral("12.5"));
    QCOMPARE(edit(*dlg, "price")->text(), QStringLiteral("100"));
    QCOMPARE(edit(*dlg, "buyer")->text(), u("张"));
    QVERIFY(clickRow(*dlg, 4));
    QCOMPARE(edit(*dlg, "price")->text(), QStringLiteral("9.9"));
    // Moving through the list with the keyboard shows each row too.
    QTest::keyClick(dlg->list(), Qt::Key_Up);
    QCOMPARE(edit(*dlg, "code")->text(), QStringLiteral("2"));
    QCOMPARE(edit(*dlg, "in_number")->text(), QStringLiteral("3"));
}

void TestViewIn::enterClosesUnlessAButtonHasFocus()
{
    auto dlg = open();
    // A focused button takes Enter.
    QPushButton* help = button(*dlg, "help");
    help->setFocus();
    QTest::keyClick(help, Qt::Key_Return);
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(dlg->isVisible());
    // Elsewhere Enter closes the form, writing nothing.
    dlg->queryGroup()->valueEdit()->setFocus();
    QTest::keyClick(dlg->queryGroup()->valueEdit(), Qt::Key_Return);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(logEntries(), QStringList());
}

void TestViewIn::query_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("设备号c") << u("设备号c") << "="
                             << "2" << QStringList{"2"};
    QTest::newRow("入库时间c after") << u("入库时间c") << ">"
                                     << "2004-9-1" << QStringList{"5", "4", "3", "2"};
    QTest::newRow("入库时间c equal") << u("入库时间c") << "="
                                     << "2004-09-30 23:59:59" << QStringList{"4", "3"};
    QTest::newRow("供应商c <>") << u("供应商c") << "<>" << u("公司") << QStringList{"5", "4", "1"};
    QTest::newRow("供应商c quote") << u("供应商c") << "="
                                   << "O'Brien" << QStringList{"1"};
    QTest::newRow("供应商电话c") << u("供应商电话c") << "="
                                 << "456" << QStringList{"3", "2"};
    QTest::newRow("数量d") << u("数量d") << ">"
                           << "2" << QStringList{"4", "2", "1"};
    QTest::newRow("数量d 12.5 is 12") << u("数量d") << "="
                                      << "12.5" << QStringList{};
    QTest::newRow("价格d 9.9 is 9") << u("价格d") << "="
                                    << "9.9" << QStringList{"3"};
    QTest::newRow("价格d <") << u("价格d") << "<"
                             << "10" << QStringList{"5", "3", "1"};
    QTest::newRow("采购员c") << u("采购员c") << "=" << u("李") << QStringList{"3", "2"};
    QTest::newRow("value is plain text") << u("设备号c") << "="
                                         << "x' OR '1'='1" << QStringList{};
}

void TestViewIn::query()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QFETCH(QStringList, codes);
    auto dlg = open();
    test::query(*dlg->queryGroup(), field, op, value);
    QCOMPARE(Messages::shownTexts(), QStringList());
    QCOMPARE(test::listedColumn(*dlg->list()), codes);
}

void TestViewIn::queryRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message"); // empty: the engine's own
    QTest::newRow("operator !=") << u("设备号c") << "!="
                                 << "1" << u("“!=”不是有效的比较运算符。");
    QTest::newRow("operator with SQL") << u("数量d") << "=1 OR 1="
                                       << "1" << u("“=1 OR 1=”不是有效的比较运算符。");
    QTest::newRow("not a date") << u("入库时间c") << "="
                                << "yesterday" << u("“yesterday”不是有效的日期。");
    QTest::newRow("field typed by hand") << u("设备号") << "="
                                         << "1" << QString();
    QTest::newRow("no field") << QString() << QString() << QString() << QString();
}

void TestViewIn::queryRefused()
{
    QFETCH(QString, field);
    QFETCH(QString, op);
    QFETCH(QString, value);
    QFETCH(QString, message);
    auto dlg = open();
    QCOMPARE(dlg->list()->records()->rowCount(), 5);
    test::query(*dlg->queryGroup(), field, op, value);
    QCOMPARE(Messages::shown().size(), 1);
    const Messages::Shown box = Messages::shown().first();
    QCOMPARE(box.icon, Icon::Exclamation);
    QCOMPARE(box.caption, vok::appTitle());
    QVERIFY(!box.text.isEmpty());
    if (!message.isEmpty())
        QCOMPARE(box.text, message);
    QCOMPARE(dlg->list()->records()->rowCount(), 0);
}

void TestViewIn::modifyByTime()
{
    auto dlg = open();
    // After a query the list shows the whole table again.
    test::query(*dlg->queryGroup(), u("设备号c"), QStringLiteral("="), QStringLiteral("2"));
    QCOMPARE(test::listedColumn(*dlg->list()), QStringList{"2"});
    QVERIFY(clickRow(*dlg, 0));
    edit(*dlg, "provider")->setText(u("新供应商"));
    edit(*dlg, "teleno")->setText(QStringLiteral("1234567890"));
    edit(*dlg, "in_number")->setText(QStringLiteral(" 7.5 "));
    edit(*dlg, "price")->setText(QStringLiteral("10000"));
    edit(*dlg, "buyer")->setText(u("赵"));
    QVERIFY(test::press(*dlg, "modify"));
    QCOMPARE(Messages::shownTexts(), QStringList{u("完成修改入库信息操作！")});
    QCOMPARE(Messages::shown().first().icon, Icon::None);
    QCOMPARE(test::table(*m_c, "DEVICE_IN", SqlText("code=?"), {"2"}),
             (QList<QStringList>{{"2", "2004-10-01 00:00:00", u("新供应商"), "1234567890", "7.5",
                                  "10000", u("赵")}}));
    QCOMPARE(logEntries(), QStringList{u("修改入库信息")});
    QCOMPARE(test::listedColumn(*dlg->list()), (QStringList{"5", "4", "3", "2", "1"}));
    QCOMPARE(dlg->list()->records()->text(3, 4), QStringLiteral("7.500000"));
}

void TestViewIn::modifyAfterScrollingChangesTheClickedRowOnly_data()
{
    QTest::addColumn<int>("frameRows");
    QTest::newRow("the view holds the whole list") << 200000;
    QTest::newRow("the view holds a run of 300 rows") << 300;
}

void TestViewIn::modifyAfterScrollingChangesTheClickedRowOnly()
{
    QFETCH(int, frameRows);
    // A long list read in small windows, every row of one time (the key).
    {
        Transaction t(*m_c);
        for (int i = 1; i <= 2000; ++i)
            m_c->append(QStringLiteral("DEVICE_IN"),
                        {"code", "in_date", "provider", "in_number", "price"},
                        {QStringLiteral("c%1").arg(i), QStringLiteral("2004-3-3 3:3:3"),
                         QStringLiteral("厂"), 2.0f, 1.0f});
        t.commit();
    }
    RecordListModel::setDefaultWindowRows(16);
    ListFrame::setDefaultFrameRows(frameRows);
    auto dlg = open();
    RecordListModel::setDefaultWindowRows(256);
    ListFrame::setDefaultFrameRows(200000);
    RecordListView* list = dlg->list();
    const RecordListModel* records = list->records();
    QTRY_COMPARE(records->rowCount(), 2005);
    // Dragged with the scroll bar, which covers the whole list either way.
    QCOMPARE(list->verticalScrollBar()->maximum() > 1900, true);
    list->verticalScrollBar()->setValue(1195);
    QCOMPARE(records->text(1200, 0), QStringLiteral("c800"));
    QVERIFY(clickRow(*dlg, 1200));
    QCOMPARE(list->currentRow(), 1200);
    QCOMPARE(edit(*dlg, "code")->text(), QStringLiteral("c800"));
    edit(*dlg, "provider")->setText(u("新供应商"));
    QVERIFY(test::press(*dlg, "modify"));
    QCOMPARE(Messages::shownTexts(), QStringList{u("完成修改入库信息操作！")});
    QCOMPARE(test::rows(*m_c, "SELECT code FROM DEVICE_IN WHERE provider=?", {"新供应商"}),
             QList<QStringList>{{"c800"}});
    // The refilled list keeps the place: the row is still chosen, in view.
    QTRY_COMPARE(list->currentRow(), 1200);
    QCOMPARE(records->text(1200, 2), u("新供应商"));
    QCOMPARE(list->model()->index(list->currentIndex().row(), 0).data().toString(),
             QStringLiteral("c800"));
    QVERIFY(list->viewport()->rect().intersects(list->visualRect(list->currentIndex())));
    // The keys walk the whole list: Down from the chosen row, Ctrl+End to
    // the oldest row, Ctrl+Home back to the newest.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->model()->index(list->currentIndex().row(), 0).data().toString(),
             QStringLiteral("c799"));
    QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(list->currentRow(), 2004);
    QVERIFY(list->viewport()->rect().intersects(list->visualRect(list->currentIndex())));
    QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(list->verticalScrollBar()->value(), 0);
}

void TestViewIn::modifyWithoutRowChangesNothing()
{
    auto dlg = open();
    const auto before = test::table(*m_c, "DEVICE_IN");
    dlg->commands()->trigger(CViewInDlg::IDC_MODIFY);
    QCOMPARE(Messages::shown().size(), 1);
    QCOMPARE(Messages::shown().first().icon, Icon::Exclamation);
    QVERIFY(!Messages::shownTexts().contains(u("完成修改入库信息操作！")));
    QCOMPARE(test::table(*m_c, "DEVICE_IN"), before);
    QCOMPARE(logEntries(), QStringList());
}

void TestViewIn::modifyChecksFieldsFirst_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("editName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("quantity 0 from the list") << 0 << ""
                                              << "" << u("“请填入一个在1和10000之间的数字。”");
    QTest::newRow("price not a number") << 1 << "price"
                                        << "abc" << u("请键入一个数。");
    QTest::newRow("price empty") << 1 << "price"
                                 << "" << u("请键入一个数。");
    QTest::newRow("quantity 10000.5") << 1 << "in_number"
                                      << "10000.5" << u("“请填入一个在1和10000之间的数字。”");
    QTest::newRow("supplier 21 bytes")
        << 1 << "provider" << u("一二三四五六七八九十x") << u("“请填入不多于20个的字符。”");
    QTest::newRow("telephone 11 bytes") << 1 << "teleno"
                                        << "12345678901" << u("“请填入不多于10个的字符。”");
    QTest::newRow("buyer 11 bytes")
        << 1 << "buyer" << u("一二三四五x") << u("“请填入不多于10个的字符。”");
}

void TestViewIn::modifyChecksFieldsFirst()
{
    QFETCH(int, row);
    QFETCH(QString, editName);
    QFETCH(QString, text);
    QFETCH(QString, message);
    for (int id : {CViewInDlg::IDC_MODIFY, CViewInDlg::IDC_DELETE}) {
        Messages::clearShown();
        // Class 3: the field check comes before the refusal.
        auto dlg = open(3);
        const auto before = test::table(*m_c, "DEVICE_IN");
        QVERIFY(clickRow(*dlg, row));
        QLineEdit* e = nullptr;
        if (!editName.isEmpty()) {
            e = edit(*dlg, editName.toLatin1().constData());
            e->setText(text);
        }
        dlg->commands()->trigger(id);
        QCOMPARE(Messages::shownTexts(), QStringList{message});
        QCOMPARE(Messages::shown().first().icon, Icon::Exclamation);
        if (e)
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(e));
        QCOMPARE(test::table(*m_c, "DEVICE_IN"), before);
        QCOMPARE(logEntries(), QStringList());
    }
}

void TestViewIn::deleteOneRowAsksNothing()
{
    auto dlg = open();
    QVERIFY(clickRow(*dlg, 3)); // code 2
    QVERIFY(test::press(*dlg, "delete"));
    QCOMPARE(Messages::shownTexts(), QStringList{u("完成删除入库信息操作！")});
    QCOMPARE(test::rows(*m_c, QStringLiteral("SELECT code FROM DEVICE_IN ORDER BY code")),
             (QList<QStringList>{{"1"}, {"3"}, {"4"}, {"5"}}));
    QCOMPARE(logEntries(), QStringList{u("删除入库信息")});
    QCOMPARE(test::listedColumn(*dlg->list()), (QStringList{"5", "4", "3", "1"}));
}

void TestViewIn::deleteSharedTimeAsks_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("cancel") << false;
    QTest::newRow("ok") << true;
}

void TestViewIn::deleteSharedTimeAsks()
{
    QFETCH(bool, confirm);
    auto dlg = open();
    QVERIFY(clickRow(*dlg, 2)); // code 3, the time it shares with code 4
    Messages::queueAnswer(confirm ? Answer::Ok : Answer::Cancel);
    dlg->commands()->trigger(CViewInDlg::IDC_DELETE);
    const Messages::Shown question = Messages::shown().first();
    QCOMPARE(question.text,
             u("有2条入库信息的入库时间都是2004-09-30 23:59:59，将全部删除。\r\n确定删除吗？"));
    QCOMPARE(question.icon, Icon::Stop);
    QCOMPARE(question.buttons, Buttons::OkCancel);
    const auto codes = test::rows(*m_c, QStringLiteral("SELECT code FROM DEVICE_IN ORDER BY code"));
    if (confirm) {
        QCOMPARE(Messages::shown().size(), 2);
        QCOMPARE(Messages::shown().at(1).text, u("完成删除入库信息操作！"));
        QCOMPARE(codes, (QList<QStringList>{{"1"}, {"2"}, {"5"}}));
        QCOMPARE(logEntries(), QStringList{u("删除入库信息")});
        QCOMPARE(test::listedColumn(*dlg->list()), (QStringList{"5", "2", "1"}));
    } else {
        QCOMPARE(Messages::shown().size(), 1);
        QCOMPARE(codes.size(), 5);
        QCOMPARE(logEntries(), QStringList());
    }
}

void TestViewIn::readOnlyClassIsRefused()
{
    auto dlg = open(3);
    QVERIFY(clickRow(*dlg, 3));
    edit(*dlg, "provider")->setText(u("改"));
    for (int id : {CViewInDlg::IDC_MODIFY, CViewInDlg::IDC_DELETE}) {
        Messages::clearShown();
        dlg->commands()->trigger(id);
        QCOMPARE(Messages::shown().size(), 1);
        QCOMPARE(Messages::shown().first().text, u("你无权执行此项操作!请重新登录数据库!"));
        QCOMPARE(Messages::shown().first().caption, u("警告!"));
        QCOMPARE(Messages::shown().first().icon, Icon::Stop);
    }
    QCOMPARE(test::rows(*m_c, "SELECT provider FROM DEVICE_IN WHERE code=?", {"2"}),
             QList<QStringList>{{u("公司")}});
    QCOMPARE(test::rows(*m_c, QStringLiteral("SELECT code FROM DEVICE_IN ORDER BY code")).size(),
             5);
    QCOMPARE(logEntries(), QStringList());
    // Querying stays available.
    Messages::clearShown();
    test::query(*dlg->queryGroup(), u("采购员c"), QStringLiteral("="), u("张"));
    QCOMPARE(test::listedColumn(*dlg->list()), (QStringList{"5", "4"}));
    QVERIFY(Messages::shown().isEmpty());
}

void TestViewIn::helpMenuAndPrint()
{
    auto dlg = open(3);
    QVERIFY(test::press(*dlg, "help"));
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(m_sandbox->helpLaunches().first().join(u' ').contains(u("viewdevin.htm")));

    std::unique_ptr<QMenu> menu(dlg->commands()->createMenu(nullptr));
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{u("修改"), u("删除"), u("打印"), u("帮助"), u("退出"), "-",
                                 u("查询"), "-", u("打印预览…"), u("导出…\tCtrl+E"), u("导入…")}));

    // Cancelling the print dialog prints nothing; accepting prints the
    // list (here to a PDF file).
    const QString pdf = m_sandbox->dataDir() + QStringLiteral("/report.pdf");
    int asked = 0;
    test::printToPdf([&] { return pdf; }, false, &asked);
    dlg->commands()->trigger(CViewInDlg::IDC_PRINT);
    QCOMPARE(asked, 1);
    QVERIFY(!QFile::exists(pdf));
    test::printToPdf([&] { return pdf; });
    QVERIFY(test::press(*dlg, "print"));
    QVERIFY(QFile(pdf).size() > 1000);
    QVERIFY(Messages::shown().isEmpty());

    QVERIFY(test::press(*dlg, "exit"));
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
}

void TestViewIn::serverListsAsTheEmbeddedEngine()
{
    // The same rows in an embedded file and on the server list the same
    // cells in the stock-in browser: more rows than a fetch block, NULLs,
    // texts longer than the fetch buffers, numbers, the ends of the date
    // range.
    if (!test::onServer())
        QSKIP("compares the server with the embedded engine");
    const QString longText = QString(300, QChar(0x4ED3)) + QStringLiteral("O'Brien");
    const QList<QVariantList> special{
        {QString(), QVariant(), QVariant(), QString(), QVariant(), QVariant(), QString()},
        {QStringLiteral("A1"), QStringLiteral("0100-01-01 00:00:00"), longText,
         QString(2000, QLatin1Char('x')), 0.1f, -2.5f, QStringLiteral("李强")},
        {QStringLiteral("A2"), QStringLiteral("9999-12-31 23:59:59"), QStringLiteral("a\nb"),
         QStringLiteral("1"), 1234567.0f, 1e-5f, QStringLiteral("\\")}};
    QTemporaryDir dir;
    QStringList hashes;
    for (const ConnectionPtr& c : {m_c, openSqliteConnection(dir.filePath("vok1.db"))}) {
        {
            Transaction t(*c);
            c->remove({"DEVICE_IN"});
            for (int i = 0; i < 700; ++i)
                c->append("DEVICE_IN", schema::DeviceIn.columnNames(),
                          i < special.size()
                              ? special.at(i)
                              : QVariantList{QString::number(i),
                                             QStringLiteral("2004-1-5 9:3:%1").arg(i % 60),
                                             QStringLiteral("上海仪器设备厂"), QString(),
                                             float(i) / 10, float(i), QStringLiteral("王小明")});
            t.commit();
        }
        const auto form = test::openForm<CViewInDlg>(test::formContext(c, nullptr));
        const QList<QStringList> listed = test::listed(*form->list());
        QCOMPARE(listed.size(), 700);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (const QStringList& row : listed)
            hash.addData(row.join(QChar(0x1F)).toUtf8() + '\x1e');
        hashes << QString::fromLatin1(hash.result().toHex());
    }
    QCOMPARE(hashes.at(0), hashes.at(1));
}

QTEST_MAIN(TestViewIn)
// The key fields look read-only, the editable texts stop at their
// capacity, and the list is named by the form's title.
void TestViewIn::readOnlyLookAndNames()
{
    auto dlg = open();
    for (const char* name : {"code", "in_date"}) {
        QLineEdit* e = edit(*dlg, name);
        QVERIFY(e->isReadOnly());
        QCOMPARE(e->palette().color(QPalette::Base), e->palette().color(QPalette::Window));
    }
    QVERIFY(edit(*dlg, "provider")->palette().color(QPalette::Base) !=
            edit(*dlg, "provider")->palette().color(QPalette::Window));
    QLineEdit* buyer = edit(*dlg, "buyer");
    buyer->clear();
    test::typeKeys(buyer, QString(6, QChar(0x5E93)));
    QCOMPARE(buyer->text(), QString(5, QChar(0x5E93)));
    QCOMPARE(dlg->findChild<RecordListView*>()->accessibleName(), QStringLiteral("查看入库信息"));
}

#include "tst_viewin.moc"

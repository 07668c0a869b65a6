#include "core/OperationLog.h"
#include "db/DbError.h"
#include "stock/DeviceCodeDlg.h"
#include "support/FormTest.h"
#include "support/ScriptedConnection.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace vok;

namespace {
const QString kRefusal = QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!");
}

class TestDeviceCodeDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void listsCatalogueInReverseOrder();
    void clickShowsRowInEdits();
    void addRenameDelete();
    void changesRefillWholeCatalogue();
    void classThreeIsRefusedEveryChange();
    void overlongTextsAreRefused_data();
    void overlongTextsAreRefused();
    void quotesArePlainText();
    void query_data();
    void query();
    void failedChangeShowsErrorAndStops();
    void duplicateOrBlankCodeIsRefused_data();
    void duplicateOrBlankCodeIsRefused();
    void olderDatabaseWithDuplicatesListsEveryRow();
    void contextMenu();
    void labelsOfChosenOrAllRows();

private:
    std::unique_ptr<CDeviceCodeDlg> openForm(int classNumber = 1);
    QList<QStringList> catalogue();
    QStringList logged() { return test::logged(*m_db); }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
    std::unique_ptr<COperationLog> m_log;
};

void TestDeviceCodeDlg::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    m_log = std::make_unique<COperationLog>();
    m_log->attach(m_db, QStringLiteral("张三"));
    test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}, {"002", "打印机"}, {"003", "扫描仪"}});
}

void TestDeviceCodeDlg::cleanup()
{
    m_log.reset();
    m_scripted.reset();
    m_db.reset();
    m_sandbox.reset();
}

std::unique_ptr<CDeviceCodeDlg> TestDeviceCodeDlg::openForm(int classNumber)
{
    return test::openForm<CDeviceCodeDlg>(test::formContext(m_scripted, m_log.get(), classNumber));
}

QList<QStringList> TestDeviceCodeDlg::catalogue()
{
    return test::rows(*m_db, QStringLiteral("SELECT code, name FROM DEVICE_CODE ORDER BY code"));
}

void TestDeviceCodeDlg::listsCatalogueInReverseOrder()
{
    auto form = openForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("设备代码管理"));
    QCOMPARE(test::listed(*form->list()),
             (QList<QStringList>{{"003", "扫描仪"}, {"002", "打印机"}, {"001", "显示器"}}));
    auto* model = form->list()->records();
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("设备号"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("设备名"));
    // Each column half the list's outer width.
    QCOMPARE(form->list()->columnWidth(0), form->list()->frameGeometry().width() / 2);
}

void TestDeviceCodeDlg::clickShowsRowInEdits()
{
    auto form = openForm();
    QTableView* view = form->list();
    const QRect cell = view->visualRect(view->model()->index(1, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(form->findChild<QLineEdit*>("code")->text(), QStringLiteral("002"));
    QCOMPARE(form->findChild<QLineEdit*>("name")->text(), QStringLiteral("打印机"));
}

void TestDeviceCodeDlg::addRenameDelete()
{
    auto form = openForm();
    // Blanks around a code are no part of it.
    QVERIFY(test::type(*form, "code", " 004 "));
    QVERIFY(test::type(*form, "name", QStringLiteral("投影仪")));
    QVERIFY(test::press(*form, "add"));
    QVERIFY(test::type(*form, "name", QStringLiteral("幻灯机")));
    QVERIFY(test::press(*form, "rename"));
    QVERIFY(test::type(*form, "code", "001"));
    QVERIFY(test::press(*form, "delete"));
    // A code that is not there: nothing changes, success all the same.
    QVERIFY(test::type(*form, "code", "999"));
    QVERIFY(test::press(*form, "rename"));
    QVERIFY(test::press(*form, "delete"));

    QCOMPARE(Messages::shownTexts(),
             (QStringList{"完成添加设备记录操作!", "完成修改设备记录操作!", "完成删除设备记录操作!",
                          "完成修改设备记录操作!", "完成删除设备记录操作!"}));
    for (const Messages::Shown& s : Messages::shown()) {
        QCOMPARE(s.caption, QStringLiteral("提示!"));
        QCOMPARE(s.icon, Messages::Icon::Question);
    }
    QCOMPARE(logged(), (QStringList{"添加设备记录。", "更新设备记录。", "删除设备记录。",
                                    "更新设备记录。", "删除设备记录。"}));
    QCOMPARE(catalogue(),
             (QList<QStringList>{{"002", "打印机"}, {"003", "扫描仪"}, {"004", "幻灯机"}}));
    QCOMPARE(test::listed(*form->list()).size(), 3);
    QCOMPARE(test::listed(*form->list()).at(0), (QStringList{"004", "幻灯机"}));
}

void TestDeviceCodeDlg::changesRefillWholeCatalogue()
{
    auto form = openForm();
    QVERIFY(test::type(*form, "queryField", QStringLiteral("设备号c")));
    QVERIFY(test::type(*form, "queryValue", "002"));
    QVERIFY(test::press(*form, "query"));
    QCOMPARE(test::listed(*form->list()), (QList<QStringList>{{"002", "打印机"}}));
    QVERIFY(test::type(*form, "code", "003"));
    QVERIFY(test::type(*form, "name", QStringLiteral("扫描器")));
    QVERIFY(test::press(*form, "rename"));
    QCOMPARE(test::listed(*form->list()),
             (QList<QStringList>{{"003", "扫描器"}, {"002", "打印机"}, {"001", "显示器"}}));
}

void TestDeviceCodeDlg::classThreeIsRefusedEveryChange()
{
    auto form = openForm(3);
    QVERIFY(test::type(*form, "code", "001"));
    QVERIFY(test::type(*form, "name", QStringLiteral("新名")));
    for (const char* name : {"add", "rename", "delete"})
        QVERIFY(test::press(*form, name));
    QCOMPARE(Messages::shownTexts(), (QStringList{kRefusal, kRefusal, kRefusal}));
    for (const Messages::Shown& s : Messages::shown()) {
        QCOMPARE(s.caption, QStringLiteral("警告!"));
        QCOMPARE(s.icon, Messages::Icon::Stop);
    }
    QCOMPARE(catalogue().size(), 3);
    QCOMPARE(catalogue().at(0), (QStringList{"001", "显示器"}));
    QVERIFY(logged().isEmpty());
    // Query and help stay available.
    Messages::clearShown();
    QVERIFY(test::type(*form, "queryField", QStringLiteral("设备名c")));
    QVERIFY(test::type(*form, "queryValue", QStringLiteral("显示器")));
    QVERIFY(test::press(*form, "query"));
    QCOMPARE(test::listed(*form->list()), (QList<QStringList>{{"001", "显示器"}}));
    QVERIFY(test::press(*form, "help"));
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(m_sandbox->helpLaunches().at(0).join(' ').contains("devcode.htm"));
    QVERIFY(Messages::shown().isEmpty());
}

void TestDeviceCodeDlg::overlongTextsAreRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    const QString name40 = QString(20, QChar(0x8BBE)); // 40 bytes
    QTest::newRow("code of 10 bytes") << "add"
                                      << "0123456789"
                                      << "x"
                                      << "“请填入不多于9个的字符。”"
                                      << "code";
    QTest::newRow("chinese code of 10 bytes") << "add" << QStringLiteral("设备编号甲") << "x"
                                              << "“请填入不多于9个的字符。”"
                                              << "code";
    QTest::newRow("name of 40 bytes") << "add"
                                      << "005" << name40 << "“请填入不多于39个的字符。”"
                                      << "name";
    QTest::newRow("rename to 40 bytes") << "rename"
                                        << "001" << name40 << "“请填入不多于39个的字符。”"
                                        << "name";
    QTest::newRow("name not GBK") << "add"
                                  << "005" << QStringLiteral("显示器😀")
                                  << QStringLiteral("字符“😀”无法保存到数据库中，请改用其他字符。")
                                  << "name";
}

void TestDeviceCodeDlg::overlongTextsAreRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    auto form = openForm();
    QApplication::setActiveWindow(form.get());
    QVERIFY(test::type(*form, "code", code));
    QVERIFY(test::type(*form, "name", name));
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(catalogue().size(), 3);
    QCOMPARE(catalogue().at(0), (QStringList{"001", "显示器"}));
    QVERIFY(logged().isEmpty());
}

void TestDeviceCodeDlg::quotesArePlainText()
{
    auto form = openForm();
    QVERIFY(test::type(*form, "code", "A'1"));
    QVERIFY(test::type(*form, "name", "O'Brien"));
    QVERIFY(test::press(*form, "add"));
    QVERIFY(test::type(*form, "name", "x' OR '1'='1"));
    QVERIFY(test::press(*form, "rename"));
    QCOMPARE(catalogue().at(3), (QStringList{"A'1", "x' OR '1'='1"}));
    QCOMPARE(catalogue().at(0), (QStringList{"001", "显示器"}));
    // A delete with a quote in the code removes that code only.
    QVERIFY(test::type(*form, "code", "x' OR '1'='1"));
    QVERIFY(test::press(*form, "delete"));
    QCOMPARE(catalogue().size(), 4);
    QVERIFY(test::type(*form, "code", "A'1"));
    QVERIFY(test::press(*form, "delete"));
    QCOMPARE(catalogue().size(), 3);
}

void TestDeviceCodeDlg::query_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<bool>("error");
    QTest::newRow("by code") << "设备号c"
                             << "002" << QList<QStringList>{{"002", "打印机"}} << false;
    QTest::newRow("by name") << "设备名c"
                             << "扫描仪" << QList<QStringList>{{"003", "扫描仪"}} << false;
    QTest::newRow("no match empties the list") << "设备号c"
                                               << "404" << QList<QStringList>{} << false;
    QTest::newRow("quote in the value") << "设备名c"
                                        << "x' OR '1'='1" << QList<QStringList>{} << false;
    QTest::newRow("unknown field") << "设备号"
                                   << "002" << QList<QStringList>{} << true;
}

void TestDeviceCodeDlg::query()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QList<QStringList>, rows);
    QFETCH(bool, error);
    auto form = openForm();
    QVERIFY(test::type(*form, "queryField", field));
    QVERIFY(test::type(*form, "queryValue", value));
    QVERIFY(test::press(*form, "query"));
    QCOMPARE(test::listed(*form->list()), rows);
    QCOMPARE(Messages::shown().size(), error ? 1 : 0);
    if (error)
        QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Exclamation);
}

void TestDeviceCodeDlg::failedChangeShowsErrorAndStops()
{
    auto form = openForm();
    m_scripted->beforeAppend = [](const QString&) {
        throw DbError(DbError::Kind::Engine, QStringLiteral("违反唯一约束"));
    };
    QVERIFY(test::type(*form, "code", "004"));
    QVERIFY(test::type(*form, "name", "x"));
    const int queriesBefore = int(m_scripted->statements.size());
    QVERIFY(test::press(*form, "add"));
    QCOMPARE(Messages::shownTexts(), QStringList{"违反唯一约束"});
    QVERIFY(logged().isEmpty());
    // Not refilled: only the code was looked for.
    QVERIFY(!m_scripted->statements.mid(queriesBefore).contains("SELECT * FROM DEVICE_CODE"));
}

void TestDeviceCodeDlg::duplicateOrBlankCodeIsRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("add a code held") << "add"
                                     << "002"
                                     << "设备号“002”已在设备代码表中，不能重复添加。";
    QTest::newRow("add a code with a quote held") << "add"
                                                  << "A'1"
                                                  << "设备号“A'1”已在设备代码表中，不能重复添加。";
    QTest::newRow("add a blank code") << "add"
                                      << ""
                                      << "设备号不能为空，请填入设备号。";
    QTest::newRow("add a code held, with blanks around it")
        << "add"
        << " 002  "
        << "设备号“002”已在设备代码表中，不能重复添加。";
    QTest::newRow("add blanks") << "add"
                                << "  "
                                << "设备号不能为空，请填入设备号。";
    QTest::newRow("rename a blank code") << "rename"
                                         << ""
                                         << "设备号不能为空，请在列表中选择要修改的设备。";
}

void TestDeviceCodeDlg::duplicateOrBlankCodeIsRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, code);
    QFETCH(QString, message);
    test::seed(*m_db, "DEVICE_CODE", {{"A'1", "甲"}});
    const auto before = catalogue();
    auto form = openForm();
    QVERIFY(test::type(*form, "code", code));
    QVERIFY(test::type(*form, "name", QStringLiteral("投影仪")));
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Exclamation);
    QCOMPARE(catalogue(), before);
    QVERIFY(logged().isEmpty());
}

void TestDeviceCodeDlg::olderDatabaseWithDuplicatesListsEveryRow()
{
    // A catalogue kept before codes were unique: its table without the
    // constraint, a code held twice.
    if (m_db->engine() == Engine::Postgres) {
        test::exec(*m_db, "ALTER TABLE device_code DROP CONSTRAINT IF EXISTS device_code_code_key");
    } else {
        test::exec(*m_db, "DROP TABLE DEVICE_CODE");
        test::exec(*m_db, "CREATE TABLE DEVICE_CODE (code TEXT, name TEXT)");
        test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}, {"002", "打印机"}, {"003", "扫描仪"}});
    }
    test::seed(*m_db, "DEVICE_CODE", {{"002", "投影仪"}});
    m_db.reset();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    auto form = openForm();
    QCOMPARE(test::listed(*form->list()),
             (QList<QStringList>{
                 {"002", "投影仪"}, {"003", "扫描仪"}, {"002", "打印机"}, {"001", "显示器"}}));
    // A third 002 is refused all the same.
    QVERIFY(test::type(*form, "code", "002"));
    QVERIFY(test::press(*form, "add"));
    QCOMPARE(Messages::shownTexts(), QStringList{"设备号“002”已在设备代码表中，不能重复添加。"});
    QCOMPARE(catalogue().size(), 4);
}

void TestDeviceCodeDlg::contextMenu()
{
    auto form = openForm();
    QMenu* menu = form->commands()->createMenu(form.get());
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{"新增", "修改", "删除", "打印标签…", "帮助", "退出", "-", "查询",
                                 "-", "导出…\tCtrl+E", "导入…"}));
    QStringList captions;
    for (const char* name : {"add", "rename", "delete", "query", "help", "exit"})
        captions << test::control<QPushButton>(*form, name)->text();
    QCOMPARE(captions, (QStringList{"新　增", "修　改", "删　除", "查　　询", "帮　　　　助",
                                    "退　　　　出"}));
    QVERIFY(test::control<QPushButton>(*form, "exit")->isDefault());
    menu->actions().at(5)->trigger();
    QTRY_VERIFY(!form->isVisible());
}

void TestDeviceCodeDlg::labelsOfChosenOrAllRows()
{
    auto form = openForm();
    const auto labels = [&form] {
        QList<QStringList> out;
        for (const DeviceLabel& l : form->labelsToPrint())
            out << QStringList{l.code, l.name};
        return out;
    };
    QCOMPARE(labels(),
             (QList<QStringList>{{"003", "扫描仪"}, {"002", "打印机"}, {"001", "显示器"}}));
    QTableView* view = form->list();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(2, 0)).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view->visualRect(view->model()->index(0, 0)).center());
    QCOMPARE(labels(), (QList<QStringList>{{"003", "扫描仪"}, {"001", "显示器"}}));
}

QTEST_MAIN(TestDeviceCodeDlg)
#include "tst_devicecodedlg.moc"

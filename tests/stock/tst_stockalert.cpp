// The stock alert: the three searches with their strict comparisons, the
// order of a full search, a failing step, the menu and help.
#include "db/DbError.h"
#include "stock/StockAlertDlg.h"
#include "support/FormTest.h"
#include "support/ScriptedConnection.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace vok;

namespace {
// The buttons' object names.
const QString OverStock = QStringLiteral("overStock");
const QString UnderStock = QStringLiteral("underStock");
const QString Full = QStringLiteral("full");
const QString Help = QStringLiteral("help");
const QString Exit = QStringLiteral("exit");
} // namespace

class TestStockAlert : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opensEmpty();
    void search_data();
    void search();
    void failingStep_data();
    void failingStep();
    void menuHelpExit();

private:
    std::unique_ptr<CStockAlertDlg> openForm();

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
};

void TestStockAlert::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    // code, now, max, min, total
    test::seed(*m_db, "DEVICE",
               {{"over1", 21, 20, 2, 50},
                {"atMax", 20, 20, 2, 50},
                {"under1", 1, 20, 2, 50},
                {"atMin", 2, 20, 2, 50},
                {"both", 7, 5, 10, 50},
                {"over2", 30.5, 30, 1, 50},
                {"under2", 0.5, 20, 1, 50},
                {"fine", 10, 20, 2, 50}});
}

void TestStockAlert::cleanup()
{
    m_scripted.reset();
    m_db.reset();
    m_sandbox.reset();
}

std::unique_ptr<CStockAlertDlg> TestStockAlert::openForm()
{
    auto form = test::openForm<CStockAlertDlg>(test::formContext(m_scripted, nullptr));
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("window not exposed");
    return form;
}

void TestStockAlert::opensEmpty()
{
    auto form = openForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("库存报警"));
    QCOMPARE(form->list()->records()->rowCount(), 0);
    QVERIFY(m_scripted->statements.isEmpty());
    const int w = form->list()->frameGeometry().width();
    for (int c = 0; c < 5; ++c)
        QCOMPARE(form->list()->columnWidth(c), w / 5);
    QCOMPARE(form->findChild<QLabel*>("resultLabel")->text(), QStringLiteral("搜索结果"));
    QCOMPARE(form->findChild<QPushButton*>("help")->text(), QStringLiteral("帮　　助"));
    if (qEnvironmentVariableIsSet("VOK_SHOT_DIR")) {
        QVERIFY(test::press(*form, Full));
        form->grab().save(qEnvironmentVariable("VOK_SHOT_DIR") + QStringLiteral("/alert.png"));
    }
}

void TestStockAlert::search_data()
{
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<QStringList>("codes");
    // Rows read later stand higher; a stock equal to a limit raises nothing.
    QTest::newRow("over-stock") << QStringList{OverStock} << QStringList{"over2", "both", "over1"};
    QTest::newRow("under-stock") << QStringList{UnderStock}
                                 << QStringList{"under2", "both", "under1"};
    QTest::newRow("full: over-stock rows on top")
        << QStringList{Full} << QStringList{"over2", "both", "over1", "under2", "both", "under1"};
    QTest::newRow("pressed twice, listed once")
        << QStringList{OverStock, OverStock} << QStringList{"over2", "both", "over1"};
    QTest::newRow("a search replaces the last")
        << QStringList{Full, UnderStock} << QStringList{"under2", "both", "under1"};
}

void TestStockAlert::search()
{
    QFETCH(QStringList, presses);
    QFETCH(QStringList, codes);
    auto form = openForm();
    for (const QString& id : presses)
        QVERIFY(test::press(*form, id));
    QCOMPARE(test::listedColumn(*form->list()), codes);
    QCOMPARE(form->list()->records()->rowTexts(codes.indexOf("both")),
             (QStringList{"both", "7.000000", "5.000000", "10.000000", "50.000000"}));
    QVERIFY(Messages::shown().isEmpty());
}

void TestStockAlert::failingStep_data()
{
    QTest::addColumn<QString>("failing"); // the comparison of the failing step
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("under-stock step fails, over-stock runs")
        << "<" << QStringList{"over2", "both", "over1"};
    QTest::newRow("over-stock step fails, under-stock rows stay")
        << ">" << QStringList{"under2", "both", "under1"};
}

void TestStockAlert::failingStep()
{
    QFETCH(QString, failing);
    QFETCH(QStringList, codes);
    m_scripted->beforeQuery = [failing](const QString& sql) {
        if (sql.contains(failing))
            throw DbError(DbError::Kind::Engine, QStringLiteral("读取失败"));
    };
    auto form = openForm();
    QVERIFY(test::press(*form, Full));
    QCOMPARE(Messages::shownTexts(), QStringList{"读取失败"});
    QCOMPARE(test::listedColumn(*form->list()), codes);
    QVERIFY(form->list()->updatesEnabled());
}

void TestStockAlert::menuHelpExit()
{
    auto form = openForm();
    std::unique_ptr<QMenu> menu(form->commands()->createMenu(nullptr));
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{"搜索过多库存", "搜索过少库存", "全 面  搜 索", "退        出",
                                 "-", "导出…\tCtrl+E"}));
    menu->actions().at(2)->trigger();
    QTRY_COMPARE(form->list()->records()->rowCount(), 6);
    QVERIFY(test::press(*form, Help));
    QVERIFY(m_sandbox->helpLaunches().at(0).join(' ').contains("alert.htm"));
    QVERIFY(test::press(*form, Exit));
    QVERIFY(!form->isVisible());
}

QTEST_MAIN(TestStockAlert)
#include "tst_stockalert.moc"

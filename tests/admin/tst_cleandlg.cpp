#include "support/ScriptedConnection.h"

#include "admin/CleanDlg.h"
#include "core/OperationLog.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace vok;

namespace {

const QString kWarning = QStringLiteral("执行此项操作!\r\n数据库中的数据将会被清理!");

QCheckBox* box(QWidget& form, const QString& name)
{
    return form.findChild<QCheckBox*>(name);
}

} // namespace

class TestCleanDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layoutAndCaptions();
    void checkedTablesAreEmptiedInOrder_data();
    void checkedTablesAreEmptiedInOrder();
    void cancelClearsNothing();
    void failingStatementDoesNotStopTheOthers();
    void readOnlyClassIsRefused();

private:
    std::unique_ptr<CCleanDlg> open(int classNumber = 2);
    QStringList nonEmptyTables();

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
    COperationLog m_log;
};

void TestCleanDlg::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    m_log.attach(m_db, QStringLiteral("张三"));
    test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}});
    test::seed(*m_db, "DEVICE", {{"001", 1, 2, 0, 1}});
    test::seed(*m_db, "DEVICE_IN(code,in_date,in_number)", {{"001", "2004-1-5 9:3:7", 1}});
    test::seed(*m_db, "DEVICE_OUT(code,out_date,out_number)", {{"001", "2004-1-6 9:3:7", 1}});
    test::seed(*m_db, "DEVICE_RETURN", {{"001", "2004-1-7 9:3:7"}});
    test::seed(*m_db, "DEVICE_NEED", {{"001", "部门B"}});
    test::seed(*m_db, "DEVICE_WANTBUY(code,buy_date)", {{"001", "2004-1-8 9:3:7"}});
    test::seed(*m_db, "HOWDO", {{"张三", "登录数据库", "2004-1-5 9:0:0"}});
    test::seed(*m_db, "user", {{"张三", "x", "1"}});
    test::seed(*m_db, "DEVICE_ADJUST", {{"001", "2004-1-5 9:0:0", 0, 1}});
    test::seed(*m_db, "DEVICE_LOAN(line,code,lent_at)", {{"1-1", "001", "2004-1-6 9:3:7"}});
    test::seed(*m_db, "DEVICE_LOAN_EVENT", {{"1-1", "001", "2004-1-7 9:3:7"}});
    test::seed(*m_db, "TRANSFER_OUT(transfer_id,target)", {{"VOK1-1", "部门C"}});
    test::seed(*m_db, "TRANSFER_OUT_LINE(line,transfer_id,code)", {{"VOK1-1/1", "VOK1-1", "001"}});
    test::seed(*m_db, "TRANSFER_IN(transfer_id,source)", {{"VOK2-1", "部门B"}});
    test::seed(*m_db, "TRANSFER_IN_LINE(line,transfer_id,code)", {{"VOK2-1/1", "VOK2-1", "001"}});
}

void TestCleanDlg::cleanup()
{
    m_scripted.reset();
    m_log.attach(nullptr, {});
    m_db.reset();
    m_sandbox.reset();
}

std::unique_ptr<CCleanDlg> TestCleanDlg::open(int classNumber)
{
    return test::openForm<CCleanDlg>(test::formContext(m_scripted, &m_log, classNumber));
}

QStringList TestCleanDlg::nonEmptyTables()
{
    QStringList out;
    for (const TableDef* t : schema::all())
        if (m_db->count({t->name}) > 0)
            out << t->name;
    return out;
}

void TestCleanDlg::layoutAndCaptions()
{
    auto form = open();
    QCOMPARE(form->windowTitle(), QString("清理数据库"));
    QVERIFY(form->findChild<QLabel*>("promptLabel")->text() == "请选择你想要清理的表格：");
    const QStringList captions{"清理设备代码表格",     "清理设备入库表格", "清理设备出库表格",
                               "清理设备库存表格",     "清理部门需求表格", "清理设备还库表格",
                               "清理设备采购计划表格", "清理操作日志表格"};
    // In the dialog's numbering: left column first, third, …; right column
    // second, fourth, …; the tab order the same.
    const QStringList names{"cleanCode", "cleanIn",     "cleanOut",     "cleanDevice",
                            "cleanNeed", "cleanReturn", "cleanWantBuy", "cleanLog"};
    for (int i = 0; i < names.size(); ++i) {
        QCheckBox* b = box(*form, names.at(i));
        QCOMPARE(b->text(), captions.at(i));
        QVERIFY(!b->isChecked());
        QCOMPARE(b->x() > box(*form, "cleanCode")->x(), i % 2 == 1);
        if (i > 0)
            QCOMPARE(box(*form, names.at(i - 1))->nextInFocusChain(), b);
    }
    auto* confirm = form->findChild<QPushButton*>("confirm");
    QCOMPARE(confirm->text(), QString("确    认"));
    QVERIFY(confirm->isDefault());
    QCOMPARE(form->findChild<QPushButton*>("cancel")->text(), QString("取    消"));
}

void TestCleanDlg::checkedTablesAreEmptiedInOrder_data()
{
    // A table of movements goes with the closed months, after a look at
    // them.
    const QString kClosed = "SELECT MAX(period) FROM PERIOD_CLOSE WHERE period LIKE '____-__'";
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("none") << QStringList{} << QStringList{}
                          << QStringList{"DEVICE_CODE",    "DEVICE",
                                         "DEVICE_IN",      "DEVICE_OUT",
                                         "DEVICE_RETURN",  "DEVICE_NEED",
                                         "DEVICE_WANTBUY", "HOWDO",
                                         "user",           "DEVICE_ADJUST",
                                         "DEVICE_LOAN",    "DEVICE_LOAN_EVENT",
                                         "TRANSFER_OUT",   "TRANSFER_OUT_LINE",
                                         "TRANSFER_IN",    "TRANSFER_IN_LINE"};
    QTest::newRow("catalogue only")
        << QStringList{"cleanCode"} << QStringList{"DELETE FROM DEVICE_CODE"}
        << QStringList{"DEVICE",
                       "DEVICE_IN",
                       "DEVICE_OUT",
                       "DEVICE_RETURN",
                       "DEVICE_NEED",
                       "DEVICE_WANTBUY",
                       "HOWDO",
                       "user",
                       "DEVICE_ADJUST",
                       "DEVICE_LOAN",
                       "DEVICE_LOAN_EVENT",
                       "TRANSFER_OUT",
                       "TRANSFER_OUT_LINE",
                       "TRANSFER_IN",
                       "TRANSFER_IN_LINE"};
    // The stock goes with its adjustments: the ledger starts again.
    QTest::newRow("stock and its adjustments")
        << QStringList{"cleanDevice"}
        << QStringList{"DELETE FROM PERIOD_CLOSE", "DELETE FROM DEVICE_PERIOD",
                       "DELETE FROM DEVICE", kClosed, "DELETE FROM DEVICE_ADJUST"}
        << QStringList{"DEVICE_CODE", "DEVICE_IN",         "DEVICE_OUT",   "DEVICE_RETURN",
                       "DEVICE_NEED", "DEVICE_WANTBUY",    "HOWDO",        "user",
                       "DEVICE_LOAN", "DEVICE_LOAN_EVENT", "TRANSFER_OUT", "TRANSFER_OUT_LINE",
                       "TRANSFER_IN", "TRANSFER_IN_LINE"};
    QTest::newRow("all, log before plan")
        << QStringList{"cleanLog",    "cleanWantBuy", "cleanReturn", "cleanNeed",
                       "cleanDevice", "cleanOut",     "cleanIn",     "cleanCode"}
        << QStringList{"DELETE FROM DEVICE_CODE",
                       "DELETE FROM PERIOD_CLOSE",
                       "DELETE FROM DEVICE_PERIOD",
                       kClosed,
                       "DELETE FROM DEVICE_IN",
                       "DELETE FROM TRANSFER_IN",
                       "DELETE FROM TRANSFER_IN_LINE",
                       "DELETE FROM PERIOD_CLOSE",
                       "DELETE FROM DEVICE_PERIOD",
                       kClosed,
                       "DELETE FROM DEVICE_OUT",
                       "DELETE FROM DEVICE_LOAN",
                       "DELETE FROM DEVICE_LOAN_EVENT",
                       "DELETE FROM TRANSFER_OUT",
                       "DELETE FROM TRANSFER_OUT_LINE",
                       "DELETE FROM PERIOD_CLOSE",
                       "DELETE FROM DEVICE_PERIOD",
                       "DELETE FROM DEVICE",
                       kClosed,
                       "DELETE FROM DEVICE_ADJUST",
                       "DELETE FROM DEVICE_NEED",
                       "DELETE FROM PERIOD_CLOSE",
                       "DELETE FROM DEVICE_PERIOD",
                       kClosed,
                       "DELETE FROM DEVICE_RETURN",
                       "DELETE FROM HOWDO",
                       "DELETE FROM DEVICE_WANTBUY"}
        << QStringList{"user"};
    // A box checked and unchecked again is left alone ("-name": click twice).
    QTest::newRow("checked and unchecked")
        << QStringList{"-cleanDevice", "cleanLog"} << QStringList{"DELETE FROM HOWDO"}
        << QStringList{"DEVICE_CODE",       "DEVICE",      "DEVICE_IN",         "DEVICE_OUT",
                       "DEVICE_RETURN",     "DEVICE_NEED", "DEVICE_WANTBUY",    "user",
                       "DEVICE_ADJUST",     "DEVICE_LOAN", "DEVICE_LOAN_EVENT", "TRANSFER_OUT",
                       "TRANSFER_OUT_LINE", "TRANSFER_IN", "TRANSFER_IN_LINE"};
}

void TestCleanDlg::checkedTablesAreEmptiedInOrder()
{
    QFETCH(QStringList, checked);
    QFETCH(QStringList, statements);
    QFETCH(QStringList, left);
    auto form = open();
    for (const QString& name : checked) {
        const bool twice = name.startsWith('-');
        QCheckBox* b = box(*form, twice ? name.mid(1) : name);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
        if (twice)
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    }
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{kWarning});
    QCOMPARE(Messages::shown().first().caption, QString("警告!"));
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Stop);
    QCOMPARE(Messages::shown().first().buttons, Messages::Buttons::OkCancel);
    QCOMPARE(m_scripted->statements, statements);
    QCOMPARE(nonEmptyTables(), left);
    QVERIFY(!form->isVisible());
    QCOMPARE(form->result(), int(QDialog::Accepted));
}

void TestCleanDlg::cancelClearsNothing()
{
    auto form = open();
    box(*form, "cleanCode")->setChecked(true);
    Messages::queueAnswer(Messages::Answer::Cancel);
    QVERIFY(test::press(*form, "confirm"));
    QVERIFY(m_scripted->statements.isEmpty());
    QVERIFY(!form->isVisible());

    auto again = open();
    box(*again, "cleanCode")->setChecked(true);
    QVERIFY(test::press(*again, "cancel"));
    QVERIFY(m_scripted->statements.isEmpty());
    QCOMPARE(nonEmptyTables().size(), 16);
}

void TestCleanDlg::failingStatementDoesNotStopTheOthers()
{
    m_scripted->beforeExecute = [](const QString& sql) {
        if (sql.endsWith("DEVICE_IN"))
            throw DbError(DbError::Kind::Engine, QStringLiteral("表被锁定"));
    };
    auto form = open();
    for (const char* name : {"cleanCode", "cleanIn", "cleanLog"})
        box(*form, name)->setChecked(true);
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList({kWarning, "表被锁定"}));
    QVERIFY(!nonEmptyTables().contains("DEVICE_CODE"));
    QVERIFY(nonEmptyTables().contains("DEVICE_IN"));
    QVERIFY(!nonEmptyTables().contains("HOWDO"));
    QVERIFY(!form->isVisible());
}

void TestCleanDlg::readOnlyClassIsRefused()
{
    auto form = open(3);
    box(*form, "cleanCode")->setChecked(true);
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{"你无权执行此项操作!\r\n请重新登录数据库!"});
    QCOMPARE(Messages::shown().first().caption, QString("警告!"));
    QVERIFY(m_scripted->statements.isEmpty());
    QVERIFY(form->isVisible());
}

QTEST_MAIN(TestCleanDlg)
#include "tst_cleandlg.moc"

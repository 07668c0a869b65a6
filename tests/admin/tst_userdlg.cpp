#include "support/ScriptedConnection.h"

#include "admin/UserDlg.h"
#include "core/Accounts.h"
#include "core/OperationLog.h"
#include "core/Password.h"
#include "db/DbError.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace vok;

namespace {

const QString kRefusal = QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!");
const QString kWrongAccount = QStringLiteral("输入原用户名或密码错误，请重新输入!");

// The controls' object names.
const QString kUser = QStringLiteral("user");
const QString kPassword = QStringLiteral("password");
const QString kDelete = QStringLiteral("delete");
const QString kNewUser = QStringLiteral("newUser");
const QString kNewPassword = QStringLiteral("newPassword");
const QString kClass = QStringLiteral("class");
const QString kConfirm = QStringLiteral("confirm");
const QString kAdd = QStringLiteral("add");
const QString kModify = QStringLiteral("modify");
const QString kHelp = QStringLiteral("help");
const QString kExit = QStringLiteral("exit");

QLineEdit* edit(QWidget& form, const QString& name)
{
    return form.findChild<QLineEdit*>(name);
}

} // namespace

class TestUserDlg : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Password::useMinimumCostForTests(true); }
    void init();
    void cleanup();

    void controlsAndCurrentUser();
    void onlyClassOneBeforeAnythingIsRead_data();
    void onlyClassOneBeforeAnythingIsRead();
    void wrongExistingAccountRefuses_data();
    void wrongExistingAccountRefuses();
    void newAccountChecks_data();
    void newAccountChecks();
    void addStoresAHashThatLogsIn();
    void deleteRemovesTheAccount();
    void modifyRenamesAndReplaces();
    void failingInsertInModifyKeepsTheOldAccount();
    void quotesArePlainText();
    void helpOpensItsPage();

private:
    std::unique_ptr<CUserDlg> open(int classNumber = 1);
    void fill(CUserDlg& form, const QStringList& six);
    QList<QStringList> accounts();

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
    COperationLog m_log;
};

void TestUserDlg::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    m_log.attach(m_db, QStringLiteral("管理员"));
    Accounts::add(*m_db, Accounts::kSettingUp, QStringLiteral("管理员"), QStringLiteral("Secret"),
                  QStringLiteral("1"));
    // A row of an older version, its password as plain text.
    test::seed(*m_db, "user", {{"老王", "old", "2"}});
}

void TestUserDlg::cleanup()
{
    m_scripted.reset();
    m_log.attach(nullptr, {});
    m_db.reset();
    m_sandbox.reset();
}

std::unique_ptr<CUserDlg> TestUserDlg::open(int classNumber)
{
    return test::openForm<CUserDlg>(
        test::formContext(m_scripted, &m_log, classNumber, QStringLiteral("管理员")));
}

void TestUserDlg::fill(CUserDlg& form, const QStringList& six)
{
    const QString ids[] = {kUser, kPassword, kNewUser, kNewPassword, kClass, kConfirm};
    for (int i = 0; i < 6; ++i)
        edit(form, ids[i])->setText(six.value(i));
}

QList<QStringList> TestUserDlg::accounts()
{
    QList<QStringList> out;
    for (const QStringList& r : test::table(*m_db, "user"))
        out << QStringList{r.at(0), r.at(2)};
    std::sort(out.begin(), out.end());
    return out;
}

void TestUserDlg::controlsAndCurrentUser()
{
    auto form = open();
    QCOMPARE(form->windowTitle(), QString("修改密码"));
    QCOMPARE(edit(*form, kUser)->text(), QString("管理员"));
    for (const QString& id : {kPassword, kNewPassword, kConfirm})
        QCOMPARE(edit(*form, id)->echoMode(), QLineEdit::Password);
    QCOMPARE(edit(*form, kNewUser)->echoMode(), QLineEdit::Normal);
    const QStringList captions{"删  除", "增  加", "修  改", "帮　助", "退　出"};
    int i = 0;
    for (const QString& id : {kDelete, kAdd, kModify, kHelp, kExit})
        QCOMPARE(form->findChild<QPushButton*>(id)->text(), captions.at(i++));
    QStringList labels;
    for (const QString& id : {kUser, kPassword, kNewUser, kNewPassword, kClass, kConfirm})
        for (QLabel* l : form->findChildren<QLabel*>())
            if (l->buddy() == edit(*form, id))
                labels << l->text();
    QCOMPARE(labels, QStringList({"用户名：", "原密码：", "新用户名：", "新密码：", "权限：",
                                  "密码确认："}));
    // Tab order as the controls are listed.
    QWidget* w = edit(*form, kUser);
    QStringList order;
    for (int n = 0; n < 11; ++n) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    }
    QCOMPARE(order, QStringList({"user", "password", "delete", "newUser", "newPassword", "class",
                                 "confirm", "add", "modify", "help", "exit"}));
}

void TestUserDlg::onlyClassOneBeforeAnythingIsRead_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("button");
    for (int c : {2, 3})
        for (const QString& b : {kAdd, kDelete, kModify})
            QTest::addRow("class %d, %s", c, qPrintable(b)) << c << b;
}

void TestUserDlg::onlyClassOneBeforeAnythingIsRead()
{
    QFETCH(int, classNumber);
    QFETCH(QString, button);
    auto form = open(classNumber);
    fill(*form, {"管理员", "Secret", "新人", "x", "2", "x"});
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{kRefusal});
    QCOMPARE(Messages::shown().first().caption, QString("警告!"));
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Stop);
    QVERIFY(m_scripted->statements.isEmpty());
    QVERIFY(m_scripted->appends.isEmpty());
    QVERIFY(form->isVisible());
}

void TestUserDlg::wrongExistingAccountRefuses_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("button");
    for (const QString& b : {kAdd, kDelete, kModify}) {
        QTest::addRow("wrong password %s", qPrintable(b)) << "管理员"
                                                          << "wrong" << b;
        QTest::addRow("case differs %s", qPrintable(b)) << "管理员"
                                                        << "secret" << b;
        QTest::addRow("no such user %s", qPrintable(b)) << "无名"
                                                        << "Secret" << b;
        QTest::addRow("legacy row, wrong %s", qPrintable(b)) << "老王"
                                                             << "OLD" << b;
    }
}

void TestUserDlg::wrongExistingAccountRefuses()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, button);
    const auto before = accounts();
    auto form = open();
    fill(*form, {user, password, "新人", "pw", "2", "pw"});
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{kWrongAccount});
    QCOMPARE(Messages::shown().first().caption, QString("输入错误"));
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Information);
    QCOMPARE(accounts(), before);
    QVERIFY(test::logged(*m_db).isEmpty());
    QVERIFY(form->isVisible());
    QCOMPARE(edit(*form, kPassword)->text(), password);
    QCOMPARE(edit(*form, kConfirm)->text(), QString("pw"));
}

void TestUserDlg::newAccountChecks_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("fresh"); // name, password, class, confirm
    QTest::addColumn<QString>("message");
    for (const QString& b : {kAdd, kModify}) {
        QTest::addRow("no name %s", qPrintable(b))
            << b << QStringList{"", "a", "2", "b"} << "名称不能为空!";
        QTest::addRow("no class %s", qPrintable(b))
            << b << QStringList{"新人", "a", "", "b"} << "权限不能为空!";
        QTest::addRow("mismatch %s", qPrintable(b))
            << b << QStringList{"新人", "abc", "2", "ABC"} << "确认密码错误，请重新输入!";
        QTest::addRow("name taken %s", qPrintable(b))
            << b << QStringList{"老王", "a", "2", "a"} << "用户名“老王”已经存在，请换一个名称!";
    }
}

void TestUserDlg::newAccountChecks()
{
    QFETCH(QString, button);
    QFETCH(QStringList, fresh);
    QFETCH(QString, message);
    const auto before = accounts();
    auto form = open();
    fill(*form, {"管理员", "Secret", fresh[0], fresh[1], fresh[2], fresh[3]});
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QCOMPARE(Messages::shown().first().caption, QString("输入错误"));
    QCOMPARE(accounts(), before);
    QVERIFY(form->isVisible());
    QCOMPARE(edit(*form, kNewPassword)->text(), fresh[1]);
}

void TestUserDlg::addStoresAHashThatLogsIn()
{
    auto form = open();
    // Proved by the legacy plain-text row; the new account has no password.
    fill(*form, {"老王", "old", "新人", "", "2", ""});
    QVERIFY(test::press(*form, kAdd));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成添加新用户操作!"});
    QCOMPARE(Messages::shown().first().caption, QString("提示"));
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Information);
    QCOMPARE(test::logged(*m_db), QStringList{"添加新用户!"});
    QVERIFY(!form->isVisible());
    QCOMPARE(form->result(), int(QDialog::Accepted));
    const auto stored = test::table(
        *m_db, "user", SqlText::name(u"user", m_db->engine()) + SqlText("=?"), {"新人"});
    QCOMPARE(stored.size(), 1);
    QVERIFY(Password::isHash(stored[0][1]));
    QCOMPARE(Accounts::find(*m_db, "新人", ""), std::optional<QString>("2"));
    QCOMPARE(Accounts::find(*m_db, "新人", "x"), std::nullopt);
}

void TestUserDlg::deleteRemovesTheAccount()
{
    Accounts::add(*m_db, Accounts::kSettingUp, "管理员", "another",
                  "3"); // an older second row of the name
    auto form = open();
    fill(*form, {"管理员", "Secret", "", "", "", ""});
    QVERIFY(test::press(*form, kDelete));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成删除原用户操作!"});
    QCOMPARE(test::logged(*m_db), QStringList{"删除用户!"});
    QCOMPARE(accounts(), (QList<QStringList>{{"老王", "2"}}));
    QVERIFY(!form->isVisible());
}

void TestUserDlg::modifyRenamesAndReplaces()
{
    auto form = open();
    fill(*form, {"管理员", "Secret", "主管", "New", "1", "New"});
    QVERIFY(test::press(*form, kModify));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成更新原用户操作!"});
    QCOMPARE(test::logged(*m_db), QStringList{"更新用户!"});
    QCOMPARE(accounts(), (QList<QStringList>{{"主管", "1"}, {"老王", "2"}}));
    QCOMPARE(Accounts::find(*m_db, "主管", "New"), std::optional<QString>("1"));
    QVERIFY(!form->isVisible());

    // Keeping the name replaces password and class.
    Messages::clearShown();
    auto again = open();
    fill(*again, {"老王", "old", "老王", "neu", "3", "neu"});
    QVERIFY(test::press(*again, kModify));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成更新原用户操作!"});
    QCOMPARE(Accounts::find(*m_db, "老王", "neu"), std::optional<QString>("3"));
    QCOMPARE(Accounts::find(*m_db, "老王", "old"), std::nullopt);
}

void TestUserDlg::failingInsertInModifyKeepsTheOldAccount()
{
    m_scripted->beforeAppend = [](const QString&) {
        throw DbError(DbError::Kind::Engine, QStringLiteral("磁盘已满"));
    };
    auto form = open();
    fill(*form, {"管理员", "Secret", "主管", "New", "1", "New"});
    QVERIFY(test::press(*form, kModify));
    QCOMPARE(Messages::shownTexts(), QStringList({"错误!", "磁盘已满"}));
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::None);
    QCOMPARE(Messages::shown().first().caption, appTitle());
    QVERIFY(form->isVisible());
    QCOMPARE(Accounts::find(*m_db, "管理员", "Secret"), std::optional<QString>("1"));
    QVERIFY(!Accounts::exists(*m_db, "主管"));
    QVERIFY(test::logged(*m_db).isEmpty());
}

void TestUserDlg::quotesArePlainText()
{
    auto form = open();
    fill(*form, {"管理员", "Secret", "o'neil", "it's", "2'", "it's"});
    QVERIFY(test::press(*form, kAdd));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成添加新用户操作!"});
    QCOMPARE(Accounts::find(*m_db, "o'neil", "it's"), std::optional<QString>("2'"));

    Messages::clearShown();
    auto second = open();
    fill(*second, {"o'neil", "it's", "", "", "", ""});
    QVERIFY(test::press(*second, kDelete));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成删除原用户操作!"});
    QVERIFY(!Accounts::exists(*m_db, "o'neil"));
}

void TestUserDlg::helpOpensItsPage()
{
    auto form = open(3);
    QVERIFY(test::press(*form, kHelp));
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(m_sandbox->helpLaunches().first().join(' ').contains("update.htm"));
    QVERIFY(Messages::shown().isEmpty());
    QVERIFY(test::press(*form, kExit));
    QVERIFY(!form->isVisible());
}

QTEST_MAIN(TestUserDlg)
#include "tst_userdlg.moc"

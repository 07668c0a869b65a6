#include "admin/FirstRunDlg.h"
#include "admin/LoginDlg.h"
#include "core/Accounts.h"
#include "core/Password.h"
#include "db/Connection.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace vok;

class TestLogin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Password::useMinimumCostForTests(true); }
    void init();
    void cleanup() { m_sandbox.reset(); }

    void passwordVerify_data();
    void passwordVerify();
    void departmentChecks_data();
    void departmentChecks();
    void logsIn_data();
    void logsIn();
    void accountWithoutPasswordNeverLogsIn_data();
    void accountWithoutPasswordNeverLogsIn();
    void wrongEntries();
    void wrongThenRight();
    void enterInDepartmentLogsIn();
    void offersLastDepartment();
    void clearKeepsDepartmentAndCount();
    void closingWithoutLogIn();
    void databaseFailureClosesDialog();
    void helpOpensLoadTopic();
    void tabOrder();
    void firstRunChecks_data();
    void firstRunChecks();
    void firstRunWritesAdministrator();
    void messageBoxHoldsItsCaption_data();
    void messageBoxHoldsItsCaption();

private:
    struct Dialog
    {
        CLoginDlg dlg;
        Dialog() { dlg.show(); }
        void fill(const QString& user, const QString& password, const QString& department)
        {
            dlg.findChild<QLineEdit*>("user")->setText(user);
            dlg.findChild<QLineEdit*>("password")->setText(password);
            dlg.findChild<QComboBox*>("department")->setEditText(department);
        }
        void logIn(const QString& user, const QString& password, const QString& department)
        {
            fill(user, password, department);
            dlg.findChild<QPushButton*>("login")->click();
        }
    };
    void addAccount(const QString& dsn, const QString& user, const QString& password,
                    const QString& cls)
    {
        Accounts::add(*m_sandbox->open(dsn), Accounts::kSettingUp, user, password, cls);
    }
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestLogin::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    CLoginDlg::resetWrongEntryCountForTests();
}

void TestLogin::passwordVerify_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("match");
    const QString h = Password::hash(QStringLiteral("密码'1"));
    QTest::newRow("hash, right") << h << "密码'1" << true;
    QTest::newRow("hash, wrong") << h << "密码'2" << false;
    QTest::newRow("hash typed as password") << h << h << false;
    QTest::newRow("plain, right") << "abc"
                                  << "abc" << true;
    QTest::newRow("plain, wrong case") << "abc"
                                       << "ABC" << false;
    QTest::newRow("plain, empty") << ""
                                  << "" << true;
    QTest::newRow("broken hash") << "$argon2id$v=19$nonsense"
                                 << "$argon2id$v=19$nonsense" << false;
}

void TestLogin::passwordVerify()
{
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(bool, match);
    QCOMPARE(Password::verify(stored, typed), match);
}

void TestLogin::departmentChecks_data()
{
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << ""
                           << "部门选择项不能为空!";
    QTest::newRow("right prefix, not in the table") << "部门X"
                                                    << "部门选择项不正确!";
    QTest::newRow("other word") << "仓库A"
                                << "部门选择项不正确!";
    QTest::newRow("leading blank") << " 部门A"
                                   << "部门选择项不正确!";
    QTest::newRow("trailing blank") << "部门A "
                                    << "部门选择项不正确!";
    QTest::newRow("one character") << "部"
                                   << "部门选择项不正确!";
}

void TestLogin::departmentChecks()
{
    QFETCH(QString, department);
    QFETCH(QString, message);
    Dialog d;
    d.logIn(QStringLiteral("甲"), QStringLiteral("1"), department);
    QCOMPARE(Messages::shown().size(), 1);
    QCOMPARE(Messages::shown().at(0).text, message);
    QCOMPARE(Messages::shown().at(0).caption, QStringLiteral("提示"));
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Information);
    QVERIFY(d.dlg.isVisible());
    QVERIFY(!d.dlg.success());
    QCOMPARE(CLoginDlg::wrongEntryCount(), 0);
    // Refused before any database is opened.
    QVERIFY(QDir(m_sandbox->dataDir()).entryList({"*.db"}).isEmpty());
}

void TestLogin::logsIn_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<bool>("plainText");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("own");
    QTest::newRow("own department") << "甲"
                                    << "pw"
                                    << "VOK1" << false << "部门A" << true;
    QTest::newRow("found only in B, chose A") << "乙"
                                              << "pw"
                                              << "VOK2" << false << "部门A" << false;
    QTest::newRow("found only in E, chose C") << "丙"
                                              << "pw"
                                              << "VOK5" << false << "部门C" << false;
    QTest::newRow("quotes in name and password") << "o'neil\""
                                                 << "p'w\"d'"
                                                 << "VOK1" << false << "部门A" << true;
    QTest::newRow("plain-text row of an older database") << "老用户"
                                                         << "old"
                                                         << "VOK3" << true << "部门C" << true;
}

void TestLogin::logsIn()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, dsn);
    QFETCH(bool, plainText);
    QFETCH(QString, chosen);
    QFETCH(bool, own);
    if (plainText)
        m_sandbox->open(dsn)->append("user", {"user", "pswd", "class"}, {user, password, "2"});
    else
        addAccount(dsn, user, password, "2");
    // Same name with another password elsewhere must not get in the way.
    addAccount("VOK4", user, "other", "1");

    Dialog d;
    d.logIn(user, password, chosen);
    QVERIFY(Messages::shown().isEmpty());
    QVERIFY(d.dlg.success());
    QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
    QCOMPARE(d.dlg.userName(), user);
    QCOMPARE(d.dlg.password(), password);
    QCOMPARE(d.dlg.department(), chosen);
    QCOMPARE(d.dlg.classText(), QStringLiteral("2"));
    QCOMPARE(d.dlg.ownDepartment(), own);
    // The chosen department's connection the account was found on goes on
    // to the main window.
    const ConnectionPtr kept = d.dlg.takeConnection();
    QCOMPARE(kept != nullptr, own);
    if (kept)
        QCOMPARE(Accounts::find(*kept, user, password), std::optional<QString>("2"));
    // An older row's plain-text password is a hash from this log-in on.
    const auto c = m_sandbox->open(dsn);
    const auto stored =
        test::table(*c, "user", SqlText::name(u"user", c->engine()) + SqlText("=?"), {user});
    QCOMPARE(stored.size(), 1);
    QVERIFY(Password::isHash(stored.first().at(1)));
    QVERIFY(Password::verify(stored.first().at(1), password));
}

void TestLogin::accountWithoutPasswordNeverLogsIn_data()
{
    QTest::addColumn<QVariant>("stored"); // written by another tool or an old file
    QTest::addColumn<QString>("typed");
    QTest::newRow("NULL, typed empty") << QVariant() << "";
    QTest::newRow("empty, typed empty") << QVariant("") << "";
    QTest::newRow("empty, typed a password") << QVariant("") << "x";
}

void TestLogin::accountWithoutPasswordNeverLogsIn()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, typed);
    auto c = m_sandbox->open("VOK1");
    c->append("user", {"user", "pswd", "class"}, {QStringLiteral("空"), stored, "1"});
    QCOMPARE(Accounts::find(*c, "空", typed), std::nullopt);
    Dialog d;
    d.logIn("空", typed, "部门A");
    QVERIFY(!d.dlg.success());
    QVERIFY(d.dlg.isVisible());
    QCOMPARE(Messages::shownTexts(),
             QStringList{"该用户没有设置密码，不能登录!\r\n请让管理员为该用户设置密码!"});
    QCOMPARE(Messages::shown().first().caption, QStringLiteral("提示"));
    // Nothing was stored for it.
    const auto rows = test::table(*c, "user");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(1), stored.isNull() ? QString() : QString(""));
}

void TestLogin::wrongEntries()
{
    addAccount("VOK1", "甲", "right", "1");
    for (int i = 1; i <= 3; ++i) {
        Dialog d;
        d.logIn("甲", "wrong", "部门A");
        QVERIFY(d.dlg.isVisible());
        QCOMPARE(CLoginDlg::wrongEntryCount(), i);
    }
    QCOMPARE(Messages::shownTexts(), QStringList({"输入错误!", "输入错误!", "输入错误!"}));
    QCOMPARE(Messages::shown().at(0).caption, QStringLiteral("提示!"));
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Information);
    Messages::clearShown();

    // The count lives for the whole run: a new dialog's first wrong entry
    // is the fourth.
    Dialog d;
    d.logIn("甲", "wrong", "部门A");
    QCOMPARE(Messages::shownTexts(), QStringList{"不能登录!"});
    QCOMPARE(Messages::shown().at(0).caption, QStringLiteral("严重警告!"));
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Stop);
    QVERIFY(!d.dlg.isVisible());
    QVERIFY(!d.dlg.success());
    QCOMPARE(d.dlg.userName(), QStringLiteral("甲"));
}

void TestLogin::wrongThenRight()
{
    addAccount("VOK1", "甲", "right", "1");
    Dialog d;
    d.logIn("甲", "wrong", "部门A");
    d.logIn("甲", "right", "部门A");
    QVERIFY(d.dlg.success());
    QVERIFY(d.dlg.ownDepartment());
    QCOMPARE(CLoginDlg::wrongEntryCount(), 1);
}

void TestLogin::enterInDepartmentLogsIn()
{
    addAccount("VOK1", "甲", "right", "1");
    Dialog d;
    d.fill("甲", "right", "部门A");
    auto* combo = d.dlg.findChild<QComboBox*>("department");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QVERIFY(d.dlg.success());
    QCOMPARE(combo->count(), 5); // the typed text is not added to the list
}

void TestLogin::offersLastDepartment()
{
    auto chosen = [] {
        Dialog d;
        return d.dlg.findChild<QComboBox*>("department")->currentText();
    };
    QCOMPARE(chosen(), QString());
    addAccount("VOK3", "甲", "right", "1");
    {
        Dialog d;
        d.logIn("甲", "wrong", "部门C"); // a failed log-in is not remembered
    }
    QCOMPARE(chosen(), QString());
    {
        Dialog d;
        d.logIn("甲", "right", "部门C");
        QVERIFY(d.dlg.success());
    }
    QCOMPARE(chosen(), QStringLiteral("部门C"));
}

void TestLogin::clearKeepsDepartmentAndCount()
{
    addAccount("VOK1", "甲", "right", "1");
    Dialog d;
    d.logIn("甲", "wrong", "部门B");
    d.dlg.findChild<QPushButton*>("clear")->click();
    QCOMPARE(d.dlg.findChild<QLineEdit*>("user")->text(), QString());
    QCOMPARE(d.dlg.findChild<QLineEdit*>("password")->text(), QString());
    QCOMPARE(d.dlg.findChild<QComboBox*>("department")->currentText(), QStringLiteral("部门B"));
    QCOMPARE(CLoginDlg::wrongEntryCount(), 1);
    QVERIFY(d.dlg.isVisible());
    // Closing after Clear leaves an empty user name: the log-in loop asks again.
    d.dlg.reject();
    QCOMPARE(d.dlg.userName(), QString());
    QVERIFY(!d.dlg.success());
}

void TestLogin::closingWithoutLogIn()
{
    Dialog d;
    d.fill("甲", "x", "部门A");
    QTest::keyClick(&d.dlg, Qt::Key_Escape);
    QVERIFY(!d.dlg.isVisible());
    QVERIFY(!d.dlg.success());
    // Only what Log in took counts, not what was typed.
    QCOMPARE(d.dlg.userName(), QString());
}

void TestLogin::databaseFailureClosesDialog()
{
    if (test::onServer()) {
        // A department database without its user table.
        const auto c = m_sandbox->open("VOK1");
        test::exec(*c, "DROP TABLE " + c->name(u"user"));
    } else {
        // A department database that is not a database.
        QFile f(QDir(m_sandbox->dataDir()).filePath("vok1.db"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
    }
    Dialog d;
    d.logIn("甲", "x", "部门A");
    QCOMPARE(Messages::shown().size(), 1);
    QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Exclamation);
    QVERIFY(!d.dlg.isVisible());
    QVERIFY(!d.dlg.success());
    QCOMPARE(CLoginDlg::wrongEntryCount(), 0);
}

void TestLogin::helpOpensLoadTopic()
{
    Dialog d;
    d.dlg.findChild<QPushButton*>("help")->click();
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    const QStringList launch = m_sandbox->helpLaunches().at(0);
    QVERIFY(launch.last().endsWith("/load.htm"));
    QVERIFY(!launch.contains("--maximized"));
}

void TestLogin::tabOrder()
{
    Dialog d;
    d.dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d.dlg));
    auto* user = d.dlg.findChild<QLineEdit*>("user");
    QCOMPARE(QApplication::focusWidget(), user);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.dlg.findChild<QLineEdit*>("password"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    auto* combo = d.dlg.findChild<QComboBox*>("department");
    QVERIFY(QApplication::focusWidget() == combo ||
            QApplication::focusWidget() == combo->lineEdit());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.dlg.findChild<QPushButton*>("login"));
    // The list is sorted and editable.
    QVERIFY(combo->isEditable());
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    QCOMPARE(items, QStringList({"部门A", "部门B", "部门C", "部门D", "部门E"}));
}

void TestLogin::firstRunChecks_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("repeat");
    QTest::addColumn<QString>("message");
    QTest::newRow("no name") << " "
                             << "a"
                             << "a"
                             << "用户名不能为空!";
    QTest::newRow("no password") << "管理员"
                                 << ""
                                 << ""
                                 << "密码不能为空!";
    QTest::newRow("passwords differ") << "管理员"
                                      << "a"
                                      << "b"
                                      << "两次输入的密码不一致!";
}

void TestLogin::firstRunChecks()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, repeat);
    QFETCH(QString, message);
    CFirstRunDlg dlg;
    dlg.show();
    dlg.findChild<QLineEdit*>("user")->setText(user);
    dlg.findChild<QLineEdit*>("password")->setText(password);
    dlg.findChild<QLineEdit*>("repeat")->setText(repeat);
    dlg.findChild<QPushButton*>("ok")->click();
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QVERIFY(dlg.isVisible());
    QVERIFY(Accounts::noAccountAnywhere());
}

void TestLogin::firstRunWritesAdministrator()
{
    QVERIFY(Accounts::noAccountAnywhere());
    CFirstRunDlg dlg;
    dlg.show();
    dlg.findChild<QLineEdit*>("user")->setText("管'理员");
    dlg.findChild<QLineEdit*>("password")->setText("s3cret");
    dlg.findChild<QLineEdit*>("repeat")->setText("s3cret");
    dlg.findChild<QComboBox*>("department")->setCurrentText("部门C");
    dlg.findChild<QPushButton*>("ok")->click();
    QVERIFY(Messages::shown().isEmpty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!Accounts::noAccountAnywhere());
    const auto rows = test::table(*m_sandbox->open("VOK3"), "user");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0], QStringLiteral("管'理员"));
    QVERIFY(Password::isHash(rows[0][1]));
    QCOMPARE(rows[0][2], QStringLiteral("1"));

    Dialog d;
    d.logIn("管'理员", "s3cret", "部门C");
    QVERIFY(d.dlg.success());
    QCOMPARE(d.dlg.classText(), QStringLiteral("1"));
}

// A box is wide enough for its caption beside a title bar's icon and window
// buttons. VOK_SHOT_DIR keeps a picture of each.
void TestLogin::messageBoxHoldsItsCaption_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::newRow("notice") << "输入错误!"
                            << "提示!" << int(Messages::Icon::Information);
    QTest::newRow("warning") << "不能登录!"
                             << "严重警告!" << int(Messages::Icon::Stop);
    QTest::newRow("application title") << "完成操作！" << QString() << int(Messages::Icon::None);
}

void TestLogin::messageBoxHoldsItsCaption()
{
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QFETCH(int, icon);
    auto box = Messages::makeBox(text, caption, Messages::Icon(icon));
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    const QString title = caption.isEmpty() ? appTitle() : caption;
    QCOMPARE(box->windowTitle(), title);
    QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(title) + 120);
    QVERIFY(Messages::shown().isEmpty());
    test::savePicture(*box, QStringLiteral("box-") + QLatin1String(QTest::currentDataTag()));
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"

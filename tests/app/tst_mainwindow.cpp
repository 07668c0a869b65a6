#include "admin/FirstRunDlg.h"
#include "admin/LoginDlg.h"
#include "app/AboutDlg.h"
#include "app/Application.h"
#include "app/AutoBackup.h"
#include "app/AutoProxy.h"
#include "app/HyperLinkWnd.h"
#include "app/VOKDlg.h"
#include "core/Accounts.h"
#include "core/BackupGenerations.h"
#include "core/Clock.h"
#include "core/Loans.h"
#include "core/Password.h"
#include "core/StockChange.h"
#include "core/Transfers.h"
#include "db/Backup.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/SqliteConnection.h"
#include "movements/TransferInDlg.h"
#include "records/LoanQueryDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace vok;

namespace {

struct Attempt
{
    QString user;
    QString password;
    QString department;
};

// Answers the log-in dialogs the main window runs, one list of attempts per
// dialog; an empty list closes the dialog by Esc.
void answerLogIns(QList<QList<Attempt>> dialogs)
{
    if (dialogs.isEmpty())
        return;
    QTimer::singleShot(0, [dialogs]() mutable {
        auto* dlg = qobject_cast<CLoginDlg*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible()) {
            answerLogIns(dialogs); // not up yet: look again
            return;
        }
        const QList<Attempt> attempts = dialogs.takeFirst();
        answerLogIns(dialogs);
        if (attempts.isEmpty()) {
            dlg->reject();
            return;
        }
        for (const Attempt& a : attempts) {
            dlg->findChild<QLineEdit*>("user")->setText(a.user);
            dlg->findChild<QLineEdit*>("password")->setText(a.password);
            dlg->findChild<QComboBox*>("department")->setEditText(a.department);
            dlg->findChild<QPushButton*>("login")->click();
            if (!dlg->isVisible())
                break;
        }
    });
}

// A form that records what it was given and closes itself by its close box.
struct FormProbe
{
    int opened = 0;
    FormContext context;
    bool mainMinimisedWhileOpen = false;
};

class ProbeForm : public QDialog
{
public:
    ProbeForm(FormProbe& probe, QWidget* mainWindow)
    {
        QTimer::singleShot(0, this, [this, &probe, mainWindow] {
            probe.mainMinimisedWhileOpen = mainWindow->isMinimized();
            close();
        });
    }
};

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Password::useMinimumCostForTests(true); }
    void init();
    void cleanup();

    void startUpLogsIn();
    void classNumber_data();
    void classNumber();
    void ownDepartmentRefusals_data();
    void ownDepartmentRefusals();
    void formsGetWhatTheRowSays();
    void reloginReplacesUserAndConnection();
    void wrongEntriesCountAcrossRelogin();
    void failedStartUpLogIn();
    void emptyUserNameAsksAgain();
    void helpOpensMaximised();
    void aboutFromButtonAndMenu();
    void linksOpenTheirTargets();
    void closingWays_data();
    void closingWays();
    void automationHoldHidesInsteadOfClosing();
    void holdOverTheSessionBus();
    void accountsBackupAndRestoreFromTheWindow();
    void backupAtLogInWhenADayOld();
    void failedBackupAtLogInToldOnce();
    void readOnlyBackupsKeepWhatTheRuleKeeps();
    void dateLineIsRedAtTheTop();
    void restoringDrawsTheCurrentTime();
    void damagedPageFoundAfterLogIn();
    void standardButtonsReadChinese();
    void pictures();
    void overdueLoansAtLogIn();
    void transfersWaitingAtLogIn();

private:
    std::unique_ptr<CVOKDlg> loggedIn(const QString& user, const QString& department,
                                      std::vector<MainButton> rows = mainButtons());
    std::vector<MainButton> probeRows();

    std::unique_ptr<test::Sandbox> m_sandbox;
    FormProbe m_probe;
    CVOKDlg* m_window = nullptr;
};

void TestMainWindow::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    CLoginDlg::resetWrongEntryCountForTests();
    m_probe = {};
    Accounts::add(*m_sandbox->open("VOK1"), Accounts::kSettingUp, "甲", "pa", "12");
    Accounts::add(*m_sandbox->open("VOK2"), Accounts::kSettingUp, "乙", "pb", "3x");
}

void TestMainWindow::cleanup()
{
    m_window = nullptr;
    m_sandbox.reset();
}

std::unique_ptr<CVOKDlg> TestMainWindow::loggedIn(const QString& user, const QString& department,
                                                  std::vector<MainButton> rows)
{
    auto w = std::make_unique<CVOKDlg>(std::move(rows));
    m_window = w.get();
    const QString password = user == "甲" ? "pa" : "pb";
    answerLogIns({{{user, password, department}}});
    if (!w->startUp())
        return nullptr;
    w->show();
    return w;
}

// The standard rows plus three probe forms: one refused outside the own
// department, one given the user name, one given no log.
std::vector<MainButton> TestMainWindow::probeRows()
{
    std::vector<MainButton> rows = mainButtons();
    const auto factory = [this](const FormContext& c, QWidget*) -> std::unique_ptr<QDialog> {
        ++m_probe.opened;
        m_probe.context = c;
        return std::make_unique<ProbeForm>(m_probe, m_window);
    };
    for (MainButton& r : rows) {
        if (r.name == u"deviceIn" || r.name == u"wantBuy" || r.name == u"stock" ||
            r.name == u"deviceCode" || r.name == u"viewLog")
            r.factory = factory;
    }
    return rows;
}

void TestMainWindow::startUpLogsIn()
{
    Clock::setNow(QDateTime(QDate(2004, 1, 5), QTime(9, 3, 0)));
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QStringLiteral("仓库管理系统"));
    QCOMPARE(w->currentUser().userName, QStringLiteral("甲"));
    QCOMPARE(w->currentUser().department, QStringLiteral("部门A"));
    QCOMPARE(w->currentUser().classText, QStringLiteral("12"));
    QVERIFY(w->currentUser().ownDepartment);
    QVERIFY(w->connection() && w->connection()->isOpen());
    QCOMPARE(test::table(*w->connection(), "HOWDO"),
             (QList<QStringList>{{"甲", "登录数据库", "2004-01-05 09:03:00"}}));
    QVERIFY(Messages::shown().isEmpty());

    QStringList frames;
    for (QGroupBox* g : w->findChildren<QGroupBox*>())
        frames << g->title();
    QCOMPARE(frames, QStringList({"操作", "查询", "其他功能", "系统"}));
    // Only functions that exist are shown.
    QStringList captions;
    for (QPushButton* b : w->findChildren<QPushButton*>())
        captions << b->text();
    QCOMPARE(captions, QStringList({"设备代码",
                                    "设备入库",
                                    "设备出库",
                                    "设备还库",
                                    "借用登记",
                                    "归还登记",
                                    "调拨出库",
                                    "调拨入库",
                                    "设备需求",
                                    "库存信息",
                                    "入库信息",
                                    "出库信息",
                                    "还库信息",
                                    "需求信息",
                                    "库存调整",
                                    "借用查询",
                                    "调拨查询",
                                    "扫码查看",
                                    "生成设备采购计划报表",
                                    "查看设备采购计划报表",
                                    "库存报警",
                                    "库存核对",
                                    "库存盘点",
                                    "消耗统计",
                                    "收发存汇总",
                                    "操作日志",
                                    "修改密码",
                                    "重新登录",
                                    "帮助",
                                    "关于",
                                    "备份数据库",
                                    "还原数据库",
                                    "清理数据库",
                                    "退出"}));
    QVERIFY(!w->windowIcon().isNull());
}

void TestMainWindow::classNumber_data()
{
    QTest::addColumn<QString>("classText");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("userLine");
    const QString readOnly = "用户：丙　部门：部门C　权限：3（只读，不能修改数据）";
    QTest::newRow("12") << "12" << 1 << "用户：丙　部门：部门C　权限：1";
    QTest::newRow("3x") << "3x" << 3 << readOnly;
    QTest::newRow("2") << "2" << 2 << "用户：丙　部门：部门C　权限：2";
    QTest::newRow("empty: least privilege") << "" << 3 << readOnly;
    QTest::newRow("no digit: least privilege") << "管理员" << 3 << readOnly;
}

void TestMainWindow::classNumber()
{
    QFETCH(QString, classText);
    QFETCH(int, number);
    QFETCH(QString, userLine);
    Accounts::add(*m_sandbox->open("VOK3"), Accounts::kSettingUp, "丙", "pb", classText);
    auto w = loggedIn("丙", "部门C", probeRows());
    QVERIFY(w);
    QCOMPARE(w->userLine(), userLine);
    w->button("deviceCode")->click();
    QCOMPARE(m_probe.opened, 1);
    QCOMPARE(m_probe.context.classNumber, number);
}

void TestMainWindow::ownDepartmentRefusals_data()
{
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("refused");
    QTest::newRow("stock-in, other department") << "部门A"
                                                << "deviceIn" << true;
    QTest::newRow("purchase plan, other department") << "部门A"
                                                     << "wantBuy" << true;
    QTest::newRow("stock-out, other department") << "部门A"
                                                 << "deviceOut" << true;
    QTest::newRow("return, other department") << "部门A"
                                              << "deviceReturn" << true;
    QTest::newRow("demand, other department") << "部门A"
                                              << "deviceNeed" << true;
    QTest::newRow("stock form, other department") << "部门A"
                                                  << "stock" << false;
    QTest::newRow("log browser, other department") << "部门A"
                                                   << "viewLog" << false;
    QTest::newRow("stock-in, own department") << "部门B"
                                              << "deviceIn" << false;
}

void TestMainWindow::ownDepartmentRefusals()
{
    QFETCH(QString, department);
    QFETCH(QString, button);
    QFETCH(bool, refused);
    auto w = loggedIn("乙", department, probeRows());
    QVERIFY(w);
    QCOMPARE(w->currentUser().ownDepartment, department == "部门B");
    QVERIFY(w->button(button));
    w->button(button)->click();
    if (refused) {
        QCOMPARE(m_probe.opened, 0);
        QCOMPARE(Messages::shown().size(), 1);
        QCOMPARE(Messages::shown().at(0).text,
                 QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!"));
        QCOMPARE(Messages::shown().at(0).caption, QStringLiteral("警告!"));
        QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Stop);
    } else {
        QCOMPARE(m_probe.opened, 1);
        QVERIFY(Messages::shown().isEmpty());
    }
    QVERIFY(!w->isMinimized());
}

void TestMainWindow::formsGetWhatTheRowSays()
{
    auto w = loggedIn("乙", "部门B", probeRows());
    QVERIFY(w);
    w->button("stock")->click(); // stock form: user name and log
    QVERIFY(m_probe.mainMinimisedWhileOpen);
    QVERIFY(!w->isMinimized());
    QCOMPARE(m_probe.context.userName, QStringLiteral("乙"));
    QCOMPARE(m_probe.context.log, &w->log());
    QCOMPARE(m_probe.context.connection, w->connection());
    QCOMPARE(m_probe.context.classNumber, 3);

    w->button("deviceIn")->click(); // stock-in: log, no user name
    QCOMPARE(m_probe.context.userName, QString());
    QCOMPARE(m_probe.context.log, &w->log());

    w->button("viewLog")->click(); // log browser: neither
    QCOMPARE(m_probe.context.log, nullptr);
    QCOMPARE(m_probe.context.userName, QString());
    QCOMPARE(m_probe.context.connection, w->connection());
    QCOMPARE(m_probe.opened, 3);
}

void TestMainWindow::reloginReplacesUserAndConnection()
{
    auto w = loggedIn("甲", "部门A", probeRows());
    QVERIFY(w);
    const ConnectionPtr first = w->connection();
    answerLogIns({{{"乙", "pb", "部门A"}}});
    w->button("relogin")->click();
    QVERIFY(w->isVisible());
    QCOMPARE(w->currentUser().userName, QStringLiteral("乙"));
    QCOMPARE(w->currentUser().classText, QStringLiteral("3x"));
    QVERIFY(!w->currentUser().ownDepartment);
    QVERIFY(w->connection() != first);
    QVERIFY(!first->isOpen());
    QCOMPARE(w->log().userName(), QStringLiteral("乙"));
    // In the order written, on either engine: who and what, without the time.
    QList<QStringList> entries = test::table(*w->connection(), "HOWDO");
    for (QStringList& e : entries)
        e = e.mid(0, 2);
    QCOMPARE(entries, (QList<QStringList>{{"甲", "登录数据库"}, {"乙", "重新登录数据库"}}));
    // The refusal follows the new user.
    w->button("deviceIn")->click();
    QCOMPARE(Messages::shownTexts(), QStringList{"你无权执行此项操作!\r\n请重新登录数据库!"});
}

void TestMainWindow::wrongEntriesCountAcrossRelogin()
{
    auto w = std::make_unique<CVOKDlg>();
    m_window = w.get();
    answerLogIns({{{"甲", "x", "部门A"},
                   {"甲", "y", "部门A"},
                   {"甲", "z", "部门A"},
                   {"甲", "pa", "部门A"}}});
    QVERIFY(w->startUp());
    w->show();
    QCOMPARE(Messages::shownTexts(), QStringList({"输入错误!", "输入错误!", "输入错误!"}));
    Messages::clearShown();

    QSignalSpy finished(w.get(), &QDialog::finished);
    answerLogIns({{{"甲", "wrong", "部门A"}}});
    w->button("relogin")->click();
    QCOMPARE(Messages::shownTexts(), QStringList{"不能登录!"});
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 0);
    QVERIFY(!w->isVisible());
    // Nothing logged, user unchanged.
    QCOMPARE(w->currentUser().userName, QStringLiteral("甲"));
    QCOMPARE(test::logged(*m_sandbox->open("VOK1")), QStringList{"登录数据库"});
}

void TestMainWindow::failedStartUpLogIn()
{
    CLoginDlg::resetWrongEntryCountForTests();
    auto w = std::make_unique<CVOKDlg>();
    answerLogIns(
        {{{"甲", "1", "部门A"}, {"甲", "2", "部门A"}, {"甲", "3", "部门A"}, {"甲", "4", "部门A"}}});
    QVERIFY(!w->startUp());
    QVERIFY(!w->connection());
    QCOMPARE(Messages::shownTexts().last(), QStringLiteral("不能登录!"));
    QCOMPARE(test::table(*m_sandbox->open("VOK1"), "HOWDO").size(), 0);
}

void TestMainWindow::emptyUserNameAsksAgain()
{
    auto w = std::make_unique<CVOKDlg>();
    // Closed before any log-in, then an account with the password typed
    // under an empty name: both ask again.
    answerLogIns({{}, {{"", "pa", "部门A"}}, {{"甲", "pa", "部门A"}}});
    QVERIFY(w->startUp());
    QCOMPARE(w->currentUser().userName, QStringLiteral("甲"));
}

void TestMainWindow::helpOpensMaximised()
{
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    w->button("help")->click();
    QCOMPARE(m_sandbox->helpLaunches().size(), 1);
    const QStringList launch = m_sandbox->helpLaunches().at(0);
    QVERIFY(launch.contains("--maximized"));
    QVERIFY(launch.last().endsWith("/main.htm"));
}

void TestMainWindow::aboutFromButtonAndMenu()
{
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QAction* menuItem = w->findChild<QAction*>("aboutAction");
    QVERIFY(menuItem);
    QCOMPARE(menuItem->text(), QStringLiteral("关于 VOK(&A)..."));
    QCOMPARE(w->contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList titles;
    const auto closeAbout = [&titles] {
        QTimer::singleShot(0, [&titles] {
            auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            if (!about)
                return;
            titles << about->windowTitle();
            about->findChild<QPushButton*>("ok")->click();
        });
    };
    closeAbout();
    w->button("about")->click();
    closeAbout();
    menuItem->trigger();
    QCOMPARE(titles, QStringList({"关于仓库管理系统", "关于仓库管理系统"}));
}

void TestMainWindow::linksOpenTheirTargets()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("mailto", &recorder, "open");
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    CAboutDlg about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    CHyperLinkWnd* home = about.homepageLink();
    CHyperLinkWnd* mail = about.mailLink();
    QVERIFY(home && mail);
    QCOMPARE(home->text(), CAboutDlg::homepage());
    QCOMPARE(home->link(), CAboutDlg::homepage());
    QCOMPARE(mail->text(), CAboutDlg::mailAddress());
    QCOMPARE(mail->link(), "MailTo:" + CAboutDlg::mailAddress());
    QCOMPARE(mail->cursor().shape(), Qt::PointingHandCursor);
    // Each link lies over its hidden placeholder.
    auto* placeholder = about.findChild<QLabel*>("mail");
    QVERIFY(placeholder->isHidden());
    QCOMPARE(mail->geometry().topLeft(), placeholder->mapTo(&about, QPoint(0, 0)));
    QTest::mouseClick(mail, Qt::LeftButton);
    QTest::mouseClick(home, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("mailto");
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(recorder.opened.size(), 2);
    QCOMPARE(recorder.opened[0].scheme(), QStringLiteral("mailto"));
    QCOMPARE(recorder.opened[0].path(), CAboutDlg::mailAddress());
    QCOMPARE(recorder.opened[1].toString(), CAboutDlg::homepage());
}

void TestMainWindow::closingWays_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("退出") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
}

void TestMainWindow::closingWays()
{
    QFETCH(int, way);
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QSignalSpy finished(w.get(), &QDialog::finished);
    const ConnectionPtr c = w->connection();
    if (way == 0)
        w->button("exit")->click();
    else if (way == 1)
        QTest::keyClick(w.get(), Qt::Key_Escape);
    else
        w->close();
    QCOMPARE(finished.size(), 1);
    QVERIFY(!w->isVisible());
    w.reset();
    QVERIFY(!c->isOpen()); // the connection goes with the window
}

void TestMainWindow::automationHoldHidesInsteadOfClosing()
{
    CVOKDlgAutoProxy proxy;
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    w->setAutoProxy(&proxy);
    QSignalSpy finished(w.get(), &QDialog::finished);
    proxy.hold(":1.7");
    proxy.hold(":1.7"); // counts once
    proxy.hold(":1.8");
    w->close();
    QVERIFY(w->isHidden());
    QCOMPARE(finished.size(), 0);
    proxy.release(":1.7");
    QCOMPARE(finished.size(), 0);
    proxy.release(":1.9"); // never held: no effect
    proxy.release(":1.8");
    QCOMPARE(finished.size(), 1);

    // Released while the window is open: closing works as usual later.
    auto w2 = loggedIn("甲", "部门A");
    w2->setAutoProxy(&proxy);
    QSignalSpy finished2(w2.get(), &QDialog::finished);
    proxy.hold(":1.10");
    proxy.release(":1.10");
    QCOMPARE(finished2.size(), 0);
    QVERIFY(w2->isVisible());
    w2->close();
    QCOMPARE(finished2.size(), 1);
}

void TestMainWindow::holdOverTheSessionBus()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    CVOKDlgAutoProxy proxy;
    QVERIFY(proxy.registerOnSessionBus());
    QSignalSpy released(&proxy, &CVOKDlgAutoProxy::released);
    {
        // A client of its own: a second connection with its own bus name.
        QDBusConnection client =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "vok-test-client");
        QVERIFY(client.isConnected());
        const auto call = [&client](const QString& method) {
            QDBusPendingCall pending = client.asyncCall(
                QDBusMessage::createMethodCall("VOK.Application", "/", "VOK.Application", method));
            QTRY_VERIFY(pending.isFinished());
            QVERIFY2(!pending.isError(), qPrintable(pending.error().message()));
        };
        call("Hold");
        QVERIFY(proxy.isHeld());
        call("Release");
        QVERIFY(!proxy.isHeld());
        QCOMPARE(released.size(), 1);
        call("Hold");
        QVERIFY(proxy.isHeld());
    }
    // The client leaves the bus without letting go.
    QDBusConnection::disconnectFromBus("vok-test-client");
    QTRY_VERIFY(!proxy.isHeld());
    QCOMPARE(released.size(), 2);
}

void TestMainWindow::accountsBackupAndRestoreFromTheWindow()
{
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    // 修改密码 renames the logged-in account; the window keeps its user.
    QString shownName;
    QTimer::singleShot(0, [&shownName] {
        QWidget* form = QApplication::activeModalWidget();
        QVERIFY(form && form->windowTitle() == "修改密码");
        const auto field = [form](const char* name) { return form->findChild<QLineEdit*>(name); };
        shownName = field("user")->text();
        field("password")->setText("pa");
        field("newUser")->setText("丙");
        field("class")->setText("1");
        form->findChild<QPushButton*>("modify")->click();
    });
    w->button("user")->click();
    QCOMPARE(shownName, QString("甲"));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成更新原用户操作!"});
    QCOMPARE(w->currentUser().userName, QString("甲"));
    QVERIFY(Accounts::exists(*w->connection(), "丙"));

    // Backup, a change, restore of the newest generation: the window works
    // on the reopened connection, which reads the row as it was.
    w->button("backup")->click();
    w->connection()->remove({"user"});
    const ConnectionPtr old = w->connection();
    QTimer::singleShot(0, [] {
        QWidget* list = QApplication::activeModalWidget();
        QVERIFY(list && list->windowTitle() == "还原数据库");
        list->findChild<QPushButton*>("confirm")->click();
    });
    w->button("restore")->click();
    QVERIFY(w->connection() != old && w->connection()->isOpen());
    QVERIFY(Accounts::exists(*w->connection(), "丙"));
    QCOMPARE(test::logged(*w->connection()).last(), QStringLiteral("还原数据库"));
}

namespace {

// The departments a backup copies here: those with an account on the
// embedded engine, all five on the server.
int departmentsBackedUp()
{
    return test::onServer() ? 5 : 2;
}

QStringList generationNames()
{
    QStringList names;
    for (const GenerationInfo& g : BackupGenerations::list())
        names << g.generation.name;
    return names;
}

} // namespace

void TestMainWindow::backupAtLogInWhenADayOld()
{
    AutoBackup::setEnabled(true);
    Clock::setNow(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0)));
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QVERIFY(!w->button("backup")->isEnabled());
    QTRY_COMPARE(w->backupLine(), QStringLiteral("已自动备份 %1 个部门数据库到 %2。")
                                      .arg(departmentsBackedUp())
                                      .arg(BackupFolder::path()));
    QVERIFY(w->findChild<QLabel*>("backupLine")->isVisible());
    test::savePicture(*w, "backup-line");
    QVERIFY(w->button("backup")->isEnabled());
    QCOMPARE(generationNames(), QStringList{"2026-12-09_080000"});
    // Nothing asked, nothing said, nothing logged.
    QVERIFY(Messages::shown().isEmpty());
    QCOMPARE(test::logged(*w->connection()), QStringList{"登录数据库"});

    // Less than a day later a log-in takes none; more than a day, one.
    Clock::setNow(QDateTime(QDate(2026, 12, 10), QTime(8, 0, 0)));
    answerLogIns({{{"甲", "pa", "部门A"}}});
    w->button("relogin")->click();
    QVERIFY(!w->autoBackup().running());
    Clock::setNow(QDateTime(QDate(2026, 12, 10), QTime(8, 0, 1)));
    answerLogIns({{{"甲", "pa", "部门A"}}});
    w->button("relogin")->click();
    QTRY_VERIFY(!w->autoBackup().running());
    QCOMPARE(generationNames(), QStringList({"2026-12-10_080001", "2026-12-09_080000"}));
}

void TestMainWindow::failedBackupAtLogInToldOnce()
{
    AutoBackup::setEnabled(true);
    // A file stands where the backup folder should be.
    QFile blocker(BackupFolder::path());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QTRY_COMPARE(w->backupLine(), QStringLiteral("自动备份没有完成。"));
    QCOMPARE(
        Messages::shownTexts(),
        QStringList{QStringLiteral("自动备份数据库没有完成：无法创建文件夹“%1/历史”。\r\n\r\n"
                                   "请检查备份文件夹“%1”能否写入、磁盘空间是否足够（使用数据库"
                                   "服务器时，服务器能否连接），然后按“备份数据库”再备份一次。")
                        .arg(BackupFolder::path())});
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Exclamation);
    // Tried again at the next log-in, and not told again.
    answerLogIns({{{"甲", "pa", "部门A"}}});
    w->button("relogin")->click();
    QVERIFY(w->autoBackup().running());
    QTRY_VERIFY(!w->autoBackup().running());
    QCOMPARE(Messages::shown().size(), 1);
}

void TestMainWindow::readOnlyBackupsKeepWhatTheRuleKeeps()
{
    // A sound generation from before, then a read-only user backs up every
    // few hours for twelve days: every generation the rule keeps is there,
    // the one from before among them for its first week.
    Clock::setNow(QDateTime(QDate(2026, 12, 1), QTime(9, 0, 0)));
    QVERIFY(BackupGenerations::take(Clock::now()));
    auto w = loggedIn("乙", "部门B");
    QVERIFY(w);
    QCOMPARE(w->currentUser().classText, QString("3x"));
    QList<BackupGeneration> expected{BackupGenerations::list().first().generation};
    for (int i = 1; i <= 12; ++i) {
        Clock::setNow(Clock::now().addSecs(i % 2 ? 3600 * 3 : 3600 * 40));
        w->button("backup")->click();
        expected.prepend({generationName(Clock::now()), Clock::now(), true});
        const QList<QString> gone = generationsToRemove(expected, Clock::now());
        expected.removeIf([&gone](const BackupGeneration& g) { return gone.contains(g.name); });
        QStringList names;
        for (const BackupGeneration& g : std::as_const(expected))
            names << g.name;
        QCOMPARE(generationNames(), names);
    }
    QCOMPARE(Messages::shownTexts().last(), QStringLiteral("已备份 %1 个部门数据库到 %2。")
                                                .arg(departmentsBackedUp())
                                                .arg(BackupFolder::path()));
}

void TestMainWindow::dateLineIsRedAtTheTop()
{
    Clock::setNow(QDateTime(QDate(2004, 12, 31), QTime(23, 59, 59)));
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    const QImage img = w->grab().toImage();
    int red = 0;
    int redOutside = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 90 && c.blue() < 90)
                (x >= 230 && y < 20 ? red : redOutside)++;
        }
    QVERIFY(red > 50);
    QCOMPARE(redOutside, 0);
    QCOMPARE(img.pixelColor(5, img.height() - 5), QColor(136, 196, 196));
}

// Restoring from minimised repaints: the date line is the time of the
// restore, not of the log-in.
void TestMainWindow::restoringDrawsTheCurrentTime()
{
    Clock::setNow(QDateTime(QDate(2004, 1, 5), QTime(9, 3, 7)));
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTRY_COMPARE(w->dateLine(), QStringLiteral("2004-1-5 9:3:7"));
    w->showMinimized();
    QCoreApplication::processEvents();
    Clock::setNow(QDateTime(QDate(2004, 1, 5), QTime(10, 0, 0)));
    w->showNormal();
    QTRY_COMPARE(w->dateLine(), QStringLiteral("2004-1-5 10:0:0"));
}

void TestMainWindow::damagedPageFoundAfterLogIn()
{
    if (test::onServer())
        QSKIP("the server checks its own pages");
    const QString file = DataFolder::databaseFile("VOK1");
    {
        auto c = m_sandbox->open("VOK1");
        Transaction t(*c);
        for (int i = 0; i < 3000; ++i)
            c->append("DEVICE_IN", {"code", "provider"}, {QString::number(i), "北京华信科技"});
        t.commit();
    }
    // The file's last page, rows written last: the log-in reads and writes
    // around it (the schema's many pages come first).
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(f.size() - 4096));
    f.write(QByteArray(4096, '\xA5'));
    f.close();

    Messages::queueAnswer(Messages::Answer::No); // no restore now
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QTRY_COMPARE(Messages::shown().size(), 1);
    const Messages::Shown told = Messages::shown().first();
    const QString start = "检查发现数据库文件“" + QDir::toNativeSeparators(file) + "”已损坏（";
    QVERIFY2(told.text.startsWith(start) && told.text.size() > start.size() + 60,
             qPrintable(told.text));
    QVERIFY2(told.text.endsWith("）。\r\n\r\n为了不让损坏扩散到新的记录，程序已停止对这个部门数据库"
                                "的一切修改，只能查看。请用备份恢复数据库。\r\n\r\n"
                                "现在就还原数据库吗？"),
             qPrintable(told.text));
    QCOMPARE(told.icon, Messages::Icon::Exclamation);
    QCOMPARE(told.buttons, Messages::Buttons::YesNo);

    // The window's connection reads and refuses to write.
    QCOMPARE(test::logged(*w->connection()), QStringList{"登录数据库"});
    try {
        w->connection()->append("DEVICE_CODE", {"code", "name"}, {"A1", "电阻"});
        QFAIL("a write reached the damaged file");
    } catch (const DbError& e) {
        QCOMPARE(e.failure(), DbError::Failure::Damaged);
    }
    allowWrites(file);
}

void TestMainWindow::standardButtonsReadChinese()
{
    loadTranslations(*QCoreApplication::instance());
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Ok)->text().remove('&'), QStringLiteral("确定"));
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text().remove('&'), QStringLiteral("取消"));
}

// Set VOK_GRAB_DIR to look at the windows.
void TestMainWindow::pictures()
{
    const QString dir = qEnvironmentVariable("VOK_GRAB_DIR");
    if (dir.isEmpty())
        QSKIP("VOK_GRAB_DIR not set");
    // Every function present, as when all forms are built.
    std::vector<MainButton> rows = mainButtons();
    for (MainButton& r : rows)
        if (!r.action)
            r.factory = [](const FormContext&, QWidget*) { return std::make_unique<QDialog>(); };
    auto w = loggedIn("甲", "部门A", rows);
    QVERIFY(w);
    w->grab().save(dir + "/main.png");
    CLoginDlg login;
    login.show();
    login.grab().save(dir + "/login.png");
    CFirstRunDlg first;
    first.show();
    first.grab().save(dir + "/firstrun.png");
    CAboutDlg about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    about.grab().save(dir + "/about.png");
    const QPixmap link = about.mailLink()->grab();
    link.scaled(link.size() * 4).save(dir + "/link.png");
}

// At log-in the status line tells of overdue loans, without a box; one
// click opens the overdue list. Nothing overdue: no line.
void TestMainWindow::overdueLoansAtLogIn()
{
    Clock::setNow(QDateTime(QDate(2026, 3, 1), QTime(9, 0)));
    {
        ConnectionPtr c = m_sandbox->open("VOK1");
        Stock::addStockRow(*c, 1, "a", {5, 10, 0, 5}, "甲");
        for (int days : {3, 10, 20})
            QCOMPARE(
                Loans::lend(*c, 1,
                            {"丙", "部门A", QDate(2026, 3, 1).addDays(days), "甲", {}, {{"a", 1}}})
                    .problem,
                QString());
    }
    Clock::setNow(QDateTime(QDate(2026, 3, 4), QTime(9, 0)));
    {
        auto early = loggedIn("甲", "部门A");
        QVERIFY(early);
        QCOMPARE(early->overdueLine(), QString());
        QVERIFY(!early->findChild<QLabel*>("overdueLine")->isVisible());
    }
    Clock::setNow(QDateTime(QDate(2026, 3, 16), QTime(9, 0)));
    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QCOMPARE(w->overdueLine(), QStringLiteral("有 2 笔借用已逾期，最长 12 天"));
    QVERIFY(w->findChild<QLabel*>("overdueLine")->isVisible());
    QVERIFY(Messages::shown().isEmpty());
    QList<QStringList> listed;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<CLoanQueryDlg*>(QApplication::activeModalWidget());
        QVERIFY(form);
        listed = test::listed(*form->list());
        form->reject();
    });
    emit w->findChild<QLabel*>("overdueLine")->linkActivated("overdue");
    QCOMPARE(listed.size(), 2);
}

// Two transfers from 部门C to 部门A, one not yet delivered: after log-in
// in 部门A the pending one is caught up with on its own and the status line
// counts both; a click opens 调拨入库, and the line is read again when it
// closes. A department without any waiting: no line.
void TestMainWindow::transfersWaitingAtLogIn()
{
    ConnectionPtr c = m_sandbox->open("VOK3");
    ConnectionPtr a = m_sandbox->open("VOK1");
    c->append("DEVICE_CODE", {"code", "name"}, {QStringLiteral("a"), QStringLiteral("投影仪")});
    Stock::addStockRow(*c, 1, "a", {5, 10, 0, 5}, "丙");
    bool aAway = false;
    const transfer::Opener open = [&](const QString& department) -> ConnectionPtr {
        if (aAway)
            throw DbError(DbError::Failure::Unreachable, QStringLiteral("no route"));
        return department == QStringLiteral("部门A") ? a : nullptr;
    };
    QString first;
    for (bool away : {false, true}) {
        aAway = away;
        const transfer::SendResult sent =
            transfer::send({"部门C", c}, 1, {"部门A", {{"a", 1}}, {}, "丙"}, open);
        QCOMPARE(sent.delivered, !away);
        if (first.isEmpty())
            first = sent.id;
    }
    QCOMPARE(transfer::waitingCount(*a), 1);

    auto w = loggedIn("甲", "部门A");
    QVERIFY(w);
    QTRY_COMPARE(w->transferLine(), QStringLiteral("有 2 笔调拨待接收"));
    QVERIFY(w->findChild<QLabel*>("transferLine")->isVisible());
    QVERIFY(Messages::shown().isEmpty());
    int listed = -1;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<CTransferInDlg*>(QApplication::activeModalWidget());
        QVERIFY(form);
        listed = form->pending()->rowCount();
        aAway = false;
        QCOMPARE(transfer::receive({"部门A", a}, 1, first, {}, "甲", true, open).problem,
                 QString());
        form->reject();
    });
    emit w->findChild<QLabel*>("transferLine")->linkActivated("transfers");
    QCOMPARE(listed, 2);
    QCOMPARE(w->transferLine(), QStringLiteral("有 1 笔调拨待接收"));

    auto other = loggedIn("乙", "部门B");
    QVERIFY(other);
    QCOMPARE(other->transferLine(), QString());
    QVERIFY(!other->findChild<QLabel*>("transferLine")->isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

#include "admin/LoginDlg.h"

#include "core/Accounts.h"
#include "core/Departments.h"
#include "core/HelpLauncher.h"
#include "core/ProgramSettings.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/DialogStyle.h"
#include "ui/MessageService.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringEncoder>

#include <algorithm>

namespace vok {

namespace {

// One count for the whole run: a re-login sees the wrong entries of the
// start-up log-in.
int wrongEntries = 0;

const QString kLastDepartmentKey = QStringLiteral("login/department");

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

bool beginsWithDepartmentWord(const QString& department)
{
    // The four bytes of "部门" themselves: only another text needs the
    // encoder (whose tables take a while to load the first time).
    if (department.startsWith(QStringLiteral("部门")))
        return true;
    QStringEncoder gbk("GBK");
    const QByteArray bytes = QByteArray(gbk.encode(department)).left(4);
    qsizetype begin = 0;
    while (begin < bytes.size() && isBlank(bytes.at(begin)))
        ++begin;
    qsizetype end = begin;
    while (end < bytes.size() && !isBlank(bytes.at(end)))
        ++end;
    QStringEncoder gbk2("GBK");
    return bytes.mid(begin, end - begin) == QByteArray(gbk2.encode(QStringLiteral("部门")));
}

int CLoginDlg::wrongEntryCount()
{
    return wrongEntries;
}

void CLoginDlg::resetWrongEntryCountForTests()
{
    wrongEntries = 0;
}

CLoginDlg::CLoginDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("登录数据库"));
    applyProgramStyle(this);

    m_title = new QLabel(QStringLiteral("登录数据库窗口"), this);
    m_title->setObjectName(QStringLiteral("title"));
    QFont big = font();
    big.setPixelSize(36);
    m_title->setFont(big);
    m_title->setAlignment(Qt::AlignCenter);

    m_userEdit = new QLineEdit(this);
    m_userEdit->setObjectName(QStringLiteral("user"));
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_departmentCombo = new QComboBox(this);
    m_departmentCombo->setObjectName(QStringLiteral("department"));
    m_departmentCombo->setEditable(true);
    m_departmentCombo->setInsertPolicy(QComboBox::NoInsert);
    QStringList names = departmentNames();
    std::sort(names.begin(), names.end());
    m_departmentCombo->addItems(names);
    // The department of the last log-in is offered; the first time, none.
    const int last = names.indexOf(programSettings().value(kLastDepartmentKey).toString());
    m_departmentCombo->setCurrentIndex(last);
    if (last < 0)
        m_departmentCombo->setEditText(QString());

    auto* userLabel = new QLabel(QStringLiteral("用户名："), this);
    userLabel->setBuddy(m_userEdit);
    auto* passwordLabel = new QLabel(QStringLiteral("密码："), this);
    passwordLabel->setBuddy(m_passwordEdit);
    auto* departmentLabel = new QLabel(QStringLiteral("部门："), this);
    departmentLabel->setBuddy(m_departmentCombo);

    m_loginButton = new QPushButton(QStringLiteral("登   录"), this);
    m_loginButton->setObjectName(QStringLiteral("login"));
    m_loginButton->setDefault(true);
    m_clearButton = new QPushButton(QStringLiteral("放   弃"), this);
    m_clearButton->setObjectName(QStringLiteral("clear"));
    m_clearButton->setAutoDefault(false);
    m_helpButton = new QPushButton(QStringLiteral("帮   助"), this);
    m_helpButton->setObjectName(QStringLiteral("help"));
    m_helpButton->setAutoDefault(false);

    auto* fields = new QGridLayout;
    fields->addWidget(userLabel, 0, 0);
    fields->addWidget(m_userEdit, 0, 1);
    fields->addWidget(passwordLabel, 1, 0);
    fields->addWidget(m_passwordEdit, 1, 1);
    fields->addWidget(departmentLabel, 2, 0);
    fields->addWidget(m_departmentCombo, 2, 1);
    fields->setColumnStretch(1, 1);
    fields->setVerticalSpacing(8);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_loginButton);
    buttons->addWidget(m_clearButton);
    buttons->addWidget(m_helpButton);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_title, 0, 0);
    layout->addLayout(fields, 1, 0);
    layout->addLayout(buttons, 2, 0);
    layout->setContentsMargins(18, 12, 18, 14);
    layout->setVerticalSpacing(12);

    setTabOrder(m_userEdit, m_passwordEdit);
    setTabOrder(m_passwordEdit, m_departmentCombo);
    setTabOrder(m_departmentCombo, m_loginButton);
    setTabOrder(m_loginButton, m_clearButton);
    setTabOrder(m_clearButton, m_helpButton);
    m_userEdit->setFocus();

    connect(m_loginButton, &QPushButton::clicked, this, &CLoginDlg::logIn);
    connect(m_clearButton, &QPushButton::clicked, this, &CLoginDlg::clear);
    connect(m_helpButton, &QPushButton::clicked, this, &CLoginDlg::help);

    setFixedSize(sizeHint().expandedTo(QSize(340, 0)));
}

void CLoginDlg::takeFields()
{
    m_userName = m_userEdit->text();
    m_password = m_passwordEdit->text();
    m_department = m_departmentCombo->currentText();
}

void CLoginDlg::logIn()
{
    takeFields();
    if (m_department.isEmpty()) {
        Messages::notice(QStringLiteral("部门选择项不能为空!"), this, QStringLiteral("提示"),
                         Messages::Icon::Information);
        return;
    }
    if (!beginsWithDepartmentWord(m_department)) {
        Messages::notice(QStringLiteral("部门选择项不正确!"), this, QStringLiteral("提示"),
                         Messages::Icon::Information);
        return;
    }
    m_ownDepartment = true;
    const std::optional<QString> own =
        departmentConnectionString(m_department, m_userName, m_password);
    if (!own) {
        Messages::notice(QStringLiteral("部门选择项不正确!"), this, QStringLiteral("提示"),
                         Messages::Icon::Information);
        return;
    }

    std::optional<QString> classText;
    bool noPassword = false;
    try {
        // The chosen department first; then every department in turn, the
        // chosen one included, with restricted rights.
        ConnectionPtr c = openConnection(*own);
        classText = Accounts::find(*c, m_userName, m_password);
        noPassword = !classText && Accounts::lacksPassword(*c, m_userName);
        if (classText)
            m_connection = c;
        else
            c->close();
        if (!classText) {
            m_ownDepartment = false;
            for (const Department& d : departments()) {
                c = openConnection(ConnectionString{d.dsn, m_userName, m_password}.toString());
                classText = Accounts::find(*c, m_userName, m_password);
                c->close();
                if (classText)
                    break;
            }
        }
    } catch (const DbError& e) {
        showComError(e, this);
        reject();
        return;
    }

    if (classText) {
        m_classText = *classText;
        m_success = true;
        takeFields();
        // Written (and flushed to the disk) only when it changed.
        QSettings settings = programSettings();
        if (settings.value(kLastDepartmentKey).toString() != m_department)
            settings.setValue(kLastDepartmentKey, m_department);
        accept();
        return;
    }
    if (noPassword) {
        Messages::notice(
            QStringLiteral("该用户没有设置密码，不能登录!\r\n请让管理员为该用户设置密码!"), this,
            QStringLiteral("提示"), Messages::Icon::Information);
        return;
    }
    if (wrongEntries < 3) {
        Messages::notice(QStringLiteral("输入错误!"), this, QStringLiteral("提示!"),
                         Messages::Icon::Information);
        ++wrongEntries;
        return;
    }
    Messages::notice(QStringLiteral("不能登录!"), this, QStringLiteral("严重警告!"),
                     Messages::Icon::Stop);
    reject();
}

void CLoginDlg::clear()
{
    m_userName.clear();
    m_password.clear();
    m_userEdit->clear();
    m_passwordEdit->clear();
}

void CLoginDlg::help()
{
    HelpLauncher::open(QStringLiteral("load.htm"));
}

} // namespace vok

#include "admin/FirstRunDlg.h"

#include "core/Accounts.h"
#include "core/Departments.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/DialogStyle.h"
#include "ui/MessageService.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

CFirstRunDlg::CFirstRunDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("建立管理员帐户"));
    applyProgramStyle(this);

    auto* intro = new QLabel(
        QStringLiteral("数据库中还没有任何用户。\n请先建立一个管理员帐户（级别 1），然后登录。"),
        this);

    m_userEdit = new QLineEdit(this);
    m_userEdit->setObjectName(QStringLiteral("user"));
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_repeatEdit = new QLineEdit(this);
    m_repeatEdit->setObjectName(QStringLiteral("repeat"));
    m_repeatEdit->setEchoMode(QLineEdit::Password);
    m_departmentCombo = new QComboBox(this);
    m_departmentCombo->setObjectName(QStringLiteral("department"));
    m_departmentCombo->addItems(departmentNames());

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("用户名："), m_userEdit);
    form->addRow(QStringLiteral("密码："), m_passwordEdit);
    form->addRow(QStringLiteral("确认密码："), m_repeatEdit);
    form->addRow(QStringLiteral("部门："), m_departmentCombo);

    m_okButton = new QPushButton(QStringLiteral("确   定"), this);
    m_okButton->setObjectName(QStringLiteral("ok"));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("取   消"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancel"));
    m_cancelButton->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(12);

    setTabOrder(m_userEdit, m_passwordEdit);
    setTabOrder(m_passwordEdit, m_repeatEdit);
    setTabOrder(m_repeatEdit, m_departmentCombo);
    setTabOrder(m_departmentCombo, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);
    m_userEdit->setFocus();

    connect(m_okButton, &QPushButton::clicked, this, &CFirstRunDlg::create);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(sizeHint().expandedTo(QSize(340, 0)));
}

void CFirstRunDlg::create()
{
    const auto notice = [this](const QString& text, QLineEdit* focus) {
        Messages::notice(text, this, QStringLiteral("提示"), Messages::Icon::Information);
        focus->setFocus();
    };
    const QString user = m_userEdit->text();
    const QString password = m_passwordEdit->text();
    if (user.trimmed().isEmpty())
        return notice(QStringLiteral("用户名不能为空!"), m_userEdit);
    if (password.isEmpty())
        return notice(QStringLiteral("密码不能为空!"), m_passwordEdit);
    if (password != m_repeatEdit->text())
        return notice(QStringLiteral("两次输入的密码不一致!"), m_repeatEdit);

    const QString department = m_departmentCombo->currentText();
    try {
        const ConnectionPtr c =
            openConnection(*departmentConnectionString(department, user, password));
        Accounts::add(*c, Accounts::kSettingUp, user, password, QStringLiteral("1"));
        c->close();
    } catch (const DbError& e) {
        showComError(e, this);
        return;
    }
    accept();
}

} // namespace vok

#include "admin/UserDlg.h"

#include "core/Accounts.h"
#include "core/HelpLauncher.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/DialogStyle.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

namespace {

QLineEdit* addField(QGridLayout* grid, int row, int column, const QString& label,
                    const QString& name, bool masked, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    auto* l = new QLabel(label, parent);
    l->setBuddy(edit);
    grid->addWidget(l, row, column * 2, Qt::AlignRight);
    grid->addWidget(edit, row, column * 2 + 1);
    return edit;
}

QPushButton* addButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

} // namespace

CUserDlg::CUserDlg(const FormContext& context, QWidget* parent)
    : QDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("修改密码"));

    auto* existing = new QGroupBox(QStringLiteral("输入已有用户"), this);
    existing->setObjectName(QStringLiteral("existingGroup"));
    auto* existingGrid = new QGridLayout(existing);
    m_userName = addField(existingGrid, 0, 0, QStringLiteral("用户名："), QStringLiteral("user"),
                          false, existing);
    m_password = addField(existingGrid, 0, 1, QStringLiteral("原密码："),
                          QStringLiteral("password"), true, existing);
    QPushButton* remove = addButton(QStringLiteral("delete"), QStringLiteral("删  除"), existing);
    existingGrid->addWidget(remove, 1, 3, Qt::AlignRight);

    auto* fresh = new QGroupBox(QStringLiteral("输入新用户"), this);
    fresh->setObjectName(QStringLiteral("newGroup"));
    auto* freshGrid = new QGridLayout(fresh);
    m_newName = addField(freshGrid, 0, 0, QStringLiteral("新用户名："), QStringLiteral("newUser"),
                         false, fresh);
    m_newPassword = addField(freshGrid, 0, 1, QStringLiteral("新密码："),
                             QStringLiteral("newPassword"), true, fresh);
    m_class =
        addField(freshGrid, 1, 0, QStringLiteral("权限："), QStringLiteral("class"), false, fresh);
    m_confirm = addField(freshGrid, 1, 1, QStringLiteral("密码确认："), QStringLiteral("confirm"),
                         true, fresh);

    QPushButton* add = addButton(QStringLiteral("add"), QStringLiteral("增  加"), this);
    QPushButton* modify = addButton(QStringLiteral("modify"), QStringLiteral("修  改"), this);
    QPushButton* help = addButton(QStringLiteral("help"), QStringLiteral("帮　助"), this);
    QPushButton* exit = addButton(QStringLiteral("exit"), QStringLiteral("退　出"), this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {add, modify, help, exit})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(existing);
    layout->addWidget(fresh);
    layout->addLayout(buttons);

    const QList<QWidget*> order{m_userName, m_password, remove, m_newName, m_newPassword, m_class,
                                m_confirm,  add,        modify, help,      exit};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));

    connect(add, &QPushButton::clicked, this, &CUserDlg::onAdd);
    connect(remove, &QPushButton::clicked, this, &CUserDlg::onDelete);
    connect(modify, &QPushButton::clicked, this, &CUserDlg::onModify);
    connect(help, &QPushButton::clicked, this,
            [] { HelpLauncher::open(QStringLiteral("update.htm")); });
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);

    m_userName->setText(m_context.userName);
}

void CUserDlg::inputError(const QString& text)
{
    Messages::notice(text, this, QStringLiteral("输入错误"), Messages::Icon::Information);
}

void CUserDlg::succeed(const QString& message, const QString& logText)
{
    Messages::notice(message, this, QStringLiteral("提示"), Messages::Icon::Information);
    writeLog(m_context, logText, this);
    accept();
}

CUserDlg::Step CUserDlg::begin(Fields& f)
{
    if (!mayManageAccounts(m_context.classNumber)) {
        showRefusal(RefusalText::WithLineBreak, this);
        return Step::Stop;
    }
    f = {m_userName->text(),    m_password->text(), m_newName->text(),
         m_newPassword->text(), m_class->text(),    m_confirm->text()};
    try {
        // Verified as the log-in verifies: hashes, and plain rows of old.
        if (!Accounts::find(*m_context.connection, f.userName, f.password)) {
            inputError(QStringLiteral("输入原用户名或密码错误，请重新输入!"));
            return Step::Stop;
        }
    } catch (const DbError& e) {
        showComError(e, this);
        return Step::Close;
    }
    return Step::Go;
}

bool CUserDlg::newAccountAcceptable(const Fields& f, bool replacing)
{
    if (f.newName.isEmpty()) {
        inputError(QStringLiteral("名称不能为空!"));
        return false;
    }
    if (f.classText.isEmpty()) {
        inputError(QStringLiteral("权限不能为空!"));
        return false;
    }
    if (f.newPassword != f.confirm) {
        inputError(QStringLiteral("确认密码错误，请重新输入!"));
        return false;
    }
    // Two rows of one name would make the log-in ambiguous. A modification
    // may keep the name it replaces.
    if (!(replacing && f.newName == f.userName) &&
        Accounts::exists(*m_context.connection, f.newName)) {
        inputError(QStringLiteral("用户名“%1”已经存在，请换一个名称!").arg(f.newName));
        return false;
    }
    return true;
}

void CUserDlg::command(const std::function<bool(const Fields&)>& change, const QString& message,
                       const QString& logText)
{
    Fields f;
    const Step step = begin(f);
    if (step == Step::Close)
        reject();
    if (step != Step::Go)
        return;
    bool changed = false;
    if (!runChange(this, [&] { changed = change(f); })) {
        reject();
        return;
    }
    if (changed)
        succeed(message, logText);
}

void CUserDlg::onAdd()
{
    command(
        [this](const Fields& f) {
            if (!newAccountAcceptable(f, false))
                return false;
            Accounts::add(*m_context.connection, m_context.classNumber, f.newName, f.newPassword,
                          f.classText);
            return true;
        },
        QStringLiteral("完成添加新用户操作!"), QStringLiteral("添加新用户!"));
}

void CUserDlg::onDelete()
{
    command(
        [this](const Fields& f) {
            Accounts::remove(*m_context.connection, m_context.classNumber, f.userName);
            return true;
        },
        QStringLiteral("完成删除原用户操作!"), QStringLiteral("删除用户!"));
}

void CUserDlg::onModify()
{
    command(
        [this](const Fields& f) {
            // A failure here leaves the form open, after a word of its own.
            try {
                if (!newAccountAcceptable(f, true))
                    return false;
                // One change: should the new row fail, the old account stays.
                Connection& c = *m_context.connection;
                Transaction change(c);
                Accounts::remove(c, m_context.classNumber, f.userName);
                Accounts::add(c, m_context.classNumber, f.newName, f.newPassword, f.classText);
                change.commit();
            } catch (const DbError& e) {
                Messages::notice(QStringLiteral("错误!"), this);
                showComError(e, this);
                return false;
            }
            return true;
        },
        QStringLiteral("完成更新原用户操作!"), QStringLiteral("更新用户!"));
}

} // namespace vok

#pragma once

#include <functional>

#include "core/FormContext.h"

#include <QDialog>

class QLineEdit;

namespace vok {

// "修改密码": adds, deletes and replaces accounts of table user, each after
// the name and password of an existing account were proved. Class 1 only.
class CUserDlg : public QDialog
{
    Q_OBJECT
public:
    CUserDlg(const FormContext& context, QWidget* parent = nullptr);

private:
    // What the six fields hold when a button is pressed.
    struct Fields
    {
        QString userName, password;
        QString newName, newPassword, classText, confirm;
    };
    enum class Step
    {
        Go,
        Stop,
        Close
    };

    // The common beginning: class check, the fields, the existing account.
    Step begin(Fields& fields);
    // The checks of a new account, in order; false after a message.
    bool newAccountAcceptable(const Fields& fields, bool replacing);
    void inputError(const QString& text);
    void succeed(const QString& message, const QString& logText);
    // What every command shares: begin(), then the change (false: refused,
    // its word already shown; a DbError closes the form), then the notice
    // and the log entry.
    void command(const std::function<bool(const Fields&)>& change, const QString& message,
                 const QString& logText);

    void onAdd();
    void onDelete();
    void onModify();

    FormContext m_context;
    QLineEdit* m_userName;
    QLineEdit* m_password;
    QLineEdit* m_newName;
    QLineEdit* m_newPassword;
    QLineEdit* m_class;
    QLineEdit* m_confirm;
};

} // namespace vok

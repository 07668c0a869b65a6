#pragma once

#include "db/Connection.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vok {

// The log-in dialog: user name, password and department, checked against
// table user of the department's database, else of any department's
// database with restricted rights. Run modally; read the results after it
// returns.
class CLoginDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CLoginDlg(QWidget* parent = nullptr);

    bool success() const { return m_success; }
    // What the last Log in (or Clear) took from the controls.
    const QString& userName() const { return m_userName; }
    const QString& password() const { return m_password; }
    const QString& department() const { return m_department; }
    const QString& classText() const { return m_classText; }
    // False when the account was found only in another department's database.
    bool ownDepartment() const { return m_ownDepartment; }
    // The connection to the chosen department the account was found on,
    // for the main window to go on with (the department is opened once at
    // log-in); empty when the account was found in another department.
    ConnectionPtr takeConnection() { return std::move(m_connection); }

    // Wrong entries over the whole run of the program; the fourth ends the
    // log-in.
    static int wrongEntryCount();
    static void resetWrongEntryCountForTests();

public slots:
    void logIn();
    void clear();
    void help();

private:
    void takeFields();

    QLabel* m_title = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QComboBox* m_departmentCombo = nullptr;
    QPushButton* m_loginButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_helpButton = nullptr;

    QString m_userName;
    QString m_password;
    QString m_department;
    QString m_classText;
    bool m_success = false;
    bool m_ownDepartment = true;
    ConnectionPtr m_connection;
};

// True when the department text's first two characters (four GBK bytes),
// read as one blank-delimited word, are "部门".
bool beginsWithDepartmentWord(const QString& department);

} // namespace vok

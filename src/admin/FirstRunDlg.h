#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vok {

// Asked once, when no department database holds an account yet: the first
// administrator (class "1"), written with a hashed password into the chosen
// department's database.
class CFirstRunDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CFirstRunDlg(QWidget* parent = nullptr);

public slots:
    // Checks the fields and writes the account; closes on success.
    void create();

private:
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_repeatEdit = nullptr;
    QComboBox* m_departmentCombo = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

} // namespace vok

#pragma once

#include "ui/EntryForm.h"

class QSpinBox;

namespace vok {

class ScannedLines;

// Lending "借用登记": each scan (or choice) of a device adds a line, or one
// more unit to its line, without a box per item; the borrower (the names
// used before offered), department, due date (a number of days on from
// today, remembered) and a note. Confirm lends every line in one
// transaction, checked against the stock on hand line by line, and prints
// the 借用单. A read-only class may look, not lend.
class CLoanDlg : public EntryForm
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_CONFIRM = 1161
    };

    CLoanDlg(const FormContext& context, QWidget* parent = nullptr);

    // The loan lines as listed: code, name, quantity, stock on hand.
    ScannedLines* lines() const { return m_lines; }

protected:
    void confirm() override;
    void deviceListClosedUp() override;
    void showEvent(QShowEvent* event) override;

private:
    void setDueFromDays();

    ScannedLines* m_lines;
    QComboBox* m_borrower;
    QLineEdit* m_department;
    QSpinBox* m_days;
    QDateEdit* m_due;
    QLineEdit* m_handler;
    QPlainTextEdit* m_note;
    bool m_borrowersRead = false;
};

} // namespace vok

#pragma once

#include "core/FormContext.h"
#include "core/Loans.h"
#include "ui/FormDialog.h"

#include <functional>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QTableWidget;

namespace vok {

class CommandTable;

// Returns "归还登记": a scanned code (or a borrower's name) lists the open
// loan lines with their borrower, lent time, due date, days overdue and
// quantity still out; the storekeeper picks one, gives the quantity and
// its condition (完好 or 损坏), and Enter saves and puts the cursor back in
// the scan field. An open line can get a new due date. Under it the units
// awaiting repair (待修): repaired (修复入库) or written off (报废, with a
// reason). A read-only class may look, not change.
class CLoanReturnDlg : public FormDialog
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_SAVE = 1171,
        IDC_EXTEND = 1172,
        IDC_REPAIR = 1173,
        IDC_WRITE_OFF = 1174
    };

    CLoanReturnDlg(const FormContext& context, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }

private:
    void lookUp();
    void save();
    void extendDue();
    // The chosen 待修 line's units repaired back into stock, or written
    // off for the reason typed.
    void settleRepairs(bool writeOff);
    bool readRepairs();
    // The open lines of the device or borrower looked up, read again.
    void readOpen();
    void showOpen();
    // The line chosen in a table, empty (and told) when none is.
    QString chosenLine(QTableWidget* table, const std::vector<Loans::OpenLine>& lines);
    bool takeQuantity(QLineEdit* edit, float& quantity);
    bool refused();
    void logged(const QString& text);
    // Runs one step of a loan: a database failure is shown in the COM
    // error box, a refusal by the rules as a notice with the focus back
    // on retry; true when the step was done.
    bool runStep(const std::function<QString()>& step, QWidget* retry = nullptr);

    FormContext m_context;
    CommandTable* m_commands;
    QLineEdit* m_scan;
    QTableWidget* m_open;
    QLineEdit* m_quantity;
    QComboBox* m_condition;
    QDateEdit* m_newDue;
    QTableWidget* m_repairs;
    QLineEdit* m_repairQuantity;
    QLineEdit* m_reason;
    QString m_key;
    std::vector<Loans::OpenLine> m_lines;
    std::vector<Loans::OpenLine> m_awaiting;
};

} // namespace vok

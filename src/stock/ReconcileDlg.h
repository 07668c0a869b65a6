#pragma once

#include "core/FormContext.h"
#include "core/StockLedger.h"
#include "ui/FormDialog.h"

class QCheckBox;
class QLabel;

namespace vok {

class CommandTable;
class RecordListView;

// Stock reconciliation: every device's stock beside what its adjustments
// and movements add up to, the devices that differ first; corrects the
// stock to the ledger and records the opening stock a database from before
// the adjustments lacks.
class CReconcileDlg : public FormDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_REFRESH = 1412,
        IDC_CORRECT = 1413,
        IDC_PRINT = 1414,
        IDC_OPENING = 1415
    };

    CReconcileDlg(const FormContext& context, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }
    RecordListView* list() const { return m_list; }
    // The devices as listed, top row first.
    const std::vector<LedgerRow>& rows() const { return m_rows; }

    // Reads the stock and the movements again and lists them.
    void refill();

private:
    void onCorrect();
    void onOpening();
    void onPrint();

    FormContext m_context;
    CommandTable* m_commands;
    RecordListView* m_list;
    QLabel* m_summary;
    QCheckBox* m_alsoTotal;
    std::vector<LedgerRow> m_rows;
};

} // namespace vok

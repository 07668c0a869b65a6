#pragma once

#include "core/FormContext.h"
#include "core/PurchasePlan.h"
#include "ui/FormDialog.h"

#include <vector>

class QTableWidget;

namespace vok {

class CommandTable;

// The reorder preview the stock alert opens: one line per device under its
// minimum with the quantity to order, the supplier and the price. The
// storekeeper changes what is wrong, unticks what is not wanted, and
// generates one purchase plan row per ticked line, as the purchase plan
// form writes it.
class CReorderDlg : public FormDialog
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_GENERATE = 1095
    };
    // The columns of the table.
    enum Column : int
    {
        ColCode, // with the tick
        ColName,
        ColOnHand,
        ColLow,
        ColHigh,
        ColQuantity,
        ColProvider,
        ColPrice,
        ColNote,
        ColumnCount
    };

    CReorderDlg(const FormContext& context, std::vector<ReorderLine> lines,
                QWidget* parent = nullptr);

    QTableWidget* table() const { return m_table; }
    CommandTable* commands() const { return m_commands; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillTable();
    bool ticked(int row) const;
    void toggle(int row);
    // Takes one ticked line in the order the purchase plan form takes its
    // fields; the first problem is shown and its cell made current.
    bool takeLine(int row, const QString& buyDate, PlanRow& out);
    void generate();

    FormContext m_context;
    std::vector<ReorderLine> m_lines;
    CommandTable* m_commands;
    QTableWidget* m_table;
};

} // namespace vok

#pragma once

#include "core/FormContext.h"

#include <QDialog>

namespace vok {

class CommandTable;
class RecordListView;

// The stock alert "库存报警": lists the stock rows whose quantity in stock
// lies above the maximum, below the minimum, or either. It only reads.
class CStockAlertDlg : public QDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_OVER_STOCK = 1091,
        IDC_UNDER_STOCK = 1092,
        IDC_FULL = 1093
    };

    CStockAlertDlg(const FormContext& context, QWidget* parent = nullptr);

    RecordListView* list() const { return m_list; }
    CommandTable* commands() const { return m_commands; }

private:
    enum class Search
    {
        OverStock,
        UnderStock,
        Full
    };
    // Empties the list and runs the search's steps; a step that fails shows
    // its error and keeps its rows, and the next step still runs.
    void search(Search which);

    FormContext m_context;
    CommandTable* m_commands;
    RecordListView* m_list;
};

} // namespace vok

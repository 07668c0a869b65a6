#pragma once

#include "core/FormContext.h"

#include <QDialog>

namespace vok {

class CommandTable;
class RecordListView;

// The stock alert "库存报警": lists the stock rows whose quantity in stock
// lies above the maximum, below the minimum, or either, and makes a
// purchase plan of the devices under their minimum (the reorder preview).
class CStockAlertDlg : public QDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_OVER_STOCK = 1091,
        IDC_UNDER_STOCK = 1092,
        IDC_FULL = 1093,
        IDC_REORDER = 1094
    };

    CStockAlertDlg(const FormContext& context, QWidget* parent = nullptr);

    RecordListView* list() const { return m_list; }
    CommandTable* commands() const { return m_commands; }
    // The devices a purchase plan is proposed for: the chosen rows of the
    // under-stock search, or all of its rows when no row is chosen; top row
    // first.
    QStringList reorderCodes() const;

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
    // The reorder command is there while it has devices to propose.
    void updateReorder();
    void onReorder();

    FormContext m_context;
    CommandTable* m_commands;
    RecordListView* m_list;
    // The rows the under-stock search listed: the bottom ones.
    int m_underRows = 0;
};

} // namespace vok

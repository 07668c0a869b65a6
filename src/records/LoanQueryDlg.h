#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The loan list "借用查询": the open, overdue or closed loan lines (or all),
// narrowed with a query by device, borrower, department or dates; prints
// and exports what it shows, and prints a 催还单 for the borrower of the
// line clicked, listing what of theirs is due. Read-only: the lines change
// only through lending and returns.
class CLoanQueryDlg : public RecordBrowser
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_PRINT = 1191,
        IDC_QUERY = 1192,
        IDC_REMINDER = 1193
    };
    enum class Show
    {
        Open,
        Overdue,
        Closed,
        All
    };

    explicit CLoanQueryDlg(const FormContext& context, QWidget* parent = nullptr,
                           Show show = Show::Open);

    void showLines(Show show);

private:
    void printReminder();

    FormContext m_context;
};

} // namespace vok

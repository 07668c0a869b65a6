#pragma once

#include "core/Transfers.h"
#include "ui/FormDialog.h"
#include "ui/RecordBrowser.h"

class QTabWidget;

namespace vok {

// One side of the transfer query: this department's transfers sent (调出)
// or received (调入), all of them, pending, received or with a difference,
// narrowed with a query; prints and exports what it shows. Read-only: the
// transfers change only through sending and receiving.
class CTransferListDlg : public RecordBrowser
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_PRINT = 1221,
        IDC_QUERY = 1222
    };
    enum class Side
    {
        Sent,
        Received
    };

    CTransferListDlg(const FormContext& context, Side side, QWidget* parent = nullptr);

    void showTransfers(transfer::Listed which);

private:
    Side m_side;
};

// The transfer query "调拨查询": the transfers sent and those received,
// each on a page of its own.
class CTransferQueryDlg : public FormDialog
{
    Q_OBJECT
public:
    explicit CTransferQueryDlg(const FormContext& context, QWidget* parent = nullptr);

    QTabWidget* pages() const { return m_pages; }
    CTransferListDlg* page(CTransferListDlg::Side side) const;

private:
    QTabWidget* m_pages;
    CTransferListDlg* m_sent;
    CTransferListDlg* m_received;
};

} // namespace vok

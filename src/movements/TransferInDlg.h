#pragma once

#include "core/FormContext.h"
#include "core/Transfers.h"
#include "ui/FormDialog.h"

class QLabel;
class QTableWidget;

namespace vok {

class CommandTable;

// Receiving transfers "调拨入库": the transfers other departments sent to
// this one and it has not received (待接收), oldest first; the one chosen
// shows its lines, each with the quantity sent and the quantity actually
// received (the quantity sent until changed), and for a difference its
// reason (调拨差异). Confirm receives the transfer through the core: a code
// this department's catalogue lacks is added with the sender's name after
// a question; the stock is added, and the sender's record shows the receipt
// when it can be reached (later by itself otherwise). A read-only class may
// look, not receive.
class CTransferInDlg : public FormDialog
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_RECEIVE = 1211
    };

    CTransferInDlg(const FormContext& context, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }
    // The transfers waiting, and the lines of the one chosen.
    QTableWidget* pending() const { return m_pending; }
    QTableWidget* lines() const { return m_lines; }

    // Asked before devices the catalogue lacks are added: their codes and
    // the sender's names.
    static QString missingCodesQuestion(const std::vector<std::pair<QString, QString>>& missing);

private:
    bool readWaiting();
    void showLines();
    void receive();
    transfer::Opener opener() const;

    FormContext m_context;
    CommandTable* m_commands;
    QTableWidget* m_pending;
    QTableWidget* m_lines;
    QLabel* m_status;
    std::vector<transfer::Transfer> m_waiting;
};

} // namespace vok

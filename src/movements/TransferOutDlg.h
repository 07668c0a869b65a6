#pragma once

#include "ui/EntryForm.h"

namespace vok {

class ScannedLines;

// Sending devices to another department "调拨出库": the receiving
// department (one of the other four), the devices scanned or chosen, each
// scan one more unit on its line, the quantities typed over, a note.
// Confirm sends the transfer through the core (the stock taken off and the
// transfer recorded 在途 in one transaction), prints the 调拨单 and puts the
// transfer into the receiving department's database when it can be
// reached; otherwise it is delivered later by itself. A read-only class
// may look, not send.
class CTransferOutDlg : public EntryForm
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_CONFIRM = 1201
    };

    CTransferOutDlg(const FormContext& context, QWidget* parent = nullptr);

    // The lines as listed: code, name, quantity, stock on hand.
    ScannedLines* lines() const { return m_lines; }

protected:
    void confirm() override;
    void deviceListClosedUp() override;

private:
    QComboBox* m_target;
    ScannedLines* m_lines;
    QPlainTextEdit* m_note;
};

} // namespace vok

#pragma once

#include "ui/EntryForm.h"

namespace vok {

// Stock-out entry: one issue of a device to a using department. Shows the
// stock on hand as the largest quantity that may be issued, appends a
// DEVICE_OUT row and lowers the stock, both in one transaction, checked
// against the stock as it is at that moment.
class CDeviceOutDlg : public EntryForm
{
    Q_OBJECT
public:
    // The commands of the form beside help and exit.
    enum : int
    {
        IDC_CONFIRM = 1111
    };

    CDeviceOutDlg(const FormContext& context, QWidget* parent = nullptr);

protected:
    void confirm() override;
    void deviceListClosedUp() override;

private:
    void refuseOverLimit();

    QLineEdit* m_department;
    QLineEdit* m_state;
    QLineEdit* m_outPerson;
    QLineEdit* m_number;
    QLineEdit* m_taker;
    QPlainTextEdit* m_usage;
    QLineEdit* m_maxNumber;
};

} // namespace vok

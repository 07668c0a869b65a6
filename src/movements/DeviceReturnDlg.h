#pragma once

#include "ui/EntryForm.h"

namespace vok {

// Return entry: devices handed back to the warehouse. Appends a
// DEVICE_RETURN row and raises the stock on hand when the device has
// exactly one stock row, both in one transaction; it never adds a stock row.
class CDeviceReturnDlg : public EntryForm
{
    Q_OBJECT
public:
    // The commands of the form beside help and exit.
    enum : int
    {
        IDC_CONFIRM = 1051
    };

    CDeviceReturnDlg(const FormContext& context, QWidget* parent = nullptr);

protected:
    void confirm() override;

private:
    QLineEdit* m_keeper;
    QLineEdit* m_number;
    QLineEdit* m_returnPerson;
};

} // namespace vok

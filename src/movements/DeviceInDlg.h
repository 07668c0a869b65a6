#pragma once

#include "ui/EntryForm.h"

class QCheckBox;

namespace vok {

// Stock-in entry: one delivery of a device. Appends a DEVICE_IN row and
// raises the device's stock, adding its stock row when it has none; both
// in one transaction.
class CDeviceInDlg : public EntryForm
{
    Q_OBJECT
public:
    // The commands of the form beside help and exit.
    enum : int
    {
        IDC_CONFIRM = 1032
    };

    CDeviceInDlg(const FormContext& context, QWidget* parent = nullptr);

protected:
    void confirm() override;

private:
    // The label window for the units received, when the form's check box
    // asks for it.
    void offerLabels(const QString& code, int units);
    QCheckBox* m_labelsAfter;
    QLineEdit* m_provider;
    QLineEdit* m_teleno;
    QLineEdit* m_number;
    QLineEdit* m_price;
    QLineEdit* m_buyer;
};

} // namespace vok

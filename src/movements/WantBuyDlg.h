#pragma once

#include "ui/EntryForm.h"

namespace vok {

// Purchase plan generation: one line of a purchase plan. Shows the chosen
// device's name and stock figures, takes the quantity to buy, the supplier,
// the price and the plan time, and appends one DEVICE_WANTBUY row, every
// value as text. The stock is not changed.
class CWantBuyDlg : public EntryForm
{
    Q_OBJECT
public:
    // The commands of the form beside help and exit.
    enum : int
    {
        IDC_GENERATE = 1123
    };

    CWantBuyDlg(const FormContext& context, QWidget* parent = nullptr);

protected:
    void confirm() override;
    void deviceListClosedUp() override;

private:
    QLineEdit* m_name;
    QLineEdit* m_maxNumber;
    QLineEdit* m_totalNumber;
    QLineEdit* m_nowNumber;
    QLineEdit* m_buyNumber;
    QLineEdit* m_provider;
    QLineEdit* m_price;
};

} // namespace vok

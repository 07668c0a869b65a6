#pragma once

#include "forms/EntryForm.h"

namespace vok {

// Purchase plan generation: one line of a purchase plan. Shows the chosen
// device's name and stock figures, takes the quantity to buy, the supplier,
// the price and the plan time, and appends one DEVICE_WANTBUY row, every
// value as text. The stock is not changed.
class CWantBuyDlg : public EntryForm
{
    Q_OBJECT
public:
    CWantBuyDlg(const FormContext& context, QWidget* parent = nullptr);

    enum : int
    {
        IDC_DEVICE = 1115,
        IDC_NAME = 1116,
        IDC_MAX_NUMBER = 1117,
        IDC_TOTAL_NUMBER = 1118,
        IDC_NOW_NUMBER = 1119,
        IDC_BUY_NUMBER = 1120,
        IDC_PROVIDER = 1121,
        IDC_PRICE = 1122,
        IDC_DATE = 1126,
        IDC_TIME = 1125,
        IDC_GENERATE = 1123
    };

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

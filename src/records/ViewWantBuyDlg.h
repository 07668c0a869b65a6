#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The purchase-plan browser "查看设备采购计划报表": lists DEVICE_WANTBUY;
// deletes rows by their plan time.
class CViewWantBuyDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_DELETE = 1128,
        IDC_PRINT = 1183,
        IDC_QUERY = 1189
    };

    explicit CViewWantBuyDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

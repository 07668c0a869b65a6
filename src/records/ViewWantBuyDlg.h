#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The purchase-plan browser "查看设备采购计划报表": lists DEVICE_WANTBUY;
// deletes rows by their plan time.
class CViewWantBuyDlg : public RecordBrowser
{
    Q_OBJECT
public:
    explicit CViewWantBuyDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

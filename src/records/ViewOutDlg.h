#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The stock-out browser "查看出库信息": lists DEVICE_OUT; corrects or
// deletes rows by their stock-out time.
class CViewOutDlg : public RecordBrowser
{
    Q_OBJECT
public:
    explicit CViewOutDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

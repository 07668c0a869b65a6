#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The stock-out browser "查看出库信息": lists DEVICE_OUT; corrects or
// deletes rows by their stock-out time.
class CViewOutDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_DELETE = 1103,
        IDC_MODIFY = 1104,
        IDC_PRINT = 1181,
        IDC_QUERY = 1189
    };

    explicit CViewOutDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The return browser "查看还库信息": lists DEVICE_RETURN; corrects or deletes
// rows by their return time.
class CViewReturnDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_MODIFY = 1060,
        IDC_DELETE = 1065,
        IDC_PRINT = 1185,
        IDC_QUERY = 1189
    };

    explicit CViewReturnDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

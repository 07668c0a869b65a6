#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The demand browser "查看需求信息": lists DEVICE_NEED; deletes the rows of
// a device and department.
class CViewNeedDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_DELETE = 1076,
        IDC_PRINT = 1180,
        IDC_QUERY = 1189
    };

    explicit CViewNeedDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

#pragma once

#include "browse/RecordBrowser.h"

namespace vok {

// The demand browser "查看需求信息": lists DEVICE_NEED; deletes the rows of
// a device and department.
class CViewNeedDlg : public RecordBrowser
{
    Q_OBJECT
public:
    enum : int
    {
        IdDelete = 1076,
        IdPrint = 1180,
        IdQuery = 1189,
        IdExit = 2
    };

    explicit CViewNeedDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

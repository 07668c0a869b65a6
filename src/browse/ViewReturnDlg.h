#pragma once

#include "browse/RecordBrowser.h"

namespace vok {

// The return browser "查看还库信息": lists DEVICE_RETURN; corrects or deletes
// rows by their return time.
class CViewReturnDlg : public RecordBrowser
{
    Q_OBJECT
public:
    enum : int
    {
        IdModify = 1060,
        IdDelete = 1065,
        IdPrint = 1185,
        IdQuery = 1189,
        IdExit = 2
    };

    explicit CViewReturnDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The return browser "查看还库信息": lists DEVICE_RETURN; corrects or deletes
// rows by their return time.
class CViewReturnDlg : public RecordBrowser
{
    Q_OBJECT
public:
    explicit CViewReturnDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

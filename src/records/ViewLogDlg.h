#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The log viewer "查看操作日志": lists HOWDO and empties it.
class CViewLogDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_CLEAR = 1039
    };

    explicit CViewLogDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

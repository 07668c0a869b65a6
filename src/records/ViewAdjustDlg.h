#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The adjustment list "查看库存调整": lists DEVICE_ADJUST (every change of a
// stock on hand made other than by a movement), narrows it with a query,
// prints and exports what it shows. Read-only: the adjustments are the
// audit trail of the stock and are neither changed nor deleted here.
class CViewAdjustDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_PRINT = 1416,
        IDC_QUERY = 1417
    };

    explicit CViewAdjustDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

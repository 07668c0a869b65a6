#pragma once

#include "ui/RecordBrowser.h"

namespace vok {

// The stock-in browser "查看入库信息": lists DEVICE_IN, shows the clicked
// row in the detail fields, corrects or deletes rows by their stock-in
// time, narrows the list with a query and prints what it shows.
class CViewInDlg : public RecordBrowser
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_MODIFY = 1048,
        IDC_DELETE = 1049,
        IDC_PRINT = 1179,
        IDC_QUERY = 1189
    };

    explicit CViewInDlg(const FormContext& context, QWidget* parent = nullptr);
};

} // namespace vok

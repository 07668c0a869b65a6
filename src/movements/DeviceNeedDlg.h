#pragma once

#include "core/FieldCheck.h"
#include "ui/EntryForm.h"

namespace vok {

// Demand entry: a department's demand for a quantity of a device over a
// period. Appends one DEVICE_NEED row, every value as text; the stock is
// neither read nor changed.
class CDeviceNeedDlg : public EntryForm
{
    Q_OBJECT
public:
    // The commands of the form beside help and exit.
    enum : int
    {
        IDC_CONFIRM = 1071
    };

    CDeviceNeedDlg(const FormContext& context, QWidget* parent = nullptr);

protected:
    void confirm() override;

private:
    QLineEdit* m_department;
    QDateEdit* m_beginDate;
    QDateEdit* m_endDate;
    QLineEdit* m_number;
};

} // namespace vok

#include "movements/DeviceNeedDlg.h"

#include "core/TableAccess.h"
#include "core/Tables.h"

#include "core/Clock.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>

namespace vok {

CDeviceNeedDlg::CDeviceNeedDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("设备需求登记"), QStringLiteral("输入需求信息"), parent)
{
    addDeviceList(QStringLiteral("设备编号"));
    m_department = addEdit(QStringLiteral("department"), QStringLiteral("需求部门"));
    limitText(m_department, tables::deviceNeed, DeviceNeedCol::department);
    m_beginDate = addDatePicker(QStringLiteral("beginDate"), QStringLiteral("开始时间"));
    m_endDate = addDatePicker(QStringLiteral("endDate"), QStringLiteral("结束时间"));
    m_number = addEdit(QStringLiteral("number"), QStringLiteral("设备数量"));
    showNumber(m_number, 0);
    addButtons(IDC_CONFIRM, QStringLiteral("devneed.htm"));
}

void CDeviceNeedDlg::confirm()
{
    if (!deviceChosen())
        return;

    // The fields in the order they are taken: device, end date, start date,
    // department, quantity.
    QString code, department;
    float number = 0;
    FieldExchange dx(this);
    dx.text(deviceList(), code, tables::deviceNeed, DeviceNeedCol::code);
    const QString endDate = unpaddedDate(m_endDate->date());
    const QString beginDate = unpaddedDate(m_beginDate->date());
    dx.text(m_department, department, tables::deviceNeed, DeviceNeedCol::department);
    dx.number(m_number, number, tables::deviceNeed, DeviceNeedCol::need_number);
    if (!dx.ok())
        return;
    if (m_endDate->date() < m_beginDate->date()) {
        Messages::notice(QStringLiteral("结束时间不能早于开始时间！"), this);
        m_endDate->setFocus();
        return;
    }

    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    if (department.isEmpty() && tables::deviceNeed.rule(DeviceNeedCol::department).required) {
        Messages::notice(QStringLiteral("部门一项不能为空！"), this);
        return;
    }

    if (!runChange(this, [&] {
            TableAccess(connection(), tables::deviceNeed, context().classNumber)
                .append({code, department, beginDate, endDate, FieldText::listNumber(number)});
        }))
        return;

    completeEntry(QStringLiteral("添加需求信息"));
}

} // namespace vok

#include "movements/DeviceReturnDlg.h"

#include "core/TableAccess.h"
#include "core/Tables.h"

#include "core/StockChange.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QLineEdit>

namespace vok {

CDeviceReturnDlg::CDeviceReturnDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("设备还库登记"), QStringLiteral("输入还库设备信息"), parent)
{
    addDeviceList(QStringLiteral("设备编号"));
    addTimePickers(QStringLiteral("还库日期"));
    m_keeper = addEdit(QStringLiteral("keeper"), QStringLiteral("管理员"), tables::deviceReturn,
                       DeviceReturnCol::keeper);
    m_number = addEdit(QStringLiteral("number"), QStringLiteral("数量"));
    m_returnPerson = addEdit(QStringLiteral("returnPerson"), QStringLiteral("归还人"),
                             tables::deviceReturn, DeviceReturnCol::return_person);
    showNumber(m_number, 0);
    addButtons(IDC_CONFIRM, QStringLiteral("devret.htm"), ButtonPlacement::Right);
}

void CDeviceReturnDlg::confirm()
{
    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    if (!deviceChosen())
        return;

    // The fields in the order they are taken: device, time, keeper, person
    // returning, quantity. Any quantity a movement may carry comes back.
    QString code, keeper, returnPerson;
    float number = 0;
    FieldExchange dx(this);
    dx.text(deviceList(), code, tables::deviceReturn, DeviceReturnCol::code);
    const QString returnDate = entryTime();
    dx.text(m_keeper, keeper, tables::deviceReturn, DeviceReturnCol::keeper);
    dx.text(m_returnPerson, returnPerson, tables::deviceReturn, DeviceReturnCol::return_person);
    dx.number(m_number, number, tables::deviceReturn, DeviceReturnCol::return_number);
    if (!dx.ok())
        return;
    if (refuseClosedMonth(returnDate))
        return;

    // The return row and the stock change stand or fall together.
    if (!runChange(this, [&] {
            Connection& c = connection();
            Transaction transaction(c);
            TableAccess(c, tables::deviceReturn, context().classNumber)
                .append({code, returnDate, keeper, number, returnPerson});
            Stock::giveBack(c, code, number);
            transaction.commit();
        }))
        return;

    completeEntry(QStringLiteral("添加还库信息"));
}

} // namespace vok

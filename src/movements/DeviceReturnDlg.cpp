#include "movements/DeviceReturnDlg.h"

#include "core/TableAccess.h"

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
    m_keeper = addEdit(QStringLiteral("keeper"), QStringLiteral("管理员"), schema::DeviceReturn,
                       DeviceReturnCol::keeper);
    m_number = addEdit(QStringLiteral("number"), QStringLiteral("数量"));
    m_returnPerson = addEdit(QStringLiteral("returnPerson"), QStringLiteral("归还人"),
                             schema::DeviceReturn, DeviceReturnCol::return_person);
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
    // returning, quantity. Any quantity from 1 to 10000 may come back.
    QString code, keeper, returnPerson;
    float number = 0;
    FieldExchange dx(this);
    dx.text(deviceList(), code, schema::DeviceReturn, DeviceReturnCol::code);
    const QString returnDate = entryTime();
    dx.text(m_keeper, keeper, schema::DeviceReturn, DeviceReturnCol::keeper);
    dx.text(m_returnPerson, returnPerson, schema::DeviceReturn, DeviceReturnCol::return_person);
    dx.number(m_number, number, 1, 10000);
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

#include "movements/DeviceOutDlg.h"

#include "core/TableAccess.h"
#include "core/Tables.h"

#include "core/StockChange.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace vok {

CDeviceOutDlg::CDeviceOutDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("设备出库登记"), QStringLiteral("输入出库设备信息"), parent)
{
    addDeviceList(QStringLiteral("出库设备"));
    addTimePickers(QStringLiteral("出库时间"));
    m_department = addEdit(QStringLiteral("department"), QStringLiteral("使用部门"),
                           tables::deviceOut, DeviceOutCol::department);
    m_state = addEdit(QStringLiteral("state"), QStringLiteral("出库状态"), QStringLiteral("0"));
    m_outPerson = addEdit(QStringLiteral("outPerson"), QStringLiteral("经手人"), tables::deviceOut,
                          DeviceOutCol::out_person);
    m_number = addEdit(QStringLiteral("number"), QStringLiteral("数量"));
    m_taker = addEdit(QStringLiteral("taker"), QStringLiteral("领取人"), tables::deviceOut,
                      DeviceOutCol::taker);
    m_usage = addMultiLineEdit(QStringLiteral("usage"), QStringLiteral("用途"));
    limitText(m_usage, tables::deviceOut, DeviceOutCol::usage);
    m_maxNumber = addFigure(QStringLiteral("maxNumber"), QStringLiteral("最大数量"));
    showNumber(m_number, 0);
    addButtons(IDC_CONFIRM, QStringLiteral("devout.htm"));
}

// The largest quantity: the stock on hand of the device chosen, 0 when it
// has no stock row (or more than one). After a failure the figure shown
// before stays.
void CDeviceOutDlg::deviceListClosedUp()
{
    const QString code = lookUpCode();
    if (code.isEmpty())
        return;
    runChange(this, [&] { showNumber(m_maxNumber, readStock(connection(), code).now); });
}

void CDeviceOutDlg::refuseOverLimit()
{
    Messages::notice(QStringLiteral("超过最大限量！"), this);
}

void CDeviceOutDlg::confirm()
{
    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    if (!deviceChosen())
        return;

    // The fields in the order they are taken: device, time, department,
    // person handling, quantity, person receiving, purpose, state, largest
    // quantity.
    QString code, department, outPerson, taker, usage;
    float number = 0;
    float maxNumber = 0;
    int state = 0;
    FieldExchange dx(this);
    dx.text(deviceList(), code, tables::deviceOut, DeviceOutCol::code);
    const QString outDate = entryTime();
    dx.text(m_department, department, tables::deviceOut, DeviceOutCol::department);
    dx.text(m_outPerson, outPerson, tables::deviceOut, DeviceOutCol::out_person);
    dx.number(m_number, number, tables::deviceOut, DeviceOutCol::out_number);
    dx.text(m_taker, taker, tables::deviceOut, DeviceOutCol::taker);
    dx.text(m_usage, usage, tables::deviceOut, DeviceOutCol::usage);
    dx.integer(m_state, state, tables::deviceOut, DeviceOutCol::out_state);
    // The stock on hand: below 1 nothing can be issued.
    dx.stockFigure(m_maxNumber, maxNumber);
    if (!dx.ok())
        return;
    if (refuseClosedMonth(outDate))
        return;

    if (maxNumber > 0 && number > maxNumber) {
        refuseOverLimit();
        return;
    }

    // The stock-out row and the stock change stand or fall together, and
    // the quantity is checked against the stock as it is now: another
    // workstation may have issued since the figure was shown.
    Stock::Issue issued;
    if (!runChange(this, [&] {
            Connection& c = connection();
            Transaction transaction(c);
            issued = Stock::issue(c, code, number);
            if (issued.done) {
                TableAccess(c, tables::deviceOut, context().classNumber)
                    .append({code, department, outDate, QString::number(state), outPerson, number,
                             taker, usage});
                transaction.commit();
            }
        }))
        return;
    if (!issued.done) {
        showNumber(m_maxNumber, issued.onHand);
        refuseOverLimit();
        return;
    }

    completeEntry(QStringLiteral("添加出库信息"));
}

} // namespace vok

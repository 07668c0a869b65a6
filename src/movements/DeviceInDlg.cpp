#include "movements/DeviceInDlg.h"

#include "core/DeviceCatalogue.h"
#include "core/StockChange.h"
#include "core/TableAccess.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "stock/LabelDlg.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

namespace vok {

CDeviceInDlg::CDeviceInDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("设备入库登记"), QStringLiteral("输入入库设备信息"), parent)
{
    addDeviceList(QStringLiteral("入库设备"));
    addTimePickers(QStringLiteral("入库时间"));
    m_provider = addEdit(QStringLiteral("provider"), QStringLiteral("供应商"), tables::deviceIn,
                         DeviceInCol::provider);
    m_teleno = addEdit(QStringLiteral("teleno"), QStringLiteral("商家电话"), tables::deviceIn,
                       DeviceInCol::teleno);
    m_number = addEdit(QStringLiteral("number"), QStringLiteral("数量"));
    m_price = addEdit(QStringLiteral("price"), QStringLiteral("价格"));
    m_buyer = addEdit(QStringLiteral("buyer"), QStringLiteral("采购员"), tables::deviceIn,
                      DeviceInCol::buyer);
    showNumber(m_number, 0);
    showNumber(m_price, 0);
    m_labelsAfter = new QCheckBox(QStringLiteral("入库后打印标签"), this);
    m_labelsAfter->setObjectName(QStringLiteral("labelsAfter"));
    m_labelsAfter->setChecked(CLabelDlg::printAfterStockIn());
    connect(m_labelsAfter, &QCheckBox::toggled, this, &CLabelDlg::setPrintAfterStockIn);
    addRow(QString(), m_labelsAfter);
    addButtons(IDC_CONFIRM, QStringLiteral("devin.htm"));
}

void CDeviceInDlg::confirm()
{
    if (!deviceChosen())
        return;

    // The fields in the order they are taken: device, time, buyer,
    // supplier, telephone, quantity, price. Texts that do not fit their
    // field in the row record are refused, never cut.
    QString code, buyer, provider, teleno;
    float number = 0;
    float price = 0;
    FieldExchange dx(this);
    dx.text(deviceList(), code, tables::deviceIn, DeviceInCol::code);
    const QString inDate = entryTime();
    dx.text(m_buyer, buyer, tables::deviceIn, DeviceInCol::buyer);
    dx.text(m_provider, provider, tables::deviceIn, DeviceInCol::provider);
    dx.text(m_teleno, teleno, tables::deviceIn, DeviceInCol::teleno);
    dx.number(m_number, number, tables::deviceIn, DeviceInCol::in_number);
    dx.number(m_price, price, tables::deviceIn, DeviceInCol::price);
    if (!dx.ok())
        return;

    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    if (refuseClosedMonth(inDate))
        return;

    // The stock-in row and the stock change stand or fall together.
    const bool done = runChange(this, [&] {
        Connection& c = connection();
        Transaction transaction(c);
        TableAccess(c, tables::deviceIn, context().classNumber)
            .append({code, inDate, provider, teleno, number, price, buyer});

        Stock::receive(c, code, number);
        transaction.commit();
    });
    if (!done)
        return;
    completeEntry(QStringLiteral("添加入库信息"));
    offerLabels(code, std::max(1, int(number)));
}

void CDeviceInDlg::offerLabels(const QString& code, int units)
{
    if (!m_labelsAfter->isChecked())
        return;
    QString name;
    runChange(this, [&] { name = deviceName(connection(), code); });
    // The form has closed: the labels stand on their own, over the main
    // window.
    auto* labels =
        new CLabelDlg(QList<DeviceLabel>(units, DeviceLabel{code, name}), parentWidget());
    labels->setAttribute(Qt::WA_DeleteOnClose);
    labels->open();
    labels->raise();
    labels->activateWindow();
}

} // namespace vok

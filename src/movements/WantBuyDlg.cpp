#include "movements/WantBuyDlg.h"

#include "core/DeviceCatalogue.h"
#include "core/PurchasePlan.h"
#include "core/StockChange.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"
#include "ui/FieldExchange.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTimeEdit>

namespace vok {

CWantBuyDlg::CWantBuyDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("生成设备采购计划报表"), QString(), parent)
{
    addHeading(QStringLiteral("设备采购计划报表"));
    QComboBox* list = makeDeviceList();
    m_name = makeFigure(QStringLiteral("name"), QString());
    addPair(QStringLiteral("设备编号"), list, QStringLiteral("设备名称"), m_name);
    m_maxNumber = makeFigure(QStringLiteral("maxNumber"));
    m_totalNumber = makeFigure(QStringLiteral("totalNumber"));
    addPair(QStringLiteral("最大库存"), m_maxNumber, QStringLiteral("总库存"), m_totalNumber);
    m_nowNumber = makeFigure(QStringLiteral("nowNumber"));
    m_buyNumber = makeEdit(QStringLiteral("buyNumber"), QStringLiteral("0"));
    addPair(QStringLiteral("现有数量"), m_nowNumber, QStringLiteral("采购数量"), m_buyNumber);
    m_provider = makeEdit(QStringLiteral("provider"));
    limitText(m_provider, tables::deviceWantBuy, DeviceWantBuyCol::provider);
    m_price = makeEdit(QStringLiteral("price"), QStringLiteral("0"));
    addPair(QStringLiteral("供应商"), m_provider, QStringLiteral("价格"), m_price);
    addTimePickers(QStringLiteral("报表时间"), DateKind::Calendar);
    addButtons(IDC_GENERATE, QStringLiteral("report.htm"), ButtonPlacement::Below,
               QStringLiteral("生成"), 2);
    commands()->noMenu();
    setMinimumWidth(480);
}

// The device's name from the catalogue and its stock figures (all 0
// without a single stock row). Only these fields change; a failure of
// either look-up is shown and leaves its fields as they were.
void CWantBuyDlg::deviceListClosedUp()
{
    const QString code = lookUpCode();
    if (code.isEmpty())
        return;
    runChange(this, [&] { m_name->setText(deviceName(connection(), code)); });
    runChange(this, [&] {
        const StockFigures f = readStock(connection(), code);
        showNumber(m_nowNumber, f.now);
        showNumber(m_maxNumber, f.high);
        showNumber(m_totalNumber, f.total);
    });
}

void CWantBuyDlg::confirm()
{
    if (refuseIfReadOnly(context().classNumber, RefusalText::OneLine, this))
        return;
    if (!deviceChosen())
        return;

    // The fields in the order they are taken. The figures are read back
    // from the text they are shown in ("%.*g", 6 digits) and, like every
    // number here, written "%f"; one too long for its column is refused.
    QString code, name, provider, nowNumber, maxNumber, totalNumber;
    float buyNumber = 0;
    float price = 0;
    const TableDescription& t = tables::deviceWantBuy;
    FieldExchange dx(this);
    dx.text(deviceList(), code, t, DeviceWantBuyCol::code);
    const QString buyDate = entryTime();
    dx.number(m_buyNumber, buyNumber, t, DeviceWantBuyCol::buy_number);
    dx.numberText(m_nowNumber, nowNumber, t, DeviceWantBuyCol::now_number);
    dx.numberText(m_maxNumber, maxNumber, t, DeviceWantBuyCol::max_number);
    dx.number(m_price, price, t, DeviceWantBuyCol::price);
    dx.text(m_name, name);
    dx.text(m_provider, provider, t, DeviceWantBuyCol::provider);
    dx.numberText(m_totalNumber, totalNumber, t, DeviceWantBuyCol::total_number);
    if (!dx.ok())
        return;

    const PlanRow row{code, nowNumber, totalNumber, maxNumber, buyNumber, provider, price, buyDate};
    if (!runChange(this, [&] {
            PurchasePlan::append(connection(), context().classNumber, {&row, 1});
        }))
        return;

    completeEntry(PurchasePlan::logText());
}

} // namespace vok

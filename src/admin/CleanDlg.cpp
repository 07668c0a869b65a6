#include "admin/CleanDlg.h"

#include "core/TableAccess.h"

#include "db/DbError.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

namespace {

enum : int
{
    IDC_CLEAN_CODE = 1219,
    IDC_CLEAN_IN = 1220,
    IDC_CLEAN_OUT = 1221,
    IDC_CLEAN_DEVICE = 1222,
    IDC_CLEAN_NEED = 1223,
    IDC_CLEAN_RETURN = 1224,
    IDC_CLEAN_WANTBUY = 1225,
    IDC_CLEAN_LOG = 1226
};

} // namespace

CCleanDlg::CCleanDlg(const FormContext& context, QWidget* parent)
    : QDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("清理数据库"));

    // One box of the dialog and the tables it empties.
    struct ClearedTables
    {
        // The box's number in the dialog: its place in the grid and in the
        // tab order.
        int id;
        const char16_t* name;
        const char16_t* caption;
        QStringList tables;
    };
    // A table of movements emptied takes the closed months with it: their
    // figures came from it.
    const QStringList closing{schema::PeriodClose.name, schema::DevicePeriod.name};
    // The order the statements run in: the log before the purchase plan.
    const ClearedTables choices[] = {
        {IDC_CLEAN_CODE, u"cleanCode", u"清理设备代码表格", {schema::DeviceCode.name}},
        // The transfers received and sent go with the stock-ins and the
        // stock-outs.
        {IDC_CLEAN_IN, u"cleanIn", u"清理设备入库表格",
         closing + QStringList{schema::DeviceIn.name, schema::TransferIn.name,
                               schema::TransferInLine.name}},
        // The loans were issued as stock-outs: they go with them.
        {IDC_CLEAN_OUT, u"cleanOut", u"清理设备出库表格",
         closing + QStringList{schema::DeviceOut.name, schema::DeviceLoan.name,
                               schema::DeviceLoanEvent.name, schema::TransferOut.name,
                               schema::TransferOutLine.name}},
        {IDC_CLEAN_DEVICE, u"cleanDevice", u"清理设备库存表格",
         closing + QStringList{schema::Device.name, schema::DeviceAdjust.name}},
        {IDC_CLEAN_NEED, u"cleanNeed", u"清理部门需求表格", {schema::DeviceNeed.name}},
        {IDC_CLEAN_RETURN, u"cleanReturn", u"清理设备还库表格",
         closing + QStringList{schema::DeviceReturn.name}},
        {IDC_CLEAN_LOG, u"cleanLog", u"清理操作日志表格", {schema::Howdo.name}},
        {IDC_CLEAN_WANTBUY, u"cleanWantBuy", u"清理设备采购计划表格", {schema::DeviceWantBuy.name}},
    };
    constexpr int kBoxes = IDC_CLEAN_LOG - IDC_CLEAN_CODE + 1;
    QCheckBox* byNumber[kBoxes] = {};
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    for (const ClearedTables& s : choices) {
        auto* box = new QCheckBox(QString::fromUtf16(s.caption), this);
        box->setObjectName(QString::fromUtf16(s.name));
        // Odd numbers in the left column, even ones in the right, in order.
        const int index = s.id - IDC_CLEAN_CODE;
        grid->addWidget(box, index / 2, index % 2);
        byNumber[index] = box;
        m_boxes.push_back({s.tables, box});
    }

    auto* confirm = new QPushButton(QStringLiteral("确    认"), this);
    confirm->setObjectName(QStringLiteral("confirm"));
    confirm->setDefault(true);
    connect(confirm, &QPushButton::clicked, this, &CCleanDlg::onConfirm);
    auto* cancel = new QPushButton(QStringLiteral("取    消"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* prompt = new QLabel(QStringLiteral("请选择你想要清理的表格："), this);
    prompt->setObjectName(QStringLiteral("promptLabel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(confirm);
    buttons->addSpacing(24);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    // Tab order by number: the boxes, then confirm and cancel.
    QList<QWidget*> order(std::begin(byNumber), std::end(byNumber));
    order << confirm << cancel;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void CCleanDlg::onConfirm()
{
    // Emptying tables is a change: a read-only user may not.
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    if (Messages::show(QStringLiteral("执行此项操作!\r\n数据库中的数据将会被清理!"),
                       QStringLiteral("警告!"), Messages::Icon::Stop, Messages::Buttons::OkCancel,
                       this) != Messages::Answer::Ok) {
        reject();
        return;
    }
    for (const Box& b : m_boxes) {
        if (!b.box->isChecked())
            continue;
        try {
            clearTables(*m_context.connection, m_context.classNumber, b.tables);
        } catch (const DbError& e) {
            showComError(e, this);
        }
    }
    accept();
}

} // namespace vok

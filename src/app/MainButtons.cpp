#include "app/MainButtons.h"

#include "admin/CleanDlg.h"
#include "admin/UserDlg.h"
#include "app/Maintenance.h"
#include "app/VOKDlg.h"
#include "movements/DeviceInDlg.h"
#include "movements/DeviceNeedDlg.h"
#include "movements/DeviceOutDlg.h"
#include "movements/DeviceReturnDlg.h"
#include "movements/LoanDlg.h"
#include "movements/LoanReturnDlg.h"
#include "movements/TransferInDlg.h"
#include "movements/TransferOutDlg.h"
#include "movements/WantBuyDlg.h"
#include "records/LoanQueryDlg.h"
#include "records/TransferQueryDlg.h"
#include "records/ViewAdjustDlg.h"
#include "records/ViewInDlg.h"
#include "records/ViewLogDlg.h"
#include "records/ViewNeedDlg.h"
#include "records/ViewOutDlg.h"
#include "records/ViewReturnDlg.h"
#include "records/ViewWantBuyDlg.h"
#include "stock/ConsumptionDlg.h"
#include "stock/DeviceCardDlg.h"
#include "stock/DeviceCodeDlg.h"
#include "stock/PeriodSummaryDlg.h"
#include "stock/ReconcileDlg.h"
#include "stock/StockAlertDlg.h"
#include "stock/StockDlg.h"
#include "stock/StocktakeDlg.h"

// Forms are added here: include the form's header and give its row
// makeForm<CFormDlg>() instead of nullptr.

namespace vok {

namespace {
constexpr bool Refused = true;
constexpr bool Free = false;
constexpr bool WithUser = true;
constexpr bool NoUser = false;
constexpr bool WithLog = true;
constexpr bool NoLog = false;
} // namespace

std::vector<MainButton> mainButtons()
{
    using G = ButtonGroup;
    // clang-format off
    return {
        // name  group          caption                     own dept  user name  log      form
        {u"deviceCode", G::Operations, QStringLiteral("设备代码"), Free,    NoUser,   WithLog, makeForm<CDeviceCodeDlg>(), nullptr},
        {u"deviceIn", G::Operations, QStringLiteral("设备入库"), Refused, NoUser,   WithLog, makeForm<CDeviceInDlg>(), nullptr},
        {u"deviceOut", G::Operations, QStringLiteral("设备出库"), Refused, NoUser,   WithLog, makeForm<CDeviceOutDlg>(), nullptr},
        {u"deviceReturn", G::Operations, QStringLiteral("设备还库"), Refused, NoUser,   WithLog, makeForm<CDeviceReturnDlg>(), nullptr},
        {u"loan", G::Operations, QStringLiteral("借用登记"), Free,    WithUser, WithLog, makeForm<CLoanDlg>(), nullptr},
        {u"loanReturn", G::Operations, QStringLiteral("归还登记"), Free, WithUser, WithLog, makeForm<CLoanReturnDlg>(), nullptr},
        {u"transferOut", G::Operations, QStringLiteral("调拨出库"), Refused, WithUser, WithLog, makeForm<CTransferOutDlg>(), nullptr},
        {u"transferIn", G::Operations, QStringLiteral("调拨入库"), Refused, WithUser, WithLog, makeForm<CTransferInDlg>(), nullptr},
        {u"deviceNeed", G::Operations, QStringLiteral("设备需求"), Refused, NoUser,   WithLog, makeForm<CDeviceNeedDlg>(), nullptr},
        {u"stock", G::Queries,    QStringLiteral("库存信息"), Free,    WithUser, WithLog, makeForm<CStockDlg>(), nullptr},
        {u"viewIn", G::Queries,    QStringLiteral("入库信息"), Free,    WithUser, WithLog, makeForm<CViewInDlg>(), nullptr},
        {u"viewOut", G::Queries,    QStringLiteral("出库信息"), Free,    WithUser, WithLog, makeForm<CViewOutDlg>(), nullptr},
        {u"viewReturn", G::Queries,    QStringLiteral("还库信息"), Free,    WithUser, WithLog, makeForm<CViewReturnDlg>(), nullptr},
        {u"viewNeed", G::Queries,    QStringLiteral("需求信息"), Free,    WithUser, WithLog, makeForm<CViewNeedDlg>(), nullptr},
        {u"viewAdjust", G::Queries,  QStringLiteral("库存调整"), Free,    WithUser, WithLog, makeForm<CViewAdjustDlg>(), nullptr},
        {u"loanQuery", G::Queries,   QStringLiteral("借用查询"), Free,    WithUser, WithLog, makeForm<CLoanQueryDlg>(), nullptr},
        {u"transferQuery", G::Queries, QStringLiteral("调拨查询"), Free,   WithUser, WithLog, makeForm<CTransferQueryDlg>(), nullptr},
        {u"deviceCard", G::Queries,   QStringLiteral("扫码查看"), Free,    NoUser,   WithLog, makeForm<CDeviceCardDlg>(), nullptr, QKeySequence(Qt::Key_F3)},
        {u"wantBuy", G::Other,      QStringLiteral("生成设备采购计划报表"), Refused, NoUser, WithLog, makeForm<CWantBuyDlg>(), nullptr},
        {u"viewWantBuy", G::Other,      QStringLiteral("查看设备采购计划报表"), Free, WithUser, WithLog, makeForm<CViewWantBuyDlg>(), nullptr},
        {u"stockAlert", G::Other,      QStringLiteral("库存报警"), Free,    NoUser,   WithLog, makeForm<CStockAlertDlg>(), nullptr},
        {u"reconcile", G::Other,      QStringLiteral("库存核对"), Free,    WithUser, WithLog, makeForm<CReconcileDlg>(), nullptr},
        {u"stocktake", G::Other,      QStringLiteral("库存盘点"), Free,    WithUser, WithLog, makeForm<CStocktakeDlg>(), nullptr},
        {u"consumption", G::Other,      QStringLiteral("消耗统计"), Free,    WithUser, WithLog, makeForm<CConsumptionDlg>(), nullptr},
        {u"periodSummary", G::Other,    QStringLiteral("收发存汇总"), Free,  WithUser, WithLog, makeForm<CPeriodSummaryDlg>(), nullptr},
        {u"viewLog", G::System,     QStringLiteral("操作日志"), Free,    NoUser,   NoLog,   makeForm<CViewLogDlg>(), nullptr},
        {u"user", G::System,     QStringLiteral("修改密码"), Free,    WithUser, WithLog, makeForm<CUserDlg>(), nullptr},
        {u"relogin", G::System,     QStringLiteral("重新登录"), Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.relogin(); }},
        {u"help", G::System,     QStringLiteral("帮助"),     Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.showHelp(); }},
        {u"about", G::System,     QStringLiteral("关于"),     Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.showAbout(); }},
        {u"backup", G::System,     QStringLiteral("备份数据库"), Free,  NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { Maintenance::backupDatabases(w.log(), &w); }},
        {u"restore", G::System,     QStringLiteral("还原数据库"), Free,  NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) {
             Maintenance::restoreDatabases(
                 w.currentUser(), w.log(),
                 [&w](ConnectionPtr c) { w.replaceConnection(std::move(c)); }, &w);
         }},
        {u"clean", G::System,     QStringLiteral("清理数据库"), Free,  NoUser,   WithLog, makeForm<CCleanDlg>(), nullptr},
        {u"exit", G::System,     QStringLiteral("退出"),     Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.close(); }},
    };
    // clang-format on
}

} // namespace vok

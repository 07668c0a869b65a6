#include "app/MainButtons.h"

#include "admin/CleanDlg.h"
#include "admin/UserDlg.h"
#include "app/Maintenance.h"
#include "app/VOKDlg.h"
#include "movements/DeviceInDlg.h"
#include "movements/DeviceNeedDlg.h"
#include "movements/DeviceOutDlg.h"
#include "movements/DeviceReturnDlg.h"
#include "movements/WantBuyDlg.h"
#include "records/ViewInDlg.h"
#include "records/ViewLogDlg.h"
#include "records/ViewNeedDlg.h"
#include "records/ViewOutDlg.h"
#include "records/ViewReturnDlg.h"
#include "records/ViewWantBuyDlg.h"
#include "stock/ConsumptionDlg.h"
#include "stock/DeviceCardDlg.h"
#include "stock/DeviceCodeDlg.h"
#include "stock/ReconcileDlg.h"
#include "stock/StockAlertDlg.h"
#include "stock/StockDlg.h"

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
        // id    group          caption                     own dept  user name  log      form
        {1002, G::Operations, QStringLiteral("设备代码"), Free,    NoUser,   WithLog, makeForm<CDeviceCodeDlg>(), nullptr},
        {1003, G::Operations, QStringLiteral("设备入库"), Refused, NoUser,   WithLog, makeForm<CDeviceInDlg>(), nullptr},
        {1004, G::Operations, QStringLiteral("设备出库"), Refused, NoUser,   WithLog, makeForm<CDeviceOutDlg>(), nullptr},
        {1005, G::Operations, QStringLiteral("设备还库"), Refused, NoUser,   WithLog, makeForm<CDeviceReturnDlg>(), nullptr},
        {1006, G::Operations, QStringLiteral("设备需求"), Refused, NoUser,   WithLog, makeForm<CDeviceNeedDlg>(), nullptr},
        {1012, G::Queries,    QStringLiteral("库存信息"), Free,    WithUser, WithLog, makeForm<CStockDlg>(), nullptr},
        {1008, G::Queries,    QStringLiteral("入库信息"), Free,    WithUser, WithLog, makeForm<CViewInDlg>(), nullptr},
        {1009, G::Queries,    QStringLiteral("出库信息"), Free,    WithUser, WithLog, makeForm<CViewOutDlg>(), nullptr},
        {1010, G::Queries,    QStringLiteral("还库信息"), Free,    WithUser, WithLog, makeForm<CViewReturnDlg>(), nullptr},
        {1013, G::Queries,    QStringLiteral("需求信息"), Free,    WithUser, WithLog, makeForm<CViewNeedDlg>(), nullptr},
        {1403, G::Queries,    QStringLiteral("扫码查看"), Free,    NoUser,   WithLog, makeForm<CDeviceCardDlg>(), nullptr, QKeySequence(Qt::Key_F3)},
        {1015, G::Other,      QStringLiteral("生成设备采购计划报表"), Refused, NoUser, WithLog, makeForm<CWantBuyDlg>(), nullptr},
        {1127, G::Other,      QStringLiteral("查看设备采购计划报表"), Free, WithUser, WithLog, makeForm<CViewWantBuyDlg>(), nullptr},
        {1014, G::Other,      QStringLiteral("库存报警"), Free,    NoUser,   WithLog, makeForm<CStockAlertDlg>(), nullptr},
        {1401, G::Other,      QStringLiteral("库存核对"), Free,    WithUser, WithLog, makeForm<CReconcileDlg>(), nullptr},
        {1402, G::Other,      QStringLiteral("消耗统计"), Free,    WithUser, WithLog, makeForm<CConsumptionDlg>(), nullptr},
        {1007, G::System,     QStringLiteral("操作日志"), Free,    NoUser,   NoLog,   makeForm<CViewLogDlg>(), nullptr},
        {1143, G::System,     QStringLiteral("修改密码"), Free,    WithUser, WithLog, makeForm<CUserDlg>(), nullptr},
        {1212, G::System,     QStringLiteral("重新登录"), Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.relogin(); }},
        {1141, G::System,     QStringLiteral("帮助"),     Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.showHelp(); }},
        {1138, G::System,     QStringLiteral("关于"),     Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.showAbout(); }},
        {1215, G::System,     QStringLiteral("备份数据库"), Free,  NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { Maintenance::backupDatabases(w.log(), &w); }},
        {1216, G::System,     QStringLiteral("还原数据库"), Free,  NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) {
             Maintenance::restoreDatabases(
                 w.currentUser(), w.log(),
                 [&w](ConnectionPtr c) { w.replaceConnection(std::move(c)); }, &w);
         }},
        {1227, G::System,     QStringLiteral("清理数据库"), Free,  NoUser,   WithLog, makeForm<CCleanDlg>(), nullptr},
        {1,    G::System,     QStringLiteral("退出"),     Free,    NoUser,   WithLog, nullptr,
         [](CVOKDlg& w) { w.close(); }},
    };
    // clang-format on
}

} // namespace vok

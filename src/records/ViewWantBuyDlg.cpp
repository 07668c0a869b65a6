#include "records/ViewWantBuyDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Field, QueryControl::Value,
                                        QueryControl::Operator};

using F = BrowserField;
// All read-only: code, stock now, total, maximum and quantity to buy on
// the left, supplier, price and plan time on the right.
constexpr BrowserField kFields[] = {
    {u"code", u"设备编号", F::ReadOnly, DeviceWantBuyCol::code, 0, 0},
    {u"buyDate", u"报表时间", F::ReadOnly, DeviceWantBuyCol::buy_date, 2, 1},
    {u"buyNumber", u"采购数量", F::ReadOnly, DeviceWantBuyCol::buy_number, 4, 0},
    {u"nowNumber", u"现有库存", F::ReadOnly, DeviceWantBuyCol::now_number, 1, 0},
    {u"maxNumber", u"最大库存", F::ReadOnly, DeviceWantBuyCol::max_number, 3, 0},
    {u"price", u"价格", F::ReadOnly, DeviceWantBuyCol::price, 1, 1},
    {u"provider", u"供应商", F::ReadOnly, DeviceWantBuyCol::provider, 0, 1},
    {u"totalNumber", u"总库存", F::ReadOnly, DeviceWantBuyCol::total_number, 2, 0},
};
constexpr int kKey[] = {1}; // the plan time

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {CViewWantBuyDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CViewWantBuyDlg::IDC_DELETE, u"删　除", u"删除", A::Delete, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 0, 1},
    {CViewWantBuyDlg::IDC_PRINT, u"打　印", u"打印", A::Print, 0, 2},
    {CommandTable::kExit, u"退　出", u"退出", A::Exit, 0, 3},
};
constexpr int kMenu[] = {CViewWantBuyDlg::IDC_DELETE, CommandTable::kHelp,
                         CViewWantBuyDlg::IDC_PRINT,  CommandTable::kExit,
                         CommandTable::kSeparator,    CViewWantBuyDlg::IDC_QUERY};

constexpr BrowserDescription kViewWantBuy{
    .objectName = u"CViewWantBuyDlg",
    .title = u"查看设备采购计划报表",
    .width = 382,
    .height = 306,
    .table = &tables::deviceWantBuy,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .commands = kCommands,
    .menuOrder = kMenu,
    .helpTopic = u"viewreport.htm",
    .keyFields = kKey,
    .deleteQuestion = u"有%1条采购计划信息的计划时间都是%2，将全部删除。\r\n确定删除吗？",
    .deleteDone = u"完成操作！",
    .deleteLog = u"删除采购计划信息",
};

} // namespace

CViewWantBuyDlg::CViewWantBuyDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewWantBuy, context, parent)
{
}

} // namespace vok

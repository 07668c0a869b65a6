#include "records/ViewWantBuyDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

enum : int
{
    IDC_DELETE = 1128,
    IDC_PRINT = 1183,
    IDC_QUERY = 1189,
    IDC_EXIT = 2
};

enum : int
{
    IDC_CODE = 1130,
    IDC_BUY_DATE = 1131,
    IDC_MAX_NUMBER = 1132,
    IDC_NOW_NUMBER = 1133,
    IDC_TOTAL_NUMBER = 1134,
    IDC_PROVIDER = 1135,
    IDC_BUY_NUMBER = 1136,
    IDC_PRICE = 1137,
    IDC_QUERY_VALUE = 1186,
    IDC_QUERY_OPERATOR = 1188,
    IDC_QUERY_FIELD = 1190
};

constexpr int kQueryOrder[] = {IDC_QUERY_FIELD, IDC_QUERY_VALUE, IDC_QUERY_OPERATOR};

using F = BrowserField;
// All read-only: code, stock now, total, maximum and quantity to buy on
// the left, supplier, price and plan time on the right.
constexpr BrowserField kFields[] = {
    {IDC_CODE, u"设备编号", F::ReadOnly, DeviceWantBuyCol::code, 0, 0},
    {IDC_BUY_DATE, u"报表时间", F::ReadOnly, DeviceWantBuyCol::buy_date, 2, 1},
    {IDC_BUY_NUMBER, u"采购数量", F::ReadOnly, DeviceWantBuyCol::buy_number, 4, 0},
    {IDC_NOW_NUMBER, u"现有库存", F::ReadOnly, DeviceWantBuyCol::now_number, 1, 0},
    {IDC_MAX_NUMBER, u"最大库存", F::ReadOnly, DeviceWantBuyCol::max_number, 3, 0},
    {IDC_PRICE, u"价格", F::ReadOnly, DeviceWantBuyCol::price, 1, 1},
    {IDC_PROVIDER, u"供应商", F::ReadOnly, DeviceWantBuyCol::provider, 0, 1},
    {IDC_TOTAL_NUMBER, u"总库存", F::ReadOnly, DeviceWantBuyCol::total_number, 2, 0},
};
constexpr int kKey[] = {1}; // the plan time

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {IDC_QUERY, u"查　询", u"查询", A::Query},
    {IDC_DELETE, u"删　除", u"删除", A::Delete, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 0, 1},
    {IDC_PRINT, u"打　印", u"打印", A::Print, 0, 2},
    {IDC_EXIT, u"退　出", u"退出", A::Exit, 0, 3},
};
constexpr int kMenu[] = {IDC_DELETE, CommandTable::kHelp,      IDC_PRINT,
                         IDC_EXIT,   CommandTable::kSeparator, IDC_QUERY};

constexpr BrowserDescription kViewWantBuy{
    .objectName = u"CViewWantBuyDlg",
    .title = u"查看设备采购计划报表",
    .width = 382,
    .height = 306,
    .listId = 0,
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

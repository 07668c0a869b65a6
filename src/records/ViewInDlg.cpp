#include "records/ViewInDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

enum : int
{
    IDC_MODIFY = 1048,
    IDC_DELETE = 1049,
    IDC_PRINT = 1179,
    IDC_QUERY = 1189,
    IDC_EXIT = 2
};

enum : int
{
    IDC_LIST = 1040,
    IDC_IN_DATE = 1041,
    IDC_CODE = 1042,
    IDC_BUYER = 1043,
    IDC_PRICE = 1044,
    IDC_QUANTITY = 1045,
    IDC_TELENO = 1046,
    IDC_PROVIDER = 1047,
    IDC_QUERY_VALUE = 1186,
    IDC_QUERY_OPERATOR = 1188,
    IDC_QUERY_FIELD = 1190
};

constexpr int kQueryOrder[] = {IDC_QUERY_FIELD, IDC_QUERY_OPERATOR, IDC_QUERY_VALUE};

// Columns 0, 2, 4, 5, 6 an eighth of the width, 1 and 3 three sixteenths.
constexpr int kShares[] = {2, 3, 2, 3, 2, 2, 2};

using F = BrowserField;
// In the order they are taken; placed in two columns.
constexpr BrowserField kFields[] = {
    {IDC_TELENO, u"供应商电话", F::Text, DeviceInCol::teleno, 0, 1},
    {IDC_PROVIDER, u"供应商", F::Text, DeviceInCol::provider, 2, 0},
    {IDC_IN_DATE, u"入库日期", F::ReadOnly, DeviceInCol::in_date, 1, 0},
    {IDC_CODE, u"设备号", F::ReadOnly, DeviceInCol::code, 0, 0},
    {IDC_BUYER, u"采购员", F::Text, DeviceInCol::buyer, 3, 1},
    {IDC_PRICE, u"价格", F::Single, DeviceInCol::price, 2, 1, 1, 10000},
    {IDC_QUANTITY, u"数量", F::Single, DeviceInCol::in_number, 1, 1, 1, 10000},
};
constexpr int kKey[] = {2}; // the stock-in time

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {IDC_QUERY, u"查　询", u"查询", A::Query},
    {IDC_MODIFY, u"修　　改", u"修改", A::Modify, 0, 0},
    {IDC_DELETE, u"删　　除", u"删除", A::Delete, 0, 1},
    {IDC_PRINT, u"打　　印", u"打印", A::Print, 0, 2},
    {CommandTable::kHelp, u"帮　　助", u"帮助", A::Help, 0, 3},
    {IDC_EXIT, u"退　　出", u"退出", A::Exit, 0, 4},
};
constexpr int kMenu[] = {
    IDC_MODIFY, IDC_DELETE, IDC_PRINT, CommandTable::kHelp, IDC_EXIT, CommandTable::kSeparator,
    IDC_QUERY};

constexpr BrowserDescription kViewIn{
    .objectName = u"CViewInDlg",
    .title = u"查看入库信息",
    .width = 415,
    .height = 306,
    .listId = IDC_LIST,
    .table = &tables::deviceIn,
    .shares = kShares,
    .shareDenominator = 16,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .commands = kCommands,
    .menuOrder = kMenu,
    .defaultButton = IDC_EXIT,
    .helpTopic = u"viewdevin.htm",
    .keyFields = kKey,
    .deleteQuestion = u"有%1条入库信息的入库时间都是%2，将全部删除。\r\n确定删除吗？",
    .modifyDone = u"完成修改入库信息操作！",
    .modifyLog = u"修改入库信息",
    .deleteDone = u"完成删除入库信息操作！",
    .deleteLog = u"删除入库信息",
};

} // namespace

CViewInDlg::CViewInDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewIn, context, parent)
{
}

} // namespace vok

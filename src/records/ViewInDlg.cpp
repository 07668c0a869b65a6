#include "records/ViewInDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Field, QueryControl::Operator,
                                        QueryControl::Value};

// Columns 0, 2, 4, 5, 6 an eighth of the width, 1 and 3 three sixteenths.
constexpr int kShares[] = {2, 3, 2, 3, 2, 2, 2};

using F = BrowserField;
// In the order they are taken; placed in two columns.
constexpr BrowserField kFields[] = {
    {u"teleno", u"供应商电话", F::Edit, DeviceInCol::teleno, 0, 1},
    {u"provider", u"供应商", F::Edit, DeviceInCol::provider, 2, 0},
    {u"inDate", u"入库日期", F::ReadOnly, DeviceInCol::in_date, 1, 0},
    {u"code", u"设备号", F::ReadOnly, DeviceInCol::code, 0, 0},
    {u"buyer", u"采购员", F::Edit, DeviceInCol::buyer, 3, 1},
    {u"price", u"价格", F::Edit, DeviceInCol::price, 2, 1},
    {u"quantity", u"数量", F::Edit, DeviceInCol::in_number, 1, 1},
};
constexpr int kKey[] = {2}; // the stock-in time

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {CViewInDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CViewInDlg::IDC_MODIFY, u"修　　改", u"修改", A::Modify, 0, 0},
    {CViewInDlg::IDC_DELETE, u"删　　除", u"删除", A::Delete, 0, 1},
    {CViewInDlg::IDC_PRINT, u"打　　印", u"打印", A::Print, 0, 2},
    {CommandTable::kHelp, u"帮　　助", u"帮助", A::Help, 0, 3},
    {CommandTable::kExit, u"退　　出", u"退出", A::Exit, 0, 4},
};
constexpr int kMenu[] = {CViewInDlg::IDC_MODIFY, CViewInDlg::IDC_DELETE, CViewInDlg::IDC_PRINT,
                         CommandTable::kHelp,    CommandTable::kExit,    CommandTable::kSeparator,
                         CViewInDlg::IDC_QUERY};

constexpr BrowserDescription kViewIn{
    .objectName = u"CViewInDlg",
    .title = u"查看入库信息",
    .width = 415,
    .height = 306,
    .table = &tables::deviceIn,
    .shares = kShares,
    .shareDenominator = 16,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .commands = kCommands,
    .menuOrder = kMenu,
    .defaultButton = CommandTable::kExit,
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

#include "records/ViewOutDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Value, QueryControl::Field,
                                        QueryControl::Operator};

using F = BrowserField;
// In the order they are taken: code, time, department, state, handler and
// quantity on the left, receiver and purpose on the right.
constexpr BrowserField kFields[] = {
    {u"code", u"设备编号", F::ReadOnly, DeviceOutCol::code, 0, 0},
    {u"outDate", u"出库时间", F::ReadOnly, DeviceOutCol::out_date, 1, 0},
    {u"department", u"使用部门", F::Edit, DeviceOutCol::department, 2, 0},
    {u"outPerson", u"经手人", F::Edit, DeviceOutCol::out_person, 4, 0},
    {u"taker", u"领取人", F::Edit, DeviceOutCol::taker, 0, 1},
    {u"usage", u"用途", F::Edit, DeviceOutCol::usage, 1, 1, true},
    {u"outNumber", u"出库数量", F::Edit, DeviceOutCol::out_number, 5, 0},
    {u"outState", u"出库状况", F::Edit, DeviceOutCol::out_state, 3, 0},
};
constexpr int kKey[] = {1}; // the stock-out time

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {CViewOutDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CViewOutDlg::IDC_DELETE, u"删除", u"删除", A::Delete, 0, 0},
    {CViewOutDlg::IDC_MODIFY, u"修改", u"修改", A::Modify, 0, 1},
    {CommandTable::kHelp, u"帮助", u"帮助", A::Help, 0, 2},
    {CViewOutDlg::IDC_PRINT, u"打印", u"打印", A::Print, 0, 3},
    {CommandTable::kExit, u"退出", u"退出", A::Exit, 0, 4},
};
constexpr int kMenu[] = {CViewOutDlg::IDC_DELETE, CViewOutDlg::IDC_MODIFY, CommandTable::kHelp,
                         CommandTable::kExit,     CViewOutDlg::IDC_PRINT,  CommandTable::kSeparator,
                         CViewOutDlg::IDC_QUERY};

constexpr BrowserDescription kViewOut{
    .objectName = u"CViewOutDlg",
    .title = u"查看出库信息",
    .width = 367,
    .height = 300,
    .table = &tables::deviceOut,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .commands = kCommands,
    .menuOrder = kMenu,
    .helpTopic = u"viewdevout.htm",
    .keyFields = kKey,
    .deleteQuestion = u"有%1条出库信息的出库时间都是%2，将全部删除。\r\n确定删除吗？",
    .modifyDone = u"完成操作！",
    .modifyLog = u"修改出库信息",
    .deleteDone = u"完成操作！",
    .deleteLog = u"删除出库信息",
};

} // namespace

CViewOutDlg::CViewOutDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewOut, context, parent)
{
}

} // namespace vok

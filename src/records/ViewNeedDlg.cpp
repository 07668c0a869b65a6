#include "records/ViewNeedDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Field, QueryControl::Operator,
                                        QueryControl::Value};

using F = BrowserField;
// All read-only, in one column: code, department, start, end, quantity.
constexpr BrowserField kFields[] = {
    {u"code", u"设备编号", F::ReadOnly, DeviceNeedCol::code, 0, 0},
    {u"department", u"需求部门", F::ReadOnly, DeviceNeedCol::department, 1, 0},
    {u"endDate", u"结束时间", F::ReadOnly, DeviceNeedCol::end_date, 3, 0},
    {u"needNumber", u"设备数量", F::ReadOnly, DeviceNeedCol::need_number, 4, 0},
    {u"beginDate", u"开始时间", F::ReadOnly, DeviceNeedCol::begin_date, 2, 0},
};
constexpr int kKey[] = {0, 1}; // device code and department

using A = BrowserAction;
// Beside the fields in two columns: delete and help, print and exit.
constexpr BrowserCommand kCommands[] = {
    {CViewNeedDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CViewNeedDlg::IDC_DELETE, u"删　除", u"删除", A::Delete, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 1, 0},
    {CViewNeedDlg::IDC_PRINT, u"打　印", u"打印", A::Print, 0, 1},
    {CommandTable::kExit, u"退　出", u"退出", A::Exit, 1, 1},
};
constexpr int kMenu[] = {CViewNeedDlg::IDC_DELETE, CViewNeedDlg::IDC_PRINT,
                         CommandTable::kHelp,      CommandTable::kExit,
                         CommandTable::kSeparator, CViewNeedDlg::IDC_QUERY};

constexpr BrowserDescription kViewNeed{
    .objectName = u"CViewNeedDlg",
    .title = u"查看需求信息",
    .width = 351,
    .height = 261,
    .table = &tables::deviceNeed,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .buttonsBeside = true,
    .commands = kCommands,
    .menuOrder = kMenu,
    .helpTopic = u"viewdevneed.htm",
    .keyFields = kKey,
    .deleteQuestion = u"有%1条需求信息的设备号都是%2、需求部门都是%3，将全部删除。\r\n确定删除吗？",
    .deleteTakesFields = false,
    .deleteDone = u"完成操作！",
    .deleteLog = u"删除需求信息",
};

} // namespace

CViewNeedDlg::CViewNeedDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewNeed, context, parent)
{
}

} // namespace vok

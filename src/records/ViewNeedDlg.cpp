#include "records/ViewNeedDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

enum : int
{
    IDC_DELETE = 1076,
    IDC_PRINT = 1180,
    IDC_QUERY = 1189,
    IDC_EXIT = 2
};

enum : int
{
    IDC_CODE = 1073,
    IDC_BEGIN_DATE = 1074,
    IDC_END_DATE = 1075,
    IDC_DEPARTMENT = 1078,
    IDC_NEED_NUMBER = 1079,
    IDC_QUERY_VALUE = 1186,
    IDC_QUERY_OPERATOR = 1188,
    IDC_QUERY_FIELD = 1190
};

constexpr int kQueryOrder[] = {IDC_QUERY_FIELD, IDC_QUERY_OPERATOR, IDC_QUERY_VALUE};

using F = BrowserField;
// All read-only, in one column: code, department, start, end, quantity.
constexpr BrowserField kFields[] = {
    {IDC_CODE, u"设备编号", F::ReadOnly, DeviceNeedCol::code, 0, 0},
    {IDC_DEPARTMENT, u"需求部门", F::ReadOnly, DeviceNeedCol::department, 1, 0},
    {IDC_END_DATE, u"结束时间", F::ReadOnly, DeviceNeedCol::end_date, 3, 0},
    {IDC_NEED_NUMBER, u"设备数量", F::ReadOnly, DeviceNeedCol::need_number, 4, 0},
    {IDC_BEGIN_DATE, u"开始时间", F::ReadOnly, DeviceNeedCol::begin_date, 2, 0},
};
constexpr int kKey[] = {0, 1}; // device code and department

using A = BrowserAction;
// Beside the fields in two columns: delete and help, print and exit.
constexpr BrowserCommand kCommands[] = {
    {IDC_QUERY, u"查　询", u"查询", A::Query},
    {IDC_DELETE, u"删　除", u"删除", A::Delete, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 1, 0},
    {IDC_PRINT, u"打　印", u"打印", A::Print, 0, 1},
    {IDC_EXIT, u"退　出", u"退出", A::Exit, 1, 1},
};
constexpr int kMenu[] = {
    IDC_DELETE, IDC_PRINT, CommandTable::kHelp, IDC_EXIT, CommandTable::kSeparator, IDC_QUERY};

constexpr BrowserDescription kViewNeed{
    .objectName = u"CViewNeedDlg",
    .title = u"查看需求信息",
    .width = 351,
    .height = 261,
    .listId = 0,
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

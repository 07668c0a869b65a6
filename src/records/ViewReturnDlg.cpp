#include "records/ViewReturnDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Value, QueryControl::Field,
                                        QueryControl::Operator};

using F = BrowserField;
constexpr BrowserField kFields[] = {
    {u"code", u"设备编号", F::ReadOnly, DeviceReturnCol::code, 0, 0},
    {u"returnDate", u"还库日期", F::ReadOnly, DeviceReturnCol::return_date, 1, 0},
    {u"keeper", u"管理员", F::Edit, DeviceReturnCol::keeper, 2, 0},
    {u"returnNumber", u"数量", F::Edit, DeviceReturnCol::return_number, 3, 0},
    {u"returnPerson", u"归还人", F::Edit, DeviceReturnCol::return_person, 4, 0},
};
constexpr int kKey[] = {1}; // the return time

using A = BrowserAction;
// Beside the fields in three rows: modify and delete, help and print, exit.
constexpr BrowserCommand kCommands[] = {
    {CViewReturnDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CViewReturnDlg::IDC_MODIFY, u"修　改", u"修改", A::Modify, 0, 0},
    {CViewReturnDlg::IDC_DELETE, u"删　除", u"删除", A::Delete, 0, 1},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 1, 0},
    {CViewReturnDlg::IDC_PRINT, u"打　印", u"打印", A::Print, 1, 1},
    {CommandTable::kExit, u"退　出", u"退出", A::Exit, 2, 0},
};
constexpr int kMenu[] = {CViewReturnDlg::IDC_MODIFY, CViewReturnDlg::IDC_DELETE,
                         CommandTable::kHelp,        CViewReturnDlg::IDC_PRINT,
                         CommandTable::kExit,        CommandTable::kSeparator,
                         CViewReturnDlg::IDC_QUERY};

constexpr BrowserDescription kViewReturn{
    .objectName = u"CViewReturnDlg",
    .title = u"查看还库信息",
    .width = 379,
    .height = 292,
    .table = &tables::deviceReturn,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .buttonsBeside = true,
    .commands = kCommands,
    .menuOrder = kMenu,
    .helpTopic = u"viewdevret.htm",
    .keyFields = kKey,
    .deleteQuestion = u"有%1条还库信息的还库时间都是%2，将全部删除。\r\n确定删除吗？",
    .modifyDone = u"完成操作！",
    .modifyLog = u"修改还库信息",
    .deleteDone = u"完成操作！",
    .deleteLog = u"删除还库信息",
};

} // namespace

CViewReturnDlg::CViewReturnDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewReturn, context, parent)
{
}

} // namespace vok

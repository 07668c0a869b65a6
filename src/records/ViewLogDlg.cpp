#include "records/ViewLogDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

enum : int
{
    IDC_CLEAR = 1039,
    IDC_EXIT = 1
};

enum : int
{
    IDC_DATE = 1034,
    IDC_LIST = 1036,
    IDC_USER = 1037,
    IDC_WHAT = 1038
};

using F = BrowserField;
constexpr BrowserField kFields[] = {
    {IDC_USER, u"操作员", F::ReadOnly, 0, 0, 0},
    {IDC_DATE, u"日期", F::ReadOnly, 1, 1, 0},
    {IDC_WHAT, u"操作内容", F::Note, 2, 2, 0},
};

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {IDC_CLEAR, u"清空日志记录", {}, A::Clear, 0, 0},
    {CommandTable::kHelp, u"帮       助", {}, A::Help, 1, 0},
    {IDC_EXIT, u"退       出", {}, A::Exit, 2, 0},
};

constexpr BrowserDescription kViewLog{
    .objectName = u"CViewLogDlg",
    .title = u"查看操作日志",
    .width = 271,
    .height = 253,
    .listId = IDC_LIST,
    .table = &tables::howdo,
    .fields = kFields,
    .listBeside = true,
    .commands = kCommands,
    .defaultButton = IDC_EXIT,
    .helpTopic = u"viewlog.htm",
};

} // namespace

CViewLogDlg::CViewLogDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewLog, context, parent)
{
}

} // namespace vok

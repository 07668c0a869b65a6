#include "records/ViewLogDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

using F = BrowserField;
constexpr BrowserField kFields[] = {
    {u"user", u"操作员", F::ReadOnly, 0, 0, 0},
    {u"date", u"日期", F::ReadOnly, 1, 1, 0},
    {u"what", u"操作内容", F::Note, 2, 2, 0},
};

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {CViewLogDlg::IDC_CLEAR, u"清空日志记录", {}, A::Clear, 0, 0},
    {CommandTable::kHelp, u"帮       助", {}, A::Help, 1, 0},
    {CommandTable::kExit, u"退       出", {}, A::Close, 2, 0},
};

constexpr BrowserDescription kViewLog{
    .objectName = u"CViewLogDlg",
    .title = u"查看操作日志",
    .width = 271,
    .height = 253,
    .table = &tables::howdo,
    .fields = kFields,
    .listBeside = true,
    .commands = kCommands,
    .defaultButton = CommandTable::kExit,
    .helpTopic = u"viewlog.htm",
};

} // namespace

CViewLogDlg::CViewLogDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewLog, context, parent)
{
}

} // namespace vok

#include "records/ViewAdjustDlg.h"

#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Field, QueryControl::Operator,
                                        QueryControl::Value};

using F = BrowserField;
constexpr BrowserField kFields[] = {
    {u"code", u"设备号", F::ReadOnly, DeviceAdjustCol::code, 0, 0},
    {u"adjustTime", u"调整时间", F::ReadOnly, DeviceAdjustCol::adjust_time, 1, 0},
    {u"before", u"调整前数量", F::ReadOnly, DeviceAdjustCol::before_number, 2, 0},
    {u"after", u"调整后数量", F::ReadOnly, DeviceAdjustCol::after_number, 3, 0},
    {u"reason", u"原因", F::ReadOnly, DeviceAdjustCol::reason, 4, 0},
    {u"userName", u"操作员", F::ReadOnly, DeviceAdjustCol::user_name, 5, 0},
};

using A = BrowserAction;
// Beside the fields: print, help, exit.
constexpr BrowserCommand kCommands[] = {
    {CViewAdjustDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CViewAdjustDlg::IDC_PRINT, u"打　印", u"打印", A::Print, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 1, 0},
    {CommandTable::kExit, u"退　出", u"退出", A::Exit, 2, 0},
};
constexpr int kMenu[] = {CViewAdjustDlg::IDC_PRINT, CommandTable::kHelp, CommandTable::kExit,
                         CommandTable::kSeparator, CViewAdjustDlg::IDC_QUERY};

constexpr BrowserDescription kViewAdjust{
    .objectName = u"CViewAdjustDlg",
    .title = u"查看库存调整",
    .width = 379,
    .height = 292,
    .table = &tables::deviceAdjust,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .buttonsBeside = true,
    .commands = kCommands,
    .menuOrder = kMenu,
    .defaultButton = CommandTable::kExit,
    .helpTopic = u"viewadjust.htm",
};

} // namespace

CViewAdjustDlg::CViewAdjustDlg(const FormContext& context, QWidget* parent)
    : RecordBrowser(kViewAdjust, context, parent)
{
}

} // namespace vok

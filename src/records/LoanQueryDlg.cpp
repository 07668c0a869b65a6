#include "records/LoanQueryDlg.h"

#include "core/Clock.h"
#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/LoanSlip.h"
#include "core/Loans.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/HtmlPrint.h"
#include "ui/MessageService.h"
#include "ui/RunChange.h"

#include <QBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Field, QueryControl::Operator,
                                        QueryControl::Value};

using F = BrowserField;
// Each shows a column of the list.
constexpr BrowserField kFields[] = {
    {u"line", u"单号", F::ReadOnly, 0, 0, 0},       {u"code", u"设备号", F::ReadOnly, 1, 1, 0},
    {u"borrower", u"借用人", F::ReadOnly, 3, 2, 0}, {u"department", u"部门", F::ReadOnly, 4, 3, 0},
    {u"lentAt", u"借出时间", F::ReadOnly, 5, 0, 1}, {u"due", u"应还日期", F::ReadOnly, 6, 1, 1},
    {u"state", u"状态", F::ReadOnly, 9, 2, 1},
};

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {CLoanQueryDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CLoanQueryDlg::IDC_PRINT, u"打　印", u"打印", A::Print, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 1, 0},
    {CommandTable::kExit, u"退　出", u"退出", A::Exit, 2, 0},
};
constexpr int kMenu[] = {CLoanQueryDlg::IDC_PRINT, CommandTable::kHelp, CommandTable::kExit,
                         CommandTable::kSeparator, CLoanQueryDlg::IDC_QUERY};

constexpr BrowserDescription kLoanQuery{
    .objectName = u"CLoanQueryDlg",
    .title = u"借用查询",
    .width = 420,
    .height = 300,
    .table = &tables::deviceLoan,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kFields,
    .buttonsBeside = true,
    .commands = kCommands,
    .menuOrder = kMenu,
    .defaultButton = CommandTable::kExit,
    .helpTopic = u"loanquery.htm",
};

} // namespace

CLoanQueryDlg::CLoanQueryDlg(const FormContext& context, QWidget* parent, Show show)
    : RecordBrowser(kLoanQuery, context, parent), m_context(context)
{
    auto* row = new QHBoxLayout;
    const std::pair<const char16_t*, Show> filters[] = {{u"未还", Show::Open},
                                                        {u"逾期", Show::Overdue},
                                                        {u"已还", Show::Closed},
                                                        {u"全部", Show::All}};
    const char* names[] = {"openLoans", "overdueLoans", "closedLoans", "allLoans"};
    int n = 0;
    for (const auto& [caption, which] : filters) {
        auto* b = new QPushButton(QString::fromUtf16(caption), this);
        b->setObjectName(QString::fromLatin1(names[n++]));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, which = which] { showLines(which); });
        row->addWidget(b);
    }
    row->addStretch();
    QPushButton* reminder =
        commands()->add(IDC_REMINDER, QStringLiteral("reminder"), QStringLiteral("打印催还单"),
                        QStringLiteral("打印催还单"), [this] { printReminder(); });
    reminder->setAutoDefault(false);
    row->addWidget(reminder);
    if (auto* box = qobject_cast<QBoxLayout*>(layout()))
        box->insertLayout(0, row);
    readWhenOpened([this, show] {
        showLines(show);
        return true;
    });
}

void CLoanQueryDlg::showLines(Show show)
{
    switch (show) {
    case Show::Open:
        fillList(Loans::openRows());
        break;
    case Show::Overdue:
        fillList(Loans::overdueRows(m_context.connection->engine(), Clock::now().date()));
        break;
    case Show::Closed:
        fillList(Loans::closedRows());
        break;
    case Show::All:
        fillList({schema::DeviceLoan.name});
        break;
    }
}

void CLoanQueryDlg::printReminder()
{
    auto* borrowerField = qobject_cast<QLineEdit*>(field(u"borrower"));
    const QString borrower = borrowerField ? borrowerField->text().trimmed() : QString();
    if (borrower.isEmpty()) {
        Messages::notice(QStringLiteral("请先在列表中选择一笔借用。"), this);
        return;
    }
    const QDate today = Clock::now().date();
    std::vector<SlipLine> lines;
    QString department;
    if (!runChange(this, [&] {
            Connection& c = *m_context.connection;
            for (const Loans::OpenLine& l : Loans::openLines(c, borrower)) {
                if (l.borrower != borrower || l.due > today)
                    continue;
                department = l.department;
                lines.push_back({l.code, deviceName(c, l.code), FieldText::number(l.out()),
                                 l.lentAt, l.due.toString(QStringLiteral("yyyy-MM-dd")),
                                 QString::number(l.daysOverdue(today))});
            }
        }))
        return;
    if (lines.empty()) {
        Messages::notice(QStringLiteral("%1 没有到期未还的借用。").arg(borrower), this);
        return;
    }
    if (printHtml(reminderHtml(borrower, department, lines, today), this))
        writeLog(m_context, QStringLiteral("打印催还单（%1）").arg(borrower), this);
}

} // namespace vok

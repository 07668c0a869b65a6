#include "movements/LoanDlg.h"

#include "core/Clock.h"
#include "core/LoanSlip.h"
#include "core/Loans.h"
#include "core/ProgramSettings.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/HtmlPrint.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"
#include "ui/ScannedLines.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

namespace vok {

namespace {

const QString kDaysKey = QStringLiteral("loan/days");

} // namespace

CLoanDlg::CLoanDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("借用登记"), QStringLiteral("扫描或选择借用的设备"), parent)
{
    addDeviceList(QStringLiteral("借用设备"));

    m_lines = new ScannedLines(context.connection, QStringLiteral("借用清单"), this);
    m_lines->setMinimumSize(440, 150);
    addRow(QStringLiteral("借用清单"), m_lines);
    addRow(QString(), m_lines->removeButton());

    m_borrower = new QComboBox(this);
    m_borrower->setObjectName(QStringLiteral("borrower"));
    m_borrower->setEditable(true);
    m_borrower->setAccessibleName(QStringLiteral("借用人"));
    limitText(m_borrower, tables::deviceLoan, DeviceLoanCol::borrower);
    addRow(QStringLiteral("借用人"), m_borrower);
    m_department = addEdit(QStringLiteral("department"), QStringLiteral("借用部门"),
                           tables::deviceLoan, DeviceLoanCol::department);
    m_days = new QSpinBox(this);
    m_days->setObjectName(QStringLiteral("days"));
    m_days->setRange(1, 365);
    m_days->setSuffix(QStringLiteral(" 天"));
    m_days->setAccessibleName(QStringLiteral("借用天数"));
    m_days->setValue(programSettings().value(kDaysKey, 7).toInt());
    addRow(QStringLiteral("借用天数"), m_days);
    m_due = addDatePicker(QStringLiteral("due"), QStringLiteral("应还日期"));
    m_due->setMinimumDate(Clock::now().date());
    setDueFromDays();
    connect(m_days, &QSpinBox::valueChanged, this, &CLoanDlg::setDueFromDays);
    m_handler = addEdit(QStringLiteral("handler"), QStringLiteral("经手人"), tables::deviceLoan,
                        DeviceLoanCol::handler);
    m_handler->setText(context.userName);
    m_note = addMultiLineEdit(QStringLiteral("note"), QStringLiteral("备注"));
    limitText(m_note, tables::deviceLoan, DeviceLoanCol::note);
    addButtons(IDC_CONFIRM, QStringLiteral("loan.htm"));
}

void CLoanDlg::showEvent(QShowEvent* event)
{
    EntryForm::showEvent(event);
    if (m_borrowersRead)
        return;
    m_borrowersRead = true;
    runChange(this, [&] {
        const QString typed = m_borrower->currentText();
        m_borrower->addItems(Loans::borrowers(connection()));
        m_borrower->setEditText(typed);
    });
}

void CLoanDlg::setDueFromDays()
{
    m_due->setDate(Clock::now().date().addDays(m_days->value()));
}

// A scan (or a choice from the list) adds one unit; the scan field keeps
// the focus for the next.
void CLoanDlg::deviceListClosedUp()
{
    m_lines->addScanned(lookUpCode(), deviceList());
}

void CLoanDlg::confirm()
{
    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    Loans::LoanSlip slip;
    slip.borrower = m_borrower->currentText().trimmed();
    slip.department = m_department->text().trimmed();
    slip.due = m_due->date();
    slip.handler = m_handler->text().trimmed();
    slip.note = m_note->toPlainText();
    const auto lines = m_lines->checkedLines(tables::deviceLoan.rule(DeviceLoanCol::loan_number));
    if (!lines)
        return;
    for (const ScannedLines::Line& line : *lines)
        slip.lines.push_back({line.code, line.quantity});
    if (const QString problem = Loans::slipProblem(slip); !problem.isEmpty()) {
        Messages::notice(problem, this);
        return;
    }

    Loans::LendResult lent;
    if (!runChange(this, [&] { lent = Loans::lend(connection(), context().classNumber, slip); }))
        return;
    if (!lent.problem.isEmpty()) {
        Messages::notice(lent.problem, this);
        return;
    }
    programSettings().setValue(kDaysKey, m_days->value());

    LoanSlipText text{lent.loanId, slip.borrower, slip.department, lent.lentAt,
                      slip.due,    slip.handler,  slip.note,       {}};
    for (const ScannedLines::Line& line : *lines)
        text.lines.push_back({line.code, line.name, line.quantityText, {}, {}, {}});
    printHtml(loanSlipHtml(text), this);
    completeEntry(QStringLiteral("添加借用信息（借用单 %1）").arg(lent.loanId));
}

} // namespace vok

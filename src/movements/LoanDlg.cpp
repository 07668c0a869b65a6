#include "movements/LoanDlg.h"

#include "core/Clock.h"
#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/LoanSlip.h"
#include "core/Loans.h"
#include "core/ProgramSettings.h"
#include "core/StockChange.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/HtmlPrint.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

namespace vok {

namespace {

enum Column
{
    Code,
    Name,
    Quantity,
    OnHand
};

const QString kDaysKey = QStringLiteral("loan/days");

} // namespace

CLoanDlg::CLoanDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("借用登记"), QStringLiteral("扫描或选择借用的设备"), parent)
{
    addDeviceList(QStringLiteral("借用设备"));

    m_lines = new QTableWidget(0, 4, this);
    m_lines->setObjectName(QStringLiteral("lines"));
    m_lines->setAccessibleName(QStringLiteral("借用清单"));
    m_lines->setHorizontalHeaderLabels({QStringLiteral("设备号"), QStringLiteral("设备名"),
                                        QStringLiteral("数量"), QStringLiteral("现有库存")});
    m_lines->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    m_lines->verticalHeader()->hide();
    m_lines->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lines->setMinimumSize(440, 150);
    addRow(QStringLiteral("借用清单"), m_lines);
    auto* remove = new QPushButton(QStringLiteral("移除所选行"), this);
    remove->setObjectName(QStringLiteral("removeLine"));
    remove->setAutoDefault(false);
    connect(remove, &QPushButton::clicked, this, &CLoanDlg::removeLine);
    addRow(QString(), remove);

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
    const QString code = lookUpCode();
    if (code.isEmpty())
        return;
    addUnit(code);
    QTimer::singleShot(0, deviceList(), [list = deviceList()] { list->setFocus(); });
}

void CLoanDlg::addUnit(const QString& code)
{
    for (int row = 0; row < m_lines->rowCount(); ++row) {
        QTableWidgetItem* quantity = m_lines->item(row, Quantity);
        if (m_lines->item(row, Code)->text() != code)
            continue;
        const auto n = FieldText::parseNumber(quantity->text());
        quantity->setText(FieldText::number(n.value_or(0) + 1));
        m_lines->selectRow(row);
        return;
    }
    QString name;
    float onHand = 0;
    if (!runChange(this, [&] {
            name = deviceName(connection(), code);
            onHand = readStock(connection(), code).now;
        }))
        return;
    const int row = m_lines->rowCount();
    m_lines->insertRow(row);
    auto fixed = [](const QString& text) {
        auto* item = new QTableWidgetItem(text);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        return item;
    };
    m_lines->setItem(row, Code, fixed(code));
    m_lines->setItem(row, Name, fixed(name));
    m_lines->setItem(row, Quantity, new QTableWidgetItem(QStringLiteral("1")));
    m_lines->setItem(row, OnHand, fixed(FieldText::number(onHand)));
    m_lines->selectRow(row);
}

void CLoanDlg::removeLine()
{
    const int row = m_lines->currentRow();
    if (row >= 0)
        m_lines->removeRow(row);
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
    for (int row = 0; row < m_lines->rowCount(); ++row) {
        Loans::LoanLine line{m_lines->item(row, Code)->text(), 0};
        const QString problem =
            FieldCheck::numberProblem(m_lines->item(row, Quantity)->text(), line.quantity,
                                      tables::deviceLoan.rule(DeviceLoanCol::loan_number));
        if (!problem.isEmpty()) {
            Messages::notice(QStringLiteral("设备 %1 的数量：%2").arg(line.code, problem), this);
            m_lines->setCurrentCell(row, Quantity);
            m_lines->setFocus();
            return;
        }
        slip.lines.push_back(line);
    }
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
    for (int row = 0; row < m_lines->rowCount(); ++row)
        text.lines.push_back({m_lines->item(row, Code)->text(),
                              m_lines->item(row, Name)->text(),
                              m_lines->item(row, Quantity)->text(),
                              {},
                              {},
                              {}});
    printHtml(loanSlipHtml(text), this);
    completeEntry(QStringLiteral("添加借用信息（借用单 %1）").arg(lent.loanId));
}

} // namespace vok

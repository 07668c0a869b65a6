#include "movements/LoanReturnDlg.h"

#include "core/Clock.h"
#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vok {

namespace {

QTableWidget* makeTable(const QString& name, const QString& label, const QStringList& headings,
                        QWidget* parent)
{
    auto* t = new QTableWidget(0, int(headings.size()), parent);
    t->setObjectName(name);
    t->setAccessibleName(label);
    t->setHorizontalHeaderLabels(headings);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The device's name takes the room left.
    t->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    return t;
}

void fill(QTableWidget* t, const QList<QStringList>& rows)
{
    t->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            t->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    if (!rows.isEmpty())
        t->selectRow(0);
}

QString dayText(const QDate& d)
{
    return d.toString(QStringLiteral("yyyy-MM-dd"));
}

QLineEdit* edit(const QString& name, const QString& label, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setAccessibleName(label);
    return e;
}

} // namespace

CLoanReturnDlg::CLoanReturnDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("归还登记"));
    applyProgramStyle(this);

    m_scan = edit(QStringLiteral("scan"), QStringLiteral("设备号或借用人"), this);
    m_scan->setPlaceholderText(QStringLiteral("扫描设备条码，或输入借用人后按回车"));
    connect(m_scan, &QLineEdit::returnPressed, this, &CLoanReturnDlg::lookUp);

    m_open =
        makeTable(QStringLiteral("openLoans"), QStringLiteral("未还借用"),
                  {QStringLiteral("单号"), QStringLiteral("设备号"), QStringLiteral("设备名"),
                   QStringLiteral("借用人"), QStringLiteral("借出时间"), QStringLiteral("应还日期"),
                   QStringLiteral("逾期天数"), QStringLiteral("未还数量")},
                  this);
    connect(m_open, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = m_open->currentRow();
        if (row >= 0 && size_t(row) < m_lines.size())
            m_quantity->setText(FieldText::number(m_lines[size_t(row)].out()));
    });
    m_quantity = edit(QStringLiteral("quantity"), QStringLiteral("归还数量"), this);
    connect(m_quantity, &QLineEdit::returnPressed, this, &CLoanReturnDlg::save);
    m_condition = new QComboBox(this);
    m_condition->setObjectName(QStringLiteral("condition"));
    m_condition->setAccessibleName(QStringLiteral("状况"));
    m_condition->addItems({QStringLiteral("完好"), QStringLiteral("损坏")});
    m_newDue = new QDateEdit(Clock::now().date().addDays(7), this);
    m_newDue->setObjectName(QStringLiteral("newDue"));
    m_newDue->setAccessibleName(QStringLiteral("新的应还日期"));
    m_newDue->setDisplayFormat(QStringLiteral("yyyy-M-d"));
    m_newDue->setCalendarPopup(true);
    auto* status = new QLabel(this);
    status->setObjectName(QStringLiteral("status"));

    auto* returns = new QGroupBox(QStringLiteral("归还"), this);
    auto* rg = new QGridLayout(returns);
    rg->addWidget(new QLabel(QStringLiteral("设备号或借用人"), returns), 0, 0);
    rg->addWidget(m_scan, 0, 1, 1, 5);
    rg->addWidget(m_open, 1, 0, 1, 6);
    rg->addWidget(new QLabel(QStringLiteral("归还数量"), returns), 2, 0);
    rg->addWidget(m_quantity, 2, 1);
    rg->addWidget(new QLabel(QStringLiteral("状况"), returns), 2, 2);
    rg->addWidget(m_condition, 2, 3);
    rg->addWidget(m_commands->add(IDC_SAVE, QStringLiteral("save"), QStringLiteral("保存(回车)"),
                                  QStringLiteral("保存归还"), [this] { save(); }),
                  2, 4);
    rg->addWidget(new QLabel(QStringLiteral("新的应还日期"), returns), 3, 0);
    rg->addWidget(m_newDue, 3, 1);
    rg->addWidget(m_commands->add(IDC_EXTEND, QStringLiteral("extend"), QStringLiteral("延　期"),
                                  QStringLiteral("延期"), [this] { extendDue(); }),
                  3, 2);
    rg->addWidget(status, 4, 0, 1, 6);

    m_repairs =
        makeTable(QStringLiteral("repairs"), QStringLiteral("待修"),
                  {QStringLiteral("单号"), QStringLiteral("设备号"), QStringLiteral("设备名"),
                   QStringLiteral("借用人"), QStringLiteral("待修数量")},
                  this);
    m_repairQuantity = edit(QStringLiteral("repairQuantity"), QStringLiteral("数量"), this);
    m_repairQuantity->setText(QStringLiteral("1"));
    m_reason = edit(QStringLiteral("reason"), QStringLiteral("报废原因"), this);
    limitText(m_reason, tables::deviceLoanEvent, DeviceLoanEventCol::note);
    auto* repairs = new QGroupBox(QStringLiteral("待修"), this);
    auto* pg = new QGridLayout(repairs);
    pg->addWidget(m_repairs, 0, 0, 1, 6);
    pg->addWidget(new QLabel(QStringLiteral("数量"), repairs), 1, 0);
    pg->addWidget(m_repairQuantity, 1, 1);
    pg->addWidget(m_commands->add(IDC_REPAIR, QStringLiteral("repair"), QStringLiteral("修复入库"),
                                  QStringLiteral("修复入库"), [this] { settleRepairs(false); }),
                  1, 2);
    pg->addWidget(new QLabel(QStringLiteral("报废原因"), repairs), 1, 3);
    pg->addWidget(m_reason, 1, 4);
    pg->addWidget(m_commands->add(IDC_WRITE_OFF, QStringLiteral("writeOff"),
                                  QStringLiteral("报　废"), QStringLiteral("报废"),
                                  [this] { settleRepairs(true); }),
                  1, 5);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(
        m_commands->addHelp(QStringLiteral("帮　助"), QStringLiteral("loanreturn.htm")));
    buttons->addWidget(m_commands->add(CommandTable::kExit, QStringLiteral("exit"),
                                       QStringLiteral("退　出"), QStringLiteral("退出"),
                                       [this] { reject(); }));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(returns, 3);
    layout->addWidget(repairs, 2);
    layout->addLayout(buttons);
    // Enter belongs to the scan and quantity fields: no button takes it.
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    resize(760, 560);
    m_scan->setFocus();
    readWhenOpened([this] { return readRepairs(); });
}

bool CLoanReturnDlg::refused()
{
    return refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this);
}

void CLoanReturnDlg::logged(const QString& text)
{
    writeLog(m_context, text, this);
    findChild<QLabel*>(QStringLiteral("status"))->setText(text);
}

void CLoanReturnDlg::lookUp()
{
    const QString key = m_scan->text().trimmed();
    if (key.isEmpty())
        return;
    std::vector<Loans::OpenLine> lines;
    if (!runChange(this, [&] { lines = Loans::openLines(*m_context.connection, key); }))
        return;
    if (lines.empty()) {
        Messages::notice(QStringLiteral("“%1”没有未还的借用。").arg(key), this);
        m_scan->selectAll();
        m_scan->setFocus();
        return;
    }
    m_key = key;
    m_lines = std::move(lines);
    showOpen();
    m_quantity->setFocus();
    m_quantity->selectAll();
}

void CLoanReturnDlg::readOpen()
{
    runChange(this, [&] { m_lines = Loans::openLines(*m_context.connection, m_key); });
    showOpen();
}

void CLoanReturnDlg::showOpen()
{
    const QDate today = Clock::now().date();
    QList<QStringList> rows;
    for (const Loans::OpenLine& l : m_lines) {
        QString name;
        runChange(this, [&] { name = deviceName(*m_context.connection, l.code); });
        rows << QStringList{l.line,
                            l.code,
                            name,
                            l.borrower,
                            l.lentAt,
                            dayText(l.due),
                            QString::number(l.daysOverdue(today)),
                            FieldText::number(l.out())};
    }
    fill(m_open, rows);
    if (!m_lines.empty())
        m_quantity->setText(FieldText::number(m_lines.front().out()));
}

bool CLoanReturnDlg::readRepairs()
{
    return runChange(this, [&] {
        m_awaiting = Loans::awaitingRepair(*m_context.connection);
        QList<QStringList> rows;
        for (const Loans::OpenLine& l : m_awaiting)
            rows << QStringList{l.line, l.code, deviceName(*m_context.connection, l.code),
                                l.borrower, FieldText::number(l.awaitingRepair())};
        fill(m_repairs, rows);
    });
}

QString CLoanReturnDlg::chosenLine(QTableWidget* table, const std::vector<Loans::OpenLine>& lines)
{
    const int row = table->currentRow();
    if (row < 0 || size_t(row) >= lines.size()) {
        Messages::notice(QStringLiteral("请先选择一笔借用。"), this);
        return {};
    }
    return lines[size_t(row)].line;
}

bool CLoanReturnDlg::takeQuantity(QLineEdit* edit, float& quantity)
{
    const QString problem = FieldCheck::numberProblem(
        edit->text(), quantity, tables::deviceLoanEvent.rule(DeviceLoanEventCol::event_number));
    if (problem.isEmpty())
        return true;
    Messages::notice(problem, this);
    edit->selectAll();
    edit->setFocus();
    return false;
}

bool CLoanReturnDlg::runStep(const std::function<QString()>& step, QWidget* retry)
{
    QString problem;
    if (!runChange(this, [&] { problem = step(); }))
        return false;
    if (problem.isEmpty())
        return true;
    Messages::notice(problem, this);
    if (retry) {
        if (auto* edit = qobject_cast<QLineEdit*>(retry))
            edit->selectAll();
        retry->setFocus();
    }
    return false;
}

void CLoanReturnDlg::save()
{
    if (refused())
        return;
    const QString line = chosenLine(m_open, m_lines);
    float quantity = 0;
    if (line.isEmpty() || !takeQuantity(m_quantity, quantity))
        return;
    const bool good = m_condition->currentIndex() == 0;
    if (!runStep(
            [&] {
                return Loans::giveBack(*m_context.connection, m_context.classNumber, line, quantity,
                                       good ? Loans::Condition::Good : Loans::Condition::Damaged,
                                       m_context.userName);
            },
            m_quantity))
        return;
    logged(QStringLiteral("归还借用 %1：%2 件%3")
               .arg(line, FieldText::number(quantity),
                    good ? QStringLiteral("完好") : QStringLiteral("损坏，待修")));
    // Ready for the next scan; what is still out of the same device or
    // borrower stays listed.
    readOpen();
    readRepairs();
    m_condition->setCurrentIndex(0);
    m_scan->clear();
    m_scan->setFocus();
}

void CLoanReturnDlg::extendDue()
{
    if (refused())
        return;
    const QString line = chosenLine(m_open, m_lines);
    if (line.isEmpty())
        return;
    if (!runStep([&] {
            return Loans::extend(*m_context.connection, m_context.classNumber, line,
                                 m_newDue->date(), m_context.userName);
        }))
        return;
    logged(QStringLiteral("借用 %1 延期至 %2").arg(line, dayText(m_newDue->date())));
    readOpen();
}

void CLoanReturnDlg::settleRepairs(bool writeOff)
{
    if (refused())
        return;
    const QString line = chosenLine(m_repairs, m_awaiting);
    float quantity = 0;
    if (line.isEmpty() || !takeQuantity(m_repairQuantity, quantity))
        return;
    const QString reason = m_reason->text();
    if (!runStep(
            [&] {
                Connection& db = *m_context.connection;
                return writeOff ? Loans::writeOff(db, m_context.classNumber, line, quantity, reason,
                                                  m_context.userName)
                                : Loans::repair(db, m_context.classNumber, line, quantity,
                                                m_context.userName);
            },
            writeOff ? m_reason : nullptr))
        return;
    const QString units = FieldText::number(quantity);
    if (writeOff) {
        logged(QStringLiteral("借用 %1 报废 %2 件：%3").arg(line, units, reason.trimmed()));
        m_reason->clear();
    } else {
        logged(QStringLiteral("借用 %1 修复入库 %2 件").arg(line, units));
    }
    readRepairs();
}

} // namespace vok

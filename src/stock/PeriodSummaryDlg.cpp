#include "stock/PeriodSummaryDlg.h"

#include "core/Clock.h"
#include "db/DbError.h"
#include "db/MemoryRowSet.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace vok {

namespace {

// Fills a list with rows in their order: the list puts every row read at
// the top.
void fillList(RecordListView& list, const QList<QStringList>& rows)
{
    QList<QStringList> reversed(rows.crbegin(), rows.crend());
    MemoryRowSet set(std::move(reversed));
    list.records()->fill(set);
}

// A report of rows of texts under a title of the form's own.
void printRows(const QList<QStringList>& rows, const ReportLayout& layout, const QString& title,
               const QString& userName, QWidget* parent)
{
    ReportLayout titled = layout;
    titled.title = title;
    titled.underlineEnd = PeriodSummary::titleEnd(title);
    printTableReport(
        int(rows.size()), [&rows](int r, int c) { return rows.at(r).value(c); }, titled, userName,
        parent);
}

QDateEdit* dateEdit(const QDate& date, const QString& name, const QString& format, QWidget* parent)
{
    auto* edit = new QDateEdit(date, parent);
    edit->setObjectName(name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(format);
    return edit;
}

} // namespace

CDeviceLedgerDlg::CDeviceLedgerDlg(const FormContext& context, const QString& code,
                                   const QString& name, const QDate& from, const QDate& to,
                                   QWidget* parent)
    : FormDialog(parent), m_context(context), m_code(code), m_from(from), m_to(to),
      m_commands(new CommandTable(this))
{
    m_device = QStringLiteral("%1 %2").arg(code, name);
    m_title = PeriodSummary::rangeName(from, to) + QStringLiteral("明细账");
    setWindowTitle(
        QStringLiteral("设备明细账 %1（%2）").arg(m_device, PeriodSummary::rangeName(from, to)));
    m_list = new RecordListView(PeriodSummary::ledgerColumns(), this);
    m_list->setObjectName(QStringLiteral("ledger"));
    m_list->setColumnShares({7, 4, 12, 3, 4, 3, 4}, 37);
    QPushButton* print =
        m_commands->add(IDC_PRINT, QStringLiteral("print"), QStringLiteral("打　　印"),
                        QStringLiteral("打印"), [this] { this->print(); });
    QPushButton* exportButton = m_commands->add(
        IDC_EXPORT, QStringLiteral("export"), QStringLiteral("导　　出..."),
        QStringLiteral("导出..."), [this] {
            exportWithDialog(PeriodSummary::exportSource(PeriodSummary::ledgerColumns(), m_rows),
                             QStringLiteral("设备明细账 %1").arg(m_code), this);
        });
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("summary.htm"));
    QPushButton* exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    exit->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {print, exportButton, help, exit})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    resize(900, 480);
    readWhenOpened([this] { return read(); });
}

bool CDeviceLedgerDlg::read()
{
    try {
        m_rows = PeriodSummary::ledgerTexts(
            PeriodSummary::ledger(*m_context.connection, m_code, m_from, m_to));
    } catch (const DbError& e) {
        showComError(e, this);
        return false;
    }
    // The opening line names the device, on the list and on paper.
    if (!m_rows.isEmpty())
        m_rows.first()[2] = QStringLiteral("设备：") + m_device;
    fillList(*m_list, m_rows);
    return true;
}

void CDeviceLedgerDlg::print()
{
    printRows(m_rows, PeriodSummary::ledgerReport(), m_title, m_context.userName, this);
}

CPeriodSummaryDlg::CPeriodSummaryDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("收发存汇总"));
    const QDate today = Clock::now().date();
    const QDate lastMonth = QDate(today.year(), today.month(), 1).addMonths(-1);

    m_byMonth = new QRadioButton(QStringLiteral("月份(&M)"), this);
    m_byMonth->setObjectName(QStringLiteral("byMonth"));
    m_byMonth->setChecked(true);
    m_byDays = new QRadioButton(QStringLiteral("日期从(&F)"), this);
    m_byDays->setObjectName(QStringLiteral("byDays"));
    m_month = dateEdit(lastMonth, QStringLiteral("month"), QStringLiteral("yyyy年M月"), this);
    m_from = dateEdit(lastMonth, QStringLiteral("from"), QStringLiteral("yyyy-MM-dd"), this);
    m_to = dateEdit(lastMonth.addMonths(1).addDays(-1), QStringLiteral("to"),
                    QStringLiteral("yyyy-MM-dd"), this);
    m_prefix = new QLineEdit(this);
    m_prefix->setObjectName(QStringLiteral("prefix"));
    m_prefix->setMaxLength(9);
    m_includeIdle = new QCheckBox(QStringLiteral("包括无库存无发生的设备(&I)"), this);
    m_includeIdle->setObjectName(QStringLiteral("includeIdle"));
    m_closed = new QLabel(this);
    m_closed->setObjectName(QStringLiteral("closedMonth"));
    const auto enableDates = [this] {
        m_month->setEnabled(m_byMonth->isChecked());
        m_from->setEnabled(m_byDays->isChecked());
        m_to->setEnabled(m_byDays->isChecked());
    };
    connect(m_byMonth, &QRadioButton::toggled, this, enableDates);
    enableDates();

    m_list = new RecordListView(PeriodSummary::columns(), this);
    m_list->setObjectName(QStringLiteral("summary"));
    m_list->setColumnShares({3, 5, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 3}, 61);
    m_list->installEventFilter(this);
    connect(m_list, &QAbstractItemView::doubleClicked, this,
            [this] { openLedger(m_list->currentRow()); });

    QPushButton* countButton =
        m_commands->add(IDC_COUNT, QStringLiteral("count"), QStringLiteral("统　　计"),
                        QStringLiteral("统计"), [this] { count(); });
    QPushButton* ledger =
        m_commands->add(IDC_LEDGER, QStringLiteral("ledger"), QStringLiteral("明细账"),
                        QStringLiteral("明细账"), [this] { openLedger(m_list->currentRow()); });
    QPushButton* closeButton =
        m_commands->add(IDC_CLOSE_MONTH, QStringLiteral("closeMonth"), QStringLiteral("月　　结"),
                        QStringLiteral("月结"), [this] { closeMonth(); });
    QPushButton* reopen =
        m_commands->add(IDC_REOPEN, QStringLiteral("reopen"), QStringLiteral("反结账"),
                        QStringLiteral("反结账"), [this] { reopenMonth(); });
    QPushButton* printButton =
        m_commands->add(IDC_PRINT, QStringLiteral("print"), QStringLiteral("打　　印"),
                        QStringLiteral("打印"), [this] { print(); });
    QPushButton* exportButton = m_commands->add(
        IDC_EXPORT, QStringLiteral("export"), QStringLiteral("导　　出..."),
        QStringLiteral("导出..."), [this] {
            exportWithDialog(PeriodSummary::exportSource(PeriodSummary::columns(), m_rows), m_title,
                             this);
        });
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("summary.htm"));
    QPushButton* exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    exit->setDefault(true);
    m_commands->setMenuOrder({IDC_COUNT, IDC_LEDGER, CommandTable::kSeparator, IDC_PRINT,
                              IDC_EXPORT, CommandTable::kSeparator, IDC_CLOSE_MONTH, IDC_REOPEN,
                              CommandTable::kSeparator, CommandTable::kHelp, CommandTable::kExit});

    auto* prefixLabel = new QLabel(QStringLiteral("设备号开头(&P)"), this);
    prefixLabel->setBuddy(m_prefix);
    auto* toLabel = new QLabel(QStringLiteral("到(&T)"), this);
    toLabel->setBuddy(m_to);
    auto* top = new QHBoxLayout;
    top->addWidget(m_byMonth);
    top->addWidget(m_month);
    top->addSpacing(12);
    top->addWidget(m_byDays);
    top->addWidget(m_from);
    top->addWidget(toLabel);
    top->addWidget(m_to);
    top->addSpacing(12);
    top->addWidget(prefixLabel);
    top->addWidget(m_prefix);
    top->addWidget(countButton);
    m_closed->setMinimumWidth(240);
    m_closed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* second = new QHBoxLayout;
    second->addWidget(m_includeIdle);
    second->addStretch(1);
    second->addWidget(m_closed);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ledger);
    buttons->addWidget(closeButton);
    buttons->addWidget(reopen);
    buttons->addStretch(1);
    for (QPushButton* b : {printButton, exportButton, help, exit})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(second);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    resize(1180, 560);

    const QList<QWidget*> order{m_byMonth,   m_month,       m_byDays, m_from, m_to,        m_prefix,
                                countButton, m_includeIdle, m_list,   ledger, closeButton, reopen,
                                printButton, exportButton,  help,     exit};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    readWhenOpened([this] { return count(); });
}

CPeriodSummaryDlg::Range CPeriodSummaryDlg::range() const
{
    if (m_byMonth->isChecked()) {
        const QDate first(m_month->date().year(), m_month->date().month(), 1);
        return {first, first.addMonths(1).addDays(-1)};
    }
    return {m_from->date(), m_to->date()};
}

bool CPeriodSummaryDlg::count()
{
    const Range r = range();
    if (r.from > r.to) {
        Messages::notice(QStringLiteral("开始日期不能晚于结束日期!"), this, QStringLiteral("警告!"),
                         Messages::Icon::Exclamation);
        return false;
    }
    try {
        m_summary = PeriodSummary::read(*m_context.connection, r.from, r.to, m_prefix->text(),
                                        m_includeIdle->isChecked());
    } catch (const DbError& e) {
        showComError(e, this);
        return false;
    }
    m_counted = r;
    m_rows = PeriodSummary::texts(m_summary);
    m_title = PeriodSummary::rangeName(r.from, r.to) + QStringLiteral("收发存汇总表");
    fillList(*m_list, m_rows);
    showClosed();
    return true;
}

void CPeriodSummaryDlg::showClosed()
{
    try {
        const auto last = PeriodClose::lastClosed(*m_context.connection);
        m_closed->setText(last ? QStringLiteral("已月结至 %1").arg(monthName(*last))
                               : QStringLiteral("尚未月结"));
    } catch (const DbError& e) {
        showComError(e, this);
    }
}

void CPeriodSummaryDlg::openLedger(int row)
{
    if (row < 0 || size_t(row) >= m_summary.rows.size()) {
        Messages::notice(QStringLiteral("请先在列表中选择一种设备!"), this);
        return;
    }
    const PeriodRow& device = m_summary.rows[size_t(row)];
    if (m_ledger)
        m_ledger->close();
    m_ledger = new CDeviceLedgerDlg(m_context, device.code, device.name, m_counted.from,
                                    m_counted.to, this);
    m_ledger->setAttribute(Qt::WA_DeleteOnClose);
    m_ledger->show();
}

bool CPeriodSummaryDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openLedger(m_list->currentRow());
            return true;
        }
    }
    return FormDialog::eventFilter(watched, event);
}

void CPeriodSummaryDlg::closeMonth()
{
    if (const QString refusal = PeriodClose::mayClose(m_context.classNumber); !refusal.isEmpty()) {
        Messages::notice(refusal, this, QStringLiteral("警告!"), Messages::Icon::Exclamation);
        return;
    }
    try {
        const auto month = PeriodClose::nextToClose(*m_context.connection, Clock::now().date());
        if (!month) {
            Messages::notice(QStringLiteral("没有可以月结的月份：上月及以前的月份都已月结。"),
                             this);
            return;
        }
        if (Messages::show(QStringLiteral("确实要对%1进行月结吗？\r\n月结后不能再录入、修改或删除"
                                          "该月及以前的入库、出库、退库和库存调整记录。")
                               .arg(monthName(*month)),
                           QStringLiteral("月结"), Messages::Icon::Question,
                           Messages::Buttons::YesNo, this) != Messages::Answer::Yes)
            return;
        const QDate closed = PeriodClose::close(*m_context.connection, m_context.classNumber,
                                                m_context.userName, Clock::now().date());
        Messages::notice(QStringLiteral("%1已月结。").arg(monthName(closed)), this);
    } catch (const DbError& e) {
        showComError(e, this);
    }
    count();
}

void CPeriodSummaryDlg::reopenMonth()
{
    if (const QString refusal = PeriodClose::mayReopen(m_context.classNumber); !refusal.isEmpty()) {
        Messages::notice(refusal, this, QStringLiteral("警告!"), Messages::Icon::Exclamation);
        return;
    }
    try {
        const auto month = PeriodClose::lastClosed(*m_context.connection);
        if (!month) {
            Messages::notice(QStringLiteral("还没有月结过的月份。"), this);
            return;
        }
        if (Messages::show(QStringLiteral("确实要对%1反结账吗？\r\n反结账后该月的记录可以再录入和"
                                          "修改，需要时请重新月结。")
                               .arg(monthName(*month)),
                           QStringLiteral("反结账"), Messages::Icon::Question,
                           Messages::Buttons::YesNo, this) != Messages::Answer::Yes)
            return;
        const QDate reopened =
            PeriodClose::reopen(*m_context.connection, m_context.classNumber, m_context.userName);
        Messages::notice(QStringLiteral("%1已反结账。").arg(monthName(reopened)), this);
    } catch (const DbError& e) {
        showComError(e, this);
    }
    count();
}

void CPeriodSummaryDlg::print()
{
    printRows(m_rows, PeriodSummary::report(), m_title, m_context.userName, this);
}

} // namespace vok

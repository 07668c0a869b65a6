#include "movements/TransferInDlg.h"

#include "core/FieldCheck.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"
#include "ui/ScannedLines.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vok {

namespace {

enum LineColumn
{
    Number,
    Code,
    Name,
    UnitCost,
    Sent,
    Received,
    Reason
};

QString quantityText(double q)
{
    return QLocale::c().toString(q, 'g', 12);
}

QTableWidget* makeTable(const QString& name, const QString& label, const QStringList& headings,
                        int stretch, QWidget* parent)
{
    auto* t = new QTableWidget(0, int(headings.size()), parent);
    t->setObjectName(name);
    t->setAccessibleName(label);
    t->setHorizontalHeaderLabels(headings);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setSectionResizeMode(stretch, QHeaderView::Stretch);
    return t;
}

} // namespace

CTransferInDlg::CTransferInDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("调拨入库"));
    applyProgramStyle(this);

    m_pending = makeTable(QStringLiteral("pending"), QStringLiteral("待接收的调拨"),
                          {QStringLiteral("调拨单号"), QStringLiteral("调出部门"),
                           QStringLiteral("调出时间"), QStringLiteral("调出人"),
                           QStringLiteral("种数"), QStringLiteral("件数"), QStringLiteral("备注")},
                          6, this);
    m_pending->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_pending, &QTableWidget::itemSelectionChanged, this, &CTransferInDlg::showLines);

    m_lines = makeTable(QStringLiteral("lines"), QStringLiteral("调拨明细"),
                        {QStringLiteral("行号"), QStringLiteral("设备号"), QStringLiteral("设备名"),
                         QStringLiteral("单价"), QStringLiteral("调出数量"),
                         QStringLiteral("实收数量"), QStringLiteral("差异原因")},
                        Reason, this);
    m_lines->setEditTriggers(QAbstractItemView::AllEditTriggers);
    m_lines->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_lines->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));

    auto* waiting = new QGroupBox(QStringLiteral("待接收的调拨"), this);
    auto* wg = new QVBoxLayout(waiting);
    auto* pendingLabel = new QLabel(QStringLiteral("调拨单(&T)"), waiting);
    pendingLabel->setBuddy(m_pending);
    wg->addWidget(pendingLabel);
    wg->addWidget(m_pending);

    auto* detail = new QGroupBox(QStringLiteral("调拨明细"), this);
    auto* dg = new QVBoxLayout(detail);
    auto* linesLabel =
        new QLabel(QStringLiteral("逐行填写实收数量；与调出数量不同时填写差异原因(&L)"), detail);
    linesLabel->setBuddy(m_lines);
    dg->addWidget(linesLabel);
    dg->addWidget(m_lines);
    dg->addWidget(m_status);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* receive =
        m_commands->add(IDC_RECEIVE, QStringLiteral("confirm"), QStringLiteral("确认接收"),
                        QStringLiteral("确认接收"), [this] { this->receive(); });
    buttons->addWidget(receive);
    buttons->addWidget(
        m_commands->addHelp(QStringLiteral("帮　助"), QStringLiteral("transferin.htm")));
    QPushButton* exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    buttons->addWidget(exit);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(waiting, 2);
    layout->addWidget(detail, 3);
    layout->addLayout(buttons);
    // Enter belongs to the cells being typed in: no button takes it.
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    setTabOrder(m_pending, m_lines);
    setTabOrder(m_lines, receive);
    resize(780, 560);
    m_pending->setFocus();
    readWhenOpened([this] { return readWaiting(); });
}

transfer::Opener CTransferInDlg::opener() const
{
    if (m_context.openDepartment)
        return m_context.openDepartment;
    return [](const QString&) -> ConnectionPtr { return nullptr; };
}

bool CTransferInDlg::readWaiting()
{
    if (!runChange(this, [&] { m_waiting = transfer::waiting(*m_context.connection); }))
        return false;
    m_pending->clearContents();
    m_pending->setRowCount(int(m_waiting.size()));
    for (int r = 0; r < int(m_waiting.size()); ++r) {
        const transfer::Transfer& t = m_waiting[size_t(r)];
        double units = 0;
        for (const transfer::Line& l : t.lines)
            units += l.quantity;
        const QStringList cells{
            t.id,  t.from, t.sentAt, t.sender, QString::number(t.lines.size()), quantityText(units),
            t.note};
        for (int c = 0; c < cells.size(); ++c)
            m_pending->setItem(r, c, lineCell(cells[c], false, c == 4 || c == 5));
    }
    m_status->setText(transfer::waitingText(int(m_waiting.size())));
    if (m_waiting.empty())
        showLines();
    else
        m_pending->selectRow(0);
    return true;
}

void CTransferInDlg::showLines()
{
    const int row = m_pending->currentRow();
    m_lines->clearContents();
    if (row < 0 || row >= int(m_waiting.size())) {
        m_lines->setRowCount(0);
        return;
    }
    const transfer::Transfer& t = m_waiting[size_t(row)];
    m_lines->setRowCount(int(t.lines.size()));
    for (int r = 0; r < int(t.lines.size()); ++r) {
        const transfer::Line& l = t.lines[size_t(r)];
        m_lines->setItem(r, Number, lineCell(QString::number(l.number), false, true));
        m_lines->setItem(r, Code, lineCell(l.code, false));
        m_lines->setItem(r, Name, lineCell(l.name, false));
        m_lines->setItem(r, UnitCost, lineCell(l.unitCost, false, true));
        m_lines->setItem(r, Sent, lineCell(quantityText(l.quantity), false, true));
        m_lines->setItem(r, Received, lineCell(quantityText(l.quantity), true, true));
        m_lines->setItem(r, Reason, lineCell(QString(), true));
    }
    if (!t.lines.empty())
        m_lines->setCurrentCell(0, Received);
}

QString
CTransferInDlg::missingCodesQuestion(const std::vector<std::pair<QString, QString>>& missing)
{
    QStringList named;
    for (const auto& [code, name] : missing)
        named << QStringLiteral("%1 %2").arg(code, name);
    return QStringLiteral("本部门的设备代码表中没有下列设备：\r\n%1\r\n\r\n"
                          "按调出部门的名称把它们添加到设备代码表，并接收这笔调拨吗？")
        .arg(named.join(QStringLiteral("\r\n")));
}

void CTransferInDlg::receive()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    const int row = m_pending->currentRow();
    if (row < 0 || row >= int(m_waiting.size())) {
        Messages::notice(QStringLiteral("请先选择一笔调拨。"), this);
        m_pending->setFocus();
        return;
    }
    const transfer::Transfer& t = m_waiting[size_t(row)];
    std::vector<transfer::Receipt> receipts;
    const FieldRule& receivedRule =
        tables::transferInLine.rule(schema::TransferInLine.indexOf(u"received_number"));
    for (int r = 0; r < m_lines->rowCount() && r < int(t.lines.size()); ++r) {
        const transfer::Line& l = t.lines[size_t(r)];
        float received = 0;
        const QString problem =
            FieldCheck::numberProblem(m_lines->item(r, Received)->text(), received, receivedRule);
        if (!problem.isEmpty()) {
            Messages::notice(QStringLiteral("设备 %1 的实收数量：%2").arg(l.code, problem), this);
            m_lines->setCurrentCell(r, Received);
            m_lines->setFocus();
            return;
        }
        receipts.push_back({l.number, received, m_lines->item(r, Reason)->text()});
    }

    const transfer::Site own{m_context.department, m_context.connection};
    const QString id = t.id;
    transfer::ReceiveResult result;
    const auto run = [&](bool addMissing) {
        return runChange(this, [&] {
            result = transfer::receive(own, m_context.classNumber, id, receipts, m_context.userName,
                                       addMissing, opener());
        });
    };
    if (!run(false))
        return;
    if (!result.problem.isEmpty() && !result.missingCodes.empty()) {
        if (Messages::show(missingCodesQuestion(result.missingCodes), QString(),
                           Messages::Icon::Question, Messages::Buttons::YesNo,
                           this) != Messages::Answer::Yes)
            return;
        if (!run(true))
            return;
    }
    if (!result.problem.isEmpty()) {
        Messages::notice(result.problem, this);
        // A line to mend: the first whose difference lacks its reason.
        for (int r = 0; r < m_lines->rowCount(); ++r)
            if (m_lines->item(r, Received)->text() != m_lines->item(r, Sent)->text() &&
                m_lines->item(r, Reason)->text().trimmed().isEmpty()) {
                m_lines->setCurrentCell(r, Reason);
                break;
            }
        m_lines->setFocus();
        return;
    }
    // The log entry is the core's, written with the receipt.
    Messages::notice(QStringLiteral("完成操作！"), this);
    readWaiting();
    m_status->setText(QStringLiteral("调拨单 %1 已接收。%2")
                          .arg(id, transfer::waitingText(int(m_waiting.size()))));
}

} // namespace vok

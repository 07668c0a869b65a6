#include "stock/ReconcileDlg.h"

#include "db/DbError.h"
#include "db/RowRecord.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace vok {

namespace {

// The ledger's rows as the list reads them, the last first (the list puts
// every row read at the top): the quantities as numbers, which the list
// shows as it shows every single-precision figure, the texts as UTF-8, so
// that a hundred thousand devices make no text per figure.
class LedgerRowSet : public RowSet
{
public:
    explicit LedgerRowSet(const std::vector<LedgerRow>& rows) : m_rows(rows), m_at(rows.size()) {}

    bool next() override
    {
        if (m_at == 0)
            return false;
        read(m_rows[--m_at]);
        return true;
    }
    int columnCount() const override { return int(m_cells.size()); }
    QString columnName(int) const override { return {}; }
    bool isNull(int) const override { return false; }
    bool isNumber(int column) const override { return cell(column).kind == Cell::Number; }
    QByteArrayView utf8(int column) const override { return cell(column).utf8; }
    Cell cell(int column) const override { return m_cells.at(size_t(column)); }
    QString text(int column) const override
    {
        const Cell c = cell(column);
        return c.kind == Cell::Number ? singleText(c.number) : QString::fromUtf8(c.utf8);
    }
    double number(int column) const override
    {
        const Cell c = cell(column);
        return c.kind == Cell::Number ? c.number : text(column).toDouble();
    }
    QVariant value(int column) const override { return text(column); }

private:
    void read(const LedgerRow& row)
    {
        static const QByteArray none = QStringLiteral("—").toUtf8();
        static const QByteArray notInCatalogue = QStringLiteral("（代码表中无）").toUtf8();
        static const QByteArray zero = QByteArrayLiteral("0");
        static const QByteArray agrees = QStringLiteral("相符").toUtf8();
        static const QByteArray lacking = QStringLiteral("无期初记录").toUtf8();
        static const QByteArray differs = QStringLiteral("★不符").toUtf8();
        const auto number = [](double value) { return Cell{Cell::Number, value}; };
        const auto text = [](QByteArrayView bytes) { return Cell{Cell::Text, 0, bytes}; };
        // A difference that single precision cannot tell from none reads "0".
        const auto difference = [&](double value, bool same) {
            return same ? text(zero) : number(value);
        };
        m_code = row.code.toUtf8();
        m_name = row.inCatalogue ? row.name.toUtf8() : notInCatalogue;
        const QString problem = row.problem();
        m_problem = problem.toUtf8();
        const bool stocked = row.stockRows > 0;
        m_cells = {text(m_code),
                   text(m_name),
                   stocked ? number(row.now) : text(none),
                   number(row.ledger()),
                   stocked ? difference(row.now - row.ledger(), row.nowAgrees()) : text(none),
                   stocked ? number(row.total) : text(none),
                   number(row.takenIn()),
                   stocked ? difference(row.total - row.takenIn(), row.totalAgrees()) : text(none),
                   text(problem.isEmpty()    ? agrees
                        : row.lacksOpening() ? lacking
                                             : differs),
                   text(m_problem),
                   number(row.stockOut),
                   number(row.returned),
                   number(row.transferredOut),
                   number(row.transferredIn),
                   number(row.inTransitOut),
                   number(row.inTransitIn)};
    }

    const std::vector<LedgerRow>& m_rows;
    size_t m_at;
    std::array<Cell, 16> m_cells;
    QByteArray m_code, m_name, m_problem;
};

} // namespace

CReconcileDlg::CReconcileDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("库存核对"));

    m_list = new RecordListView({{QStringLiteral("设备号")},
                                 {QStringLiteral("设备名")},
                                 {QStringLiteral("现在数量")},
                                 {QStringLiteral("流水结存")},
                                 {QStringLiteral("数量差")},
                                 {QStringLiteral("总数")},
                                 {QStringLiteral("入库合计")},
                                 {QStringLiteral("总数差")},
                                 {QStringLiteral("核对")},
                                 {QStringLiteral("说明")},
                                 {QStringLiteral("出库合计")},
                                 {QStringLiteral("还库合计")},
                                 {QStringLiteral("调拨出库")},
                                 {QStringLiteral("调拨入库")},
                                 {QStringLiteral("在途调出")},
                                 {QStringLiteral("在途调入")}},
                                this);
    m_list->setObjectName(QStringLiteral("list"));
    m_list->setColumnShares({6, 9, 6, 6, 5, 6, 6, 5, 5, 16, 6, 6, 6, 6, 6, 6}, 106);
    // Several devices may be chosen for a correction.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summaryLabel"));
    m_alsoTotal = new QCheckBox(QStringLiteral("同时把总数改为入库合计(&T)"), this);
    m_alsoTotal->setObjectName(QStringLiteral("alsoTotal"));

    QPushButton* refresh =
        m_commands->add(IDC_REFRESH, QStringLiteral("refresh"), QStringLiteral("刷　　新"),
                        QStringLiteral("刷新"), [this] { refill(); });
    QPushButton* correct =
        m_commands->add(IDC_CORRECT, QStringLiteral("correct"), QStringLiteral("按流水更正"),
                        QStringLiteral("按流水更正"), [this] { onCorrect(); });
    QPushButton* opening =
        m_commands->add(IDC_OPENING, QStringLiteral("opening"), QStringLiteral("记录期初库存"),
                        QStringLiteral("记录期初库存"), [this] { onOpening(); });
    QPushButton* print =
        m_commands->add(IDC_PRINT, QStringLiteral("print"), QStringLiteral("打　　印"),
                        QStringLiteral("打印"), [this] { onPrint(); });
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("reconcile.htm"));
    QPushButton* exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    exit->setDefault(true);
    m_commands->setMenuOrder({IDC_REFRESH, IDC_CORRECT, IDC_OPENING, IDC_PRINT,
                              CommandTable::kSeparator, CommandTable::kHelp, CommandTable::kExit});
    offerListCommands(*m_commands, *m_list, &reports::reconcile, m_context.userName);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_alsoTotal);
    buttons->addStretch(1);
    for (QPushButton* b : {refresh, correct, opening, print, help, exit})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_summary);
    layout->addLayout(buttons);
    resize(900, 520);

    const QList<QWidget*> order{m_list, m_alsoTotal, refresh, correct, opening, print, help, exit};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));

    readWhenOpened([this] {
        refill();
        return true;
    });
}

void CReconcileDlg::refill()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        m_rows = StockLedger::reconcile(*m_context.connection);
    } catch (const DbError& e) {
        QApplication::restoreOverrideCursor();
        showComError(e, this);
        return;
    }
    int differing = 0, lacking = 0;
    for (const LedgerRow& row : m_rows) {
        if (row.lacksOpening())
            ++lacking;
        else if (!row.agrees())
            ++differing;
    }
    LedgerRowSet rows(m_rows);
    m_list->records()->fill(rows);
    QApplication::restoreOverrideCursor();
    QString summary =
        differing == 0 && lacking == 0
            ? QStringLiteral("共 %1 种设备，库存全部与出入库流水相符。").arg(m_rows.size())
        : differing == 0
            ? QStringLiteral("共 %1 种设备。").arg(m_rows.size())
            : QStringLiteral("共 %1 种设备，其中 %2 种与出入库流水不符（列在前面，标有“★不符”）。")
                  .arg(m_rows.size())
                  .arg(differing);
    if (lacking > 0)
        summary += QStringLiteral("%1 种设备无期初记录（差额应是期初库存），"
                                  "可用“记录期初库存”按现在数量补记。")
                       .arg(lacking);
    m_summary->setText(summary);
}

void CReconcileDlg::onCorrect()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    const bool alsoTotal = m_alsoTotal->isChecked();
    // The chosen rows, or every device when none is chosen.
    std::vector<LedgerRow> chosen;
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        chosen = m_rows;
    } else {
        for (const QModelIndex& index : selected)
            if (size_t(index.row()) < m_rows.size())
                chosen.push_back(m_rows[size_t(index.row())]);
    }
    const auto changing =
        std::count_if(chosen.begin(), chosen.end(),
                      [alsoTotal](const LedgerRow& r) { return r.correctable(alsoTotal); });
    if (changing == 0) {
        Messages::notice(QStringLiteral("没有可以按流水更正的设备。\r\n"
                                        "库存表中没有或有多行的设备不能更正，请在库存信息中处理；"
                                        "流水结存为负数的设备不能更正，请盘点。"),
                         this, QStringLiteral("提示!"), Messages::Icon::Information);
        return;
    }
    const QString what = alsoTotal ? QStringLiteral("现在数量和总数") : QStringLiteral("现在数量");
    if (Messages::show(
            QStringLiteral("将按出入库流水更正 %1 种设备的%2，是否继续?").arg(changing).arg(what),
            QStringLiteral("提示!"), Messages::Icon::Question, Messages::Buttons::YesNo,
            this) != Messages::Answer::Yes)
        return;
    int changed = 0;
    if (!runChange(this, [&] {
            changed = StockLedger::correct(*m_context.connection, m_context.classNumber, chosen,
                                           alsoTotal, m_context.userName);
        }))
        return;
    writeLog(m_context, QStringLiteral("按流水更正库存"), this);
    Messages::notice(QStringLiteral("完成按流水更正库存操作，共更正 %1 种设备!").arg(changed), this,
                     QStringLiteral("提示!"), Messages::Icon::Information);
    refill();
}

void CReconcileDlg::onOpening()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    const auto lacking = std::count_if(m_rows.begin(), m_rows.end(),
                                       [](const LedgerRow& r) { return r.lacksOpening(); });
    if (lacking == 0) {
        Messages::notice(QStringLiteral("没有无期初记录的设备。"), this, QStringLiteral("提示!"),
                         Messages::Icon::Information);
        return;
    }
    if (Messages::show(QStringLiteral("有 %1 种设备无期初记录，将按现在数量为每种设备记录一条"
                                      "“期初库存”调整（现在数量减流水结存），是否继续?")
                           .arg(lacking),
                       QStringLiteral("提示!"), Messages::Icon::Question, Messages::Buttons::YesNo,
                       this) != Messages::Answer::Yes)
        return;
    int recorded = 0;
    if (!runChange(this, [&] {
            recorded = StockLedger::recordOpening(*m_context.connection, m_context.classNumber,
                                                  m_rows, m_context.userName);
        }))
        return;
    writeLog(m_context, QStringLiteral("记录期初库存"), this);
    Messages::notice(QStringLiteral("完成记录期初库存操作，共记录 %1 种设备!").arg(recorded), this,
                     QStringLiteral("提示!"), Messages::Icon::Information);
    refill();
}

void CReconcileDlg::onPrint()
{
    printTableReport(*m_list->records(), reports::reconcile, m_context.userName, this);
}

} // namespace vok

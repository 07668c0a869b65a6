#include "stock/ReorderDlg.h"

#include "core/Clock.h"
#include "core/FieldCheck.h"
#include "core/Tables.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vok {

namespace {

// Typing into the supplier cell stops at the capacity of its column.
class LineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* edit = qobject_cast<QLineEdit*>(editor);
            edit && index.column() == CReorderDlg::ColProvider)
            limitText(edit, tables::deviceWantBuy, DeviceWantBuyCol::provider);
        return editor;
    }
};

int maxBytes(int column)
{
    return tables::deviceWantBuy.maxBytes(column);
}

FieldRule rule(int column)
{
    return tables::deviceWantBuy.rule(column);
}

// A plan orders at least this many.
double leastQuantity()
{
    return rule(DeviceWantBuyCol::buy_number).min;
}

QString note(const ReorderLine& l)
{
    QStringList parts;
    if (l.planned())
        parts << QStringLiteral("已列入采购计划（%1）").arg(l.plannedAt);
    if (l.quantity < leastQuantity())
        parts << QStringLiteral("按最大数量无需采购");
    if (l.lastStockIn.isEmpty())
        parts << QStringLiteral("无入库记录");
    return parts.join(QStringLiteral("；"));
}

} // namespace

CReorderDlg::CReorderDlg(const FormContext& context, std::vector<ReorderLine> lines,
                         QWidget* parent)
    : FormDialog(parent), m_context(context), m_lines(std::move(lines)),
      m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("生成采购计划"));

    m_table = new QTableWidget(int(m_lines.size()), ColumnCount, this);
    m_table->setObjectName(QStringLiteral("lines"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("设备号"), QStringLiteral("设备名称"), QStringLiteral("现存数量"),
         QStringLiteral("最小数量"), QStringLiteral("最大数量"), QStringLiteral("采购数量"),
         QStringLiteral("供应商"), QStringLiteral("价格"), QStringLiteral("备注")});
    m_table->setItemDelegate(new LineDelegate(m_table));
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    m_table->setTabKeyNavigation(false);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->installEventFilter(this);

    auto* label =
        new QLabel(QStringLiteral("库存过少的设备(&L)：空格键勾选或取消，F2 或直接键入修改采购"
                                  "数量、供应商和价格"),
                   this);
    label->setObjectName(QStringLiteral("linesLabel"));
    label->setBuddy(m_table);

    QPushButton* generate =
        m_commands->add(IDC_GENERATE, QStringLiteral("generate"), QStringLiteral("生　　成"),
                        QStringLiteral("生成"), [this] { this->generate(); });
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("alert.htm"));
    QPushButton* cancel =
        m_commands->add(CommandTable::kExit, QStringLiteral("cancel"), QStringLiteral("取　　消"),
                        QStringLiteral("取消"), [this] { reject(); });
    m_commands->noMenu();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {generate, help, cancel})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);

    const QList<QWidget*> order{m_table, generate, help, cancel};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    m_table->setFocus();
    resize(820, 360);
    readWhenOpened([this] {
        fillTable();
        return true;
    });
}

void CReorderDlg::fillTable()
{
    const auto cell = [this](int row, int column, const QString& text, bool editable) {
        auto* item = new QTableWidgetItem(text);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (editable)
            flags |= Qt::ItemIsEditable;
        item->setFlags(flags);
        m_table->setItem(row, column, item);
        return item;
    };
    for (int r = 0; r < int(m_lines.size()); ++r) {
        const ReorderLine& l = m_lines[size_t(r)];
        QTableWidgetItem* code = cell(r, ColCode, l.code, false);
        code->setFlags(code->flags() | Qt::ItemIsUserCheckable);
        // Already planned, or nothing to order up to the maximum: unticked.
        code->setCheckState(!l.planned() && l.quantity >= leastQuantity() ? Qt::Checked
                                                                          : Qt::Unchecked);
        cell(r, ColName, l.name, false);
        cell(r, ColOnHand, FieldText::number(l.onHand), false);
        cell(r, ColLow, FieldText::number(l.low), false);
        cell(r, ColHigh, FieldText::number(l.high), false);
        cell(r, ColQuantity, FieldText::number(l.quantity), true);
        cell(r, ColProvider, l.provider, true);
        cell(r, ColPrice, l.price ? FieldText::number(*l.price) : QString(), true);
        cell(r, ColNote, note(l), false);
    }
    m_table->resizeColumnsToContents();
    for (int column : {ColQuantity, ColPrice})
        m_table->setColumnWidth(column, std::max(m_table->columnWidth(column), 70));
    m_table->setColumnWidth(ColProvider, std::max(m_table->columnWidth(ColProvider), 150));
    if (m_table->rowCount() > 0)
        m_table->setCurrentCell(0, ColCode);
}

bool CReorderDlg::ticked(int row) const
{
    return m_table->item(row, ColCode)->checkState() == Qt::Checked;
}

void CReorderDlg::toggle(int row)
{
    m_table->item(row, ColCode)->setCheckState(ticked(row) ? Qt::Unchecked : Qt::Checked);
}

bool CReorderDlg::eventFilter(QObject* watched, QEvent* event)
{
    // Space ticks the current line whichever of its cells is current. A
    // cell being edited has its editor take the keys, so there it is typed.
    if (watched == m_table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier &&
        m_table->currentRow() >= 0) {
        toggle(m_table->currentRow());
        return true;
    }
    return FormDialog::eventFilter(watched, event);
}

bool CReorderDlg::takeLine(int row, const QString& buyDate, PlanRow& out)
{
    const ReorderLine& l = m_lines[size_t(row)];
    const auto typed = [&](int column) { return m_table->item(row, column)->text(); };
    const auto take = [&](int column, const QString& problem) {
        if (problem.isEmpty())
            return true;
        Messages::notice(problem, this, QString(), Messages::Icon::Exclamation);
        m_table->setFocus(Qt::OtherFocusReason);
        m_table->setCurrentCell(row, column);
        if (m_table->item(row, column)->flags() & Qt::ItemIsEditable)
            m_table->editItem(m_table->item(row, column));
        return false;
    };
    using namespace PurchasePlan;
    out.code = l.code;
    out.buyDate = buyDate;
    out.provider = typed(ColProvider);
    return take(ColCode, FieldCheck::textProblem(l.code, maxBytes(DeviceWantBuyCol::code))) &&
           take(ColQuantity, FieldCheck::numberProblem(typed(ColQuantity), out.buyNumber,
                                                       rule(DeviceWantBuyCol::buy_number))) &&
           take(ColOnHand, figureText(l.onHand, DeviceWantBuyCol::now_number, out.nowNumber)) &&
           take(ColHigh, figureText(l.high, DeviceWantBuyCol::max_number, out.maxNumber)) &&
           take(ColPrice, FieldCheck::numberProblem(typed(ColPrice), out.price,
                                                    rule(DeviceWantBuyCol::price))) &&
           take(ColProvider,
                FieldCheck::textProblem(out.provider, maxBytes(DeviceWantBuyCol::provider))) &&
           take(ColOnHand, figureText(l.total, DeviceWantBuyCol::total_number, out.totalNumber));
}

void CReorderDlg::generate()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::OneLine, this))
        return;
    std::vector<PlanRow> rows;
    const QString buyDate = unpaddedDateTime(Clock::now());
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (!ticked(r))
            continue;
        PlanRow row;
        if (!takeLine(r, buyDate, row))
            return;
        rows.push_back(row);
    }
    if (rows.empty()) {
        Messages::notice(QStringLiteral("请选择一个设备"), this);
        return;
    }
    if (!runChange(this, [&] {
            PurchasePlan::append(*m_context.connection, m_context.classNumber, rows);
        }))
        return;
    Messages::notice(QStringLiteral("完成操作！"), this);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!writeLog(m_context, PurchasePlan::logText(), this))
            break;
    }
    accept();
}

} // namespace vok

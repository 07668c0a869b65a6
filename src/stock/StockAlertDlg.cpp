#include "stock/StockAlertDlg.h"

#include "core/PurchasePlan.h"
#include "core/StockChange.h"

#include "stock/ReorderDlg.h"
#include "stock/StockDlg.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"
#include "ui/RunChange.h"

#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>

namespace vok {

CStockAlertDlg::CStockAlertDlg(const FormContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("库存报警"));

    const auto command = [this](int id, const char16_t* name, const char16_t* caption,
                                const char16_t* menu, auto handler) {
        QPushButton* b = m_commands->add(id, QString::fromUtf16(name), QString::fromUtf16(caption),
                                         QString::fromUtf16(menu), std::move(handler));
        // A focused button takes Enter.
        b->setAutoDefault(true);
        return b;
    };
    // The menu items' blanks are part of their texts.
    QPushButton* over = command(IDC_OVER_STOCK, u"overStock", u"搜索过多库存", u"搜索过多库存",
                                [this] { search(Search::OverStock); });
    QPushButton* under = command(IDC_UNDER_STOCK, u"underStock", u"搜索过少库存", u"搜索过少库存",
                                 [this] { search(Search::UnderStock); });
    QPushButton* full =
        command(IDC_FULL, u"full", u"全面搜索", u"全 面  搜 索", [this] { search(Search::Full); });
    // Not in the popup, which lists the searches and exit only.
    QPushButton* reorder =
        command(IDC_REORDER, u"reorder", u"生成采购计划…", u"", [this] { onReorder(); });
    QPushButton* exit =
        command(CommandTable::kExit, u"exit", u"退出", u"退        出", [this] { reject(); });
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("alert.htm"));
    help->setAutoDefault(true);
    // The popup has no help item.
    m_commands->setMenuOrder({IDC_OVER_STOCK, IDC_UNDER_STOCK, IDC_FULL, CommandTable::kExit});

    auto* label = new QLabel(QStringLiteral("搜索结果"), this);
    label->setObjectName(QStringLiteral("resultLabel"));
    m_list = new RecordListView(stockListColumns(), this);
    m_list->setObjectName(QStringLiteral("list"));
    m_list->setColumnShares({1, 1, 1, 1, 1}, 5);
    // Several devices may be chosen for a purchase plan.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CStockAlertDlg::updateReorder);
    offerListCommands(*m_commands, *m_list);
    label->setBuddy(m_list);

    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0, 1, 4);
    layout->addWidget(help, 0, 4);
    layout->addWidget(m_list, 1, 0, 1, 5);
    layout->addWidget(over, 2, 0);
    layout->addWidget(under, 2, 1);
    layout->addWidget(full, 2, 2);
    layout->addWidget(reorder, 2, 3);
    layout->addWidget(exit, 2, 4);
    layout->setRowStretch(1, 1);

    QWidget* order[] = {m_list, over, under, full, reorder, exit, help};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    resize(640, 330);
    updateReorder();
}

void CStockAlertDlg::search(Search which)
{
    m_list->records()->clear();
    m_underRows = 0;
    Connection& db = *m_context.connection;
    // Every row read goes on top, so after a full search the over-stock
    // rows stand above the under-stock rows.
    if (which != Search::OverStock) {
        m_list->add(db, Stock::underStock());
        m_underRows = m_list->records()->rowCount();
    }
    if (which != Search::UnderStock)
        m_list->add(db, Stock::overStock());
    updateReorder();
}

QStringList CStockAlertDlg::reorderCodes() const
{
    const RecordListModel& rows = *m_list->records();
    const int firstUnder = rows.rowCount() - m_underRows;
    QList<int> chosen;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        chosen << index.row();
    std::sort(chosen.begin(), chosen.end());
    if (chosen.isEmpty()) {
        for (int row = firstUnder; row < rows.rowCount(); ++row)
            chosen << row;
    }
    QStringList codes;
    for (int row : chosen)
        if (row >= firstUnder)
            codes << rows.text(row, 0);
    return codes;
}

void CStockAlertDlg::updateReorder()
{
    m_commands->button(IDC_REORDER)->setEnabled(!reorderCodes().isEmpty());
}

void CStockAlertDlg::onReorder()
{
    const QStringList codes = reorderCodes();
    std::vector<ReorderLine> lines;
    if (codes.isEmpty() || !runChange(this, [&] {
            lines = PurchasePlan::reorderProposal(*m_context.connection, codes);
        }))
        return;
    // Another workstation may have changed the stock since the search.
    if (lines.empty()) {
        Messages::notice(QStringLiteral("所选设备的现存数量已不少于最小数量，无需采购。"), this);
        return;
    }
    CReorderDlg(m_context, std::move(lines), this).exec();
}

} // namespace vok

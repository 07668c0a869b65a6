#include "app/RestoreDlg.h"

#include "core/Tables.h"
#include "ui/DialogStyle.h"

#include <QColor>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vok {

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

CRestoreDlg::CRestoreDlg(QList<GenerationInfo> generations, QWidget* parent)
    : QDialog(parent), m_generations(std::move(generations))
{
    setObjectName(QStringLiteral("restore"));
    setWindowTitle(QStringLiteral("还原数据库"));

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("generations"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("备份时间"), QStringLiteral("部门"),
                             QStringLiteral("大小"), QStringLiteral("状态")});
    QTreeWidgetItem* newestSound = nullptr;
    for (const GenerationInfo& g : std::as_const(m_generations)) {
        auto* item = new QTreeWidgetItem(
            {g.generation.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), g.departmentNames(),
             sizeText(g.size()),
             g.generation.verified ? QStringLiteral("完好") : QStringLiteral("已损坏")});
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (!g.generation.verified) {
            item->setToolTip(3, g.problem);
            item->setForeground(3, QColor(0xb0, 0x00, 0x00));
        }
        m_list->addTopLevelItem(item);
        if (!newestSound && g.generation.verified)
            newestSound = item;
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_rows = new QTableWidget(this);
    m_rows->setObjectName(QStringLiteral("tableRows"));
    m_rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_rows->setSelectionMode(QAbstractItemView::NoSelection);
    m_rows->verticalHeader()->setDefaultSectionSize(m_rows->fontMetrics().height() + 6);
    m_rows->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    auto* listLabel = new QLabel(QStringLiteral("选择要还原的备份(&B)："), this);
    listLabel->setBuddy(m_list);
    // Why the chosen generation may not be restored.
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();
    auto* rowsLabel = new QLabel(QStringLiteral("所选备份中各表格的记录数(&R)："), this);
    rowsLabel->setBuddy(m_rows);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* confirm =
        buttons->addButton(QStringLiteral("还原(&O)"), QDialogButtonBox::AcceptRole);
    confirm->setObjectName(QStringLiteral("confirm"));
    confirm->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listLabel);
    layout->addWidget(m_list, 2);
    layout->addWidget(m_problem);
    layout->addWidget(rowsLabel);
    layout->addWidget(m_rows, 3);
    layout->addWidget(buttons);

    connect(m_list, &QTreeWidget::currentItemChanged, this, &CRestoreDlg::showRows);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(newestSound ? newestSound : m_list->topLevelItem(0));
    resize(600, 520);
    applyProgramStyle(this);
}

const GenerationInfo& CRestoreDlg::chosen() const
{
    const int row = m_list->currentItem() ? m_list->indexOfTopLevelItem(m_list->currentItem()) : 0;
    return m_generations.at(std::max(row, 0));
}

void CRestoreDlg::showRows()
{
    m_rows->clear();
    if (m_generations.isEmpty())
        return;
    const GenerationInfo& g = chosen();
    m_problem->setText(QStringLiteral("此备份已损坏，不能还原：%1").arg(g.problem));
    m_problem->setVisible(!g.generation.verified);
    QStringList tables;
    for (const GenerationCopy& c : g.copies)
        for (const auto& [table, n] : c.rows)
            if (!tables.contains(table))
                tables << table;
    m_rows->setRowCount(int(tables.size()));
    m_rows->setColumnCount(int(g.copies.size()));
    QStringList captions;
    for (const QString& table : std::as_const(tables))
        captions << tableCaption(table);
    m_rows->setVerticalHeaderLabels(captions);
    QStringList names = g.departmentNames().split(QStringLiteral("、"));
    m_rows->setHorizontalHeaderLabels(names);
    for (int col = 0; col < g.copies.size(); ++col) {
        for (const auto& [table, n] : g.copies.at(col).rows) {
            auto* item = new QTableWidgetItem(QString::number(n));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_rows->setItem(int(tables.indexOf(table)), col, item);
        }
    }
}

} // namespace vok

#include "ui/ScannedLines.h"

#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/StockChange.h"
#include "ui/MessageService.h"
#include "ui/RunChange.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTimer>

namespace vok {

QTableWidgetItem* lineCell(const QString& text, bool editable, bool number)
{
    auto* item = new QTableWidgetItem(text);
    if (!editable)
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

ScannedLines::ScannedLines(ConnectionPtr connection, const QString& accessibleName, QWidget* form)
    : QTableWidget(0, 4, form), m_connection(std::move(connection))
{
    setObjectName(QStringLiteral("lines"));
    setAccessibleName(accessibleName);
    setHorizontalHeaderLabels({QStringLiteral("设备号"), QStringLiteral("设备名"),
                               QStringLiteral("数量"), QStringLiteral("现有库存")});
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Made right after the list: the next Tab stop.
    m_remove = new QPushButton(QStringLiteral("移除所选行"), form);
    m_remove->setObjectName(QStringLiteral("removeLine"));
    m_remove->setAutoDefault(false);
    connect(m_remove, &QPushButton::clicked, this, &ScannedLines::removeLine);
}

void ScannedLines::addScanned(const QString& code, QWidget* scanField)
{
    if (code.isEmpty())
        return;
    addUnit(code);
    QTimer::singleShot(0, scanField, [scanField] { scanField->setFocus(); });
}

void ScannedLines::addUnit(const QString& code)
{
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row, Code)->text() != code)
            continue;
        QTableWidgetItem* quantity = item(row, Quantity);
        const auto n = FieldText::parseNumber(quantity->text());
        quantity->setText(FieldText::number(n.value_or(0) + 1));
        selectRow(row);
        return;
    }
    QString name;
    float onHand = 0;
    if (!runChange(window(), [&] {
            name = deviceName(*m_connection, code);
            onHand = readStock(*m_connection, code).now;
        }))
        return;
    const int row = rowCount();
    insertRow(row);
    setItem(row, Code, lineCell(code, false));
    setItem(row, Name, lineCell(name, false));
    setItem(row, Quantity, lineCell(QStringLiteral("1"), true, true));
    setItem(row, OnHand, lineCell(FieldText::number(onHand), false, true));
    selectRow(row);
}

void ScannedLines::removeLine()
{
    const int row = currentRow();
    if (row >= 0)
        removeRow(row);
}

std::optional<std::vector<ScannedLines::Line>> ScannedLines::checkedLines(const FieldRule& rule)
{
    std::vector<Line> lines;
    for (int row = 0; row < rowCount(); ++row) {
        Line line{item(row, Code)->text(), item(row, Name)->text(), item(row, Quantity)->text(), 0};
        const QString problem = FieldCheck::numberProblem(line.quantityText, line.quantity, rule);
        if (!problem.isEmpty()) {
            Messages::notice(QStringLiteral("设备 %1 的数量：%2").arg(line.code, problem),
                             window());
            setCurrentCell(row, Quantity);
            setFocus();
            return std::nullopt;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace vok

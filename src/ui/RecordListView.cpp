#include "ui/RecordListView.h"

#include "db/DbError.h"
#include "ui/ComErrorBox.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>

namespace vok {

RecordListView::RecordListView(std::vector<RecordListModel::Column> columns, QWidget* parent)
    : QTableView(parent), m_model(new RecordListModel(std::move(columns), this)),
      m_frame(new ListFrame(m_model, this))
{
    setModel(m_frame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    // A report-style list has no row headings; fixed row heights keep a
    // list of a million rows cheap to lay out.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit rowChosen(m_frame->offset() + index.row());
    });
    connect(m_frame, &QAbstractItemModel::modelReset, this, [this] {
        m_top = 0;
        m_current = -1;
    });
    // Past the run's length the list grows without the run: only the
    // scroll bar follows.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_frame->isPartial())
            updateGeometries();
    });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_frame->isPartial())
            updateGeometries();
    });
    // A window read while the list scrolls can fail too (a broken link).
    connect(m_model, &RecordListModel::readFailed, this,
            [this](const DbError& e) { showComError(e, this); });
    connect(m_model, &RecordListModel::counted, this, [this] {
        if (const auto place = std::exchange(m_pending, std::nullopt))
            restore(*place);
    });
}

bool RecordListView::fill(Connection& connection, const TableRows& select)
{
    return load(connection, select, true);
}

bool RecordListView::add(Connection& connection, const TableRows& select)
{
    return load(connection, select, false);
}

bool RecordListView::load(Connection& connection, const TableRows& select, bool replace)
{
    std::optional<Place> place;
    m_pending.reset();
    if (replace && select.table == m_table && m_model->rowCount() > 0) {
        const int row = currentRow();
        place = Place{m_model->rowId(row), row, verticalScrollBar()->value()};
    }
    if (replace)
        m_table = select.table;
    setUpdatesEnabled(false);
    bool ok = true;
    try {
        if (replace)
            m_model->fill(connection, select);
        else
            m_model->add(connection, select);
    } catch (const DbError& e) {
        ok = false;
        setUpdatesEnabled(true);
        showComError(e, this);
    }
    setUpdatesEnabled(true);
    if (ok && place) {
        // A row further down than the first window waits for the count.
        if (m_model->isCounted() || std::max(place->row, place->top) < m_model->rowCount())
            restore(*place);
        else
            m_pending = place;
    }
    return ok;
}

void RecordListView::restore(const Place& place)
{
    const int row = place.rowId ? m_model->rowOf(place.rowId, place.row) : -1;
    if (row >= 0) {
        chooseRow(row);
        verticalScrollBar()->setValue(place.top + row - place.row);
    } else {
        verticalScrollBar()->setValue(place.top);
    }
}

void RecordListView::setColumnShares(const std::vector<int>& numerators, int denominator)
{
    m_shares = numerators;
    m_denominator = denominator;
    applyShares();
}

void RecordListView::applyShares()
{
    if (m_denominator <= 0)
        return;
    const int w = frameGeometry().width();
    for (size_t i = 0; i < m_shares.size() && int(i) < m_model->columnCount(); ++i)
        setColumnWidth(int(i), w * m_shares[i] / m_denominator);
}

void RecordListView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    applyShares();
}

void RecordListView::keyPressEvent(QKeyEvent* event)
{
    const int before = currentRow();
    QTableView::keyPressEvent(event);
    const int after = currentIndex().isValid() ? currentRow() : -1;
    if (after >= 0 && (after != before || event->key() == Qt::Key_Space))
        emit rowChosen(after);
}

int RecordListView::currentRow() const
{
    if (currentIndex().isValid())
        return m_frame->offset() + currentIndex().row();
    return m_frame->isPartial() ? m_current : -1;
}

void RecordListView::chooseRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    if (row < m_frame->offset() || row >= m_frame->offset() + m_frame->rowCount())
        moveFrame(row - m_frame->frameRows() / 2);
    const int column = std::max(currentIndex().column(), 0);
    selectionModel()->setCurrentIndex(m_frame->index(row - m_frame->offset(), column),
                                      QItemSelectionModel::ClearAndSelect |
                                          QItemSelectionModel::Rows);
}

int RecordListView::visibleRows() const
{
    return std::max(1, viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()));
}

void RecordListView::moveFrame(int offset)
{
    m_moving = true;
    m_frame->setOffset(offset);
    const int local = m_current - m_frame->offset();
    if (m_current >= 0 && local >= 0 && local < m_frame->rowCount()) {
        const int column = std::max(currentIndex().column(), 0);
        selectionModel()->setCurrentIndex(m_frame->index(local, column),
                                          QItemSelectionModel::ClearAndSelect |
                                              QItemSelectionModel::Rows);
    } else {
        selectionModel()->clear();
    }
    m_moving = false;
}

void RecordListView::showTop(int top)
{
    m_top = top;
    const int rows = visibleRows();
    const int frameRows = m_frame->frameRows();
    const int margin = frameRows / 4;
    const int offset = m_frame->offset();
    const bool roomAbove = offset == 0 || top - offset >= margin;
    const bool roomBelow =
        offset + frameRows >= m_model->rowCount() || offset + frameRows - (top + rows) >= margin;
    if (!roomAbove || !roomBelow || top < offset || top + rows > offset + frameRows)
        moveFrame(top + rows / 2 - frameRows / 2);
    if (top >= verticalScrollBar()->maximum() &&
        m_frame->offset() + m_frame->rowCount() == m_model->rowCount())
        verticalHeader()->setOffsetToLastSection();
    else
        verticalHeader()->setOffsetToSectionPosition(top - m_frame->offset());
    viewport()->update();
}

void RecordListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (!m_moving)
        m_current = current.isValid() ? m_frame->offset() + current.row() : -1;
    QTableView::currentChanged(current, previous);
}

QModelIndex RecordListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    if (!m_frame->isPartial())
        return QTableView::moveCursor(action, modifiers);
    const int lastColumn = m_frame->columnCount() - 1;
    if (action == MoveEnd && (modifiers & Qt::ControlModifier)) {
        moveFrame(m_model->rowCount());
        return m_frame->index(m_frame->rowCount() - 1, lastColumn);
    }
    if (action == MoveHome && (modifiers & Qt::ControlModifier)) {
        moveFrame(0);
        return m_frame->index(0, 0);
    }
    // The chosen row scrolled out of the run: the keys move from it.
    if (!currentIndex().isValid() && m_current >= 0)
        chooseRow(m_current);
    return QTableView::moveCursor(action, modifiers);
}

void RecordListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!m_frame->isPartial()) {
        QTableView::scrollTo(index, hint);
        return;
    }
    if (m_moving || !index.isValid())
        return;
    {
        // The table scrolls across; the rows are placed below.
        const QSignalBlocker blocker(verticalScrollBar());
        const int value = verticalScrollBar()->value();
        QTableView::scrollTo(index, hint);
        verticalScrollBar()->setValue(value);
    }
    const int row = m_frame->offset() + index.row();
    const int rows = visibleRows();
    int top = m_top;
    switch (hint) {
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - rows + 1;
        break;
    case PositionAtCenter:
        top = row - rows / 2;
        break;
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row >= top + rows)
            top = row - rows + 1;
        break;
    }
    verticalScrollBar()->setValue(top);
}

void RecordListView::scrollContentsBy(int dx, int dy)
{
    if (!m_frame->isPartial() || m_laying) {
        QTableView::scrollContentsBy(dx, dy);
        return;
    }
    if (dx)
        QTableView::scrollContentsBy(dx, 0);
    if (verticalScrollBar()->value() != m_top || dy)
        showTop(verticalScrollBar()->value());
}

void RecordListView::updateGeometries()
{
    m_laying = true;
    QTableView::updateGeometries();
    m_laying = false;
    if (!m_frame->isPartial())
        return;
    // The scroll bar covers the whole list, not the run.
    QScrollBar* bar = verticalScrollBar();
    {
        const QSignalBlocker blocker(bar);
        bar->setRange(0, std::max(0, m_model->rowCount() - visibleRows()));
        bar->setValue(m_top);
    }
    showTop(bar->value());
}

void RecordListView::showEvent(QShowEvent* event)
{
    if (accessibleName().isEmpty())
        setAccessibleName(window()->windowTitle());
    QTableView::showEvent(event);
}

} // namespace vok

#include "ui/RecordListView.h"

#include "db/DbError.h"
#include "ui/ComErrorBox.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

#include <utility>

namespace vok {

RecordListView::RecordListView(std::vector<RecordListModel::Column> columns, QWidget* parent)
    : QTableView(parent), m_model(new RecordListModel(std::move(columns), this))
{
    setModel(m_model);
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
            emit rowChosen(index.row());
    });
    // A window read while the list scrolls can fail too (a broken link).
    connect(m_model, &RecordListModel::readFailed, this, [this] {
        if (const auto e = m_model->takeFailure())
            showComError(*e, this);
    });
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
        const int row = currentIndex().isValid() ? currentIndex().row() : -1;
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
        selectionModel()->setCurrentIndex(m_model->index(row, 0),
                                          QItemSelectionModel::ClearAndSelect |
                                              QItemSelectionModel::Rows);
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
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    const QModelIndex after = currentIndex();
    if (after.isValid() && (after.row() != before.row() || event->key() == Qt::Key_Space))
        emit rowChosen(after.row());
}

void RecordListView::showEvent(QShowEvent* event)
{
    if (accessibleName().isEmpty())
        setAccessibleName(window()->windowTitle());
    QTableView::showEvent(event);
}

} // namespace vok

#include "core/TableAccess.h"

#include "core/PeriodSummary.h"
#include "core/Permission.h"
#include "core/RecordListModel.h"
#include "db/DbError.h"

namespace vok {

TableAccess::TableAccess(Connection& connection, const TableDescription& table, int classNumber)
    : m_connection(connection), m_table(table), m_class(classNumber)
{
}

TableRows TableAccess::all() const
{
    return {m_table.name()};
}

TableRows TableAccess::matching(std::span<const int> columns, const QStringList& values) const
{
    TableRows rows{m_table.name()};
    QList<SqlText> conditions;
    for (size_t i = 0; i < columns.size(); ++i) {
        const ColumnDef& column = m_table.def->columns.at(size_t(columns[i]));
        const bool date = column.kind == ColumnKind::DateTime || column.kind == ColumnKind::Date;
        const TableRows one =
            compareColumn(rows.table, column.name, date ? QueryForm::Date : QueryForm::Text,
                          Comparison::Equal, values.value(qsizetype(i)), m_connection.engine());
        conditions << one.condition;
        rows.values << one.values;
    }
    rows.condition = SqlText::joined(conditions, " AND ");
    return rows;
}

TableRows TableAccess::matching(int column, const QString& value) const
{
    const int columns[] = {column};
    return matching(columns, {value});
}

std::optional<TableRows> TableAccess::query(const QString& field, const QString& op,
                                            const QString& value) const
{
    return composeQuery(m_table.name(), m_table.queryFields, field, op, value,
                        m_connection.engine());
}

std::unique_ptr<RowSet> TableAccess::list(const TableRows& rows) const
{
    return m_connection.select(rows, true);
}

void TableAccess::fill(RecordListModel& model, const TableRows& rows) const
{
    model.fill(m_connection, rows);
}

void TableAccess::add(RecordListModel& model, const TableRows& rows) const
{
    model.add(m_connection, rows);
}

qint64 TableAccess::count(const TableRows& rows) const
{
    return m_connection.count(rows);
}

std::optional<RowRecord> TableAccess::read(const TableRows& rows) const
{
    auto rs = m_connection.select(rows);
    if (!rs->next())
        return std::nullopt;
    RowRecord record(*m_table.def);
    rs->readInto(record);
    return record;
}

void TableAccess::append(const QVariantList& values) const
{
    checkMayWrite(m_class);
    PeriodClose::checkValues(m_connection, *m_table.def, values);
    m_connection.append(m_table.name(), m_table.def->columnNames(), values);
}

void TableAccess::appendRows(const std::function<bool(QVariantList&)>& row) const
{
    checkMayWrite(m_class);
    const auto check = PeriodClose::valuesCheck(m_connection, *m_table.def);
    m_connection.appendRows(m_table.name(), m_table.def->columnNames(), [&](QVariantList& values) {
        if (!row(values))
            return false;
        check(values);
        return true;
    });
}

TableRows TableAccess::narrowed(const TableRows& rows, const ListedRow& listed) const
{
    TableRows out = rows;
    const QString identity = listed.rowId ? m_connection.rowIdentity(rows.table) : QString();
    if (identity.isEmpty())
        return out;
    const SqlText condition = SqlText::name(identity) + SqlText("=?");
    out.condition = out.condition.isEmpty()
                        ? condition
                        : SqlText::compose("(%1) AND %2", {out.condition, condition});
    out.values << listed.rowId;
    return out;
}

RowOutcome TableAccess::check(RowUpdate& row, const ListedRow& listed) const
{
    if (!listed.values)
        return RowOutcome::Done;
    if (!row.found())
        return RowOutcome::Gone;
    for (int c = 0; c < listed.values->size(); ++c)
        if (row.record().value(c) != listed.values->value(c))
            return RowOutcome::Changed;
    return RowOutcome::Done;
}

RowOutcome TableAccess::update(const TableRows& rows, const ListedRow& listed,
                               const std::function<void(RowRecord&)>& change) const
{
    checkMayWrite(m_class);
    auto row = m_connection.openRow(narrowed(rows, listed), *m_table.def);
    if (const RowOutcome o = check(*row, listed); o != RowOutcome::Done)
        return o;
    // A row of a closed month stays as it is, and no row moves into one.
    const auto closed = PeriodClose::valuesCheck(m_connection, *m_table.def);
    const auto values = [&row] {
        QVariantList v;
        for (int c = 0; c < row->record().size(); ++c)
            v << row->record().value(c);
        return v;
    };
    if (row->found())
        closed(values());
    change(row->record());
    closed(values());
    try {
        row->store();
    } catch (const DbError& e) {
        if (listed.values && e.failure() == DbError::Failure::RowChanged)
            return RowOutcome::Changed;
        throw;
    }
    return RowOutcome::Done;
}

RowOutcome TableAccess::remove(const TableRows& rows, const ListedRow& listed) const
{
    checkMayWrite(m_class);
    Transaction t(m_connection);
    PeriodClose::checkRows(m_connection, rows);
    if (listed.values) {
        // Kept from other connections until the end, then looked at.
        m_connection.lock(rows);
        auto row = m_connection.openRow(narrowed(rows, listed), *m_table.def);
        if (const RowOutcome o = check(*row, listed); o != RowOutcome::Done)
            return o;
    }
    if (m_connection.remove(rows) == 0)
        return RowOutcome::Gone;
    t.commit();
    return RowOutcome::Done;
}

qint64 TableAccess::remove(const TableRows& rows) const
{
    checkMayWrite(m_class);
    PeriodClose::checkRows(m_connection, rows);
    return m_connection.remove(rows);
}

void TableAccess::clear() const
{
    clearTable(m_connection, m_class, m_table.name());
}

void clearTable(Connection& connection, int classNumber, const QString& table)
{
    checkMayWrite(classNumber);
    PeriodClose::checkRows(connection, TableRows{table});
    connection.remove(TableRows{table});
}

void clearTables(Connection& connection, int classNumber, const QStringList& tables)
{
    checkMayWrite(classNumber);
    Transaction t(connection);
    for (const QString& table : tables) {
        PeriodClose::checkRows(connection, TableRows{table});
        connection.remove(TableRows{table});
    }
    t.commit();
}

} // namespace vok

#include "db/SqliteRows.h"

#include "db/RowRecord.h"

#include <vector>

namespace vok::sqlite {

namespace {

class SqliteRowSet : public RowSet
{
public:
    // With withRowId the text selects the rowid first; it is kept apart
    // from the result's columns.
    SqliteRowSet(sqlite3* db, const QString& sql, bool withRowId = false,
                 const QVariantList& values = {}, std::shared_ptr<StatementCache> cache = {})
        : m_stmt(db, sql, values, std::move(cache)), m_first(withRowId ? 1 : 0)
    {
        const int n = sqlite3_column_count(m_stmt.get());
        m_dateOnly.resize(size_t(std::max(0, n - m_first)));
        for (int i = m_first; i < n; ++i) {
            m_names << QString::fromUtf8(sqlite3_column_name(m_stmt.get(), i));
            m_dateOnly[size_t(i - m_first)] =
                isDateOnlyDecl(sqlite3_column_decltype(m_stmt.get(), i));
        }
    }

    bool next() override { return m_stmt.step(); }
    int columnCount() const override { return int(m_names.size()); }
    QString columnName(int column) const override { return m_names.at(column); }

    qint64 rowId() const override { return m_first ? sqlite3_column_int64(m_stmt.get(), 0) : 0; }

    bool isNull(int column) const override
    {
        return sqlite3_column_type(m_stmt.get(), column + m_first) == SQLITE_NULL;
    }

    bool isNumber(int column) const override
    {
        const int t = sqlite3_column_type(m_stmt.get(), column + m_first);
        return t == SQLITE_INTEGER || t == SQLITE_FLOAT;
    }

    QByteArrayView utf8(int column) const override
    {
        const int c = column + m_first;
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), c));
        const int n = sqlite3_column_bytes(m_stmt.get(), c);
        if (!p)
            return {};
        return QByteArrayView(p, visibleLength(p, n, m_dateOnly[size_t(column)]));
    }

    // One sqlite3_column_value() per cell; the value_* calls on it take no
    // lock, which halves the cost of reading a long list. (An unprotected
    // value is safe here: a connection is used by one thread.)
    Cell cell(int column) const override
    {
        sqlite3_value* v = sqlite3_column_value(m_stmt.get(), column + m_first);
        switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            return {Cell::Number, sqlite3_value_double(v)};
        default: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
            const int n = sqlite3_value_bytes(v);
            if (!p)
                return {};
            return {Cell::Text, 0,
                    QByteArrayView(p, visibleLength(p, n, m_dateOnly[size_t(column)]))};
        }
        }
    }

    QString text(int column) const override
    {
        const int c = column + m_first;
        switch (sqlite3_column_type(m_stmt.get(), c)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return QString::number(sqlite3_column_int64(m_stmt.get(), c));
        case SQLITE_FLOAT:
            return singleText(sqlite3_column_double(m_stmt.get(), c));
        default: {
            const QByteArrayView v = utf8(column);
            return QString::fromUtf8(v.data(), v.size());
        }
        }
    }

    double number(int column) const override
    {
        return sqlite3_column_double(m_stmt.get(), column + m_first);
    }

    QVariant value(int column) const override
    {
        return columnValue(m_stmt.get(), column + m_first, m_dateOnly[size_t(column)]);
    }

private:
    Statement m_stmt;
    int m_first;
    QStringList m_names;
    std::vector<char> m_dateOnly;
};

class SqliteRowUpdate : public RowUpdate
{
public:
    // The first row of "SELECT * FROM <from>", values bound.
    SqliteRowUpdate(sqlite3* db, const QString& tableName, const SqlText& from,
                    const QVariantList& values, const TableDef& table)
        : RowUpdate(table), m_db(db), m_table(SqlText::name(tableName)), m_loaded(table)
    {
        Statement stmt(db, (SqlText("SELECT _rowid_, * FROM ") + from).toString(), values);
        if (!stmt.step())
            return;
        m_found = true;
        m_rowid = sqlite3_column_int64(stmt.get(), 0);
        const int n = sqlite3_column_count(stmt.get()) - 1;
        for (int i = 0; i < n; ++i) {
            m_columns << QString::fromUtf8(sqlite3_column_name(stmt.get(), i + 1));
            m_original.push_back(sqlite3_value_dup(sqlite3_column_value(stmt.get(), i + 1)));
            if (i < m_record.size())
                m_record.setFromDatabase(
                    i, columnValue(stmt.get(), i + 1,
                                   isDateOnlyDecl(sqlite3_column_decltype(stmt.get(), i + 1))));
        }
        m_loaded = m_record;
    }

    ~SqliteRowUpdate() override
    {
        for (sqlite3_value* v : m_original)
            sqlite3_value_free(v);
    }

    void store() override
    {
        if (!m_found)
            throw noCurrentRecordError();
        QList<SqlText> sets;
        QVariantList values;
        for (int i = 0; i < m_record.size() && i < int(m_columns.size()); ++i) {
            if (m_record.value(i) == m_loaded.value(i))
                continue;
            sets << SqlText::name(m_columns.at(i)) + SqlText("=?");
            values << stored(m_record.value(i), m_record.table().columns.at(size_t(i)).kind);
        }
        if (sets.isEmpty())
            return;
        QList<SqlText> checks{SqlText("_rowid_=?")};
        for (const QString& c : m_columns)
            checks << SqlText::name(c) + SqlText(" IS ?");
        const SqlText sql =
            SqlText::compose("UPDATE %1 SET %2 WHERE %3", {m_table, SqlText::joined(sets, ","),
                                                           SqlText::joined(checks, " AND ")});
        Statement stmt(m_db, sql.toString());
        int index = 1;
        for (const QVariant& v : values)
            bindValue(m_db, stmt.get(), index++, v);
        sqlite3_bind_int64(stmt.get(), index++, m_rowid);
        for (sqlite3_value* v : m_original)
            sqlite3_bind_value(stmt.get(), index++, v);
        stmt.step();
        if (sqlite3_changes(m_db) == 0)
            throw rowChangedError();
        m_loaded = m_record;
    }

private:
    sqlite3* m_db;
    SqlText m_table;
    qint64 m_rowid = 0;
    QStringList m_columns;
    std::vector<sqlite3_value*> m_original;
    RowRecord m_loaded;
};

} // namespace

std::unique_ptr<RowSet> openRowSet(sqlite3* db, const QString& sql, bool withRowId,
                                   const QVariantList& values,
                                   std::shared_ptr<StatementCache> cache)
{
    return std::make_unique<SqliteRowSet>(db, sql, withRowId, values, std::move(cache));
}

std::unique_ptr<RowUpdate> openRowUpdate(sqlite3* db, const QString& tableName, const SqlText& from,
                                         const QVariantList& values, const TableDef& table)
{
    return std::make_unique<SqliteRowUpdate>(db, tableName, from, values, table);
}

} // namespace vok::sqlite

#pragma once

#include "db/Connection.h"
#include "db/DbError.h"

#include <functional>

namespace vok::test {

// A connection that passes everything to a real one and lets a test record
// what the form sends and inject failures or another user's change at a
// chosen step.
class ScriptedConnection : public Connection
{
public:
    explicit ScriptedConnection(ConnectionPtr inner) : m_inner(std::move(inner)) {}

    std::function<void(const QString& sql)> beforeExecute;
    std::function<void(const QString& sql)> beforeQuery;
    std::function<void(const QString& table)> beforeAppend;
    std::function<void(const QString& select)> beforeOpenUpdate;
    std::function<void(const QString& select)> beforeLock;
    // Runs just before a row opened for update is stored.
    std::function<void()> beforeStore;

    struct Append
    {
        QString table;
        QStringList names;
        QVariantList values;
    };
    QList<Append> appends;
    QStringList statements;

    Connection& inner() { return *m_inner; }

    Engine engine() const override { return m_inner->engine(); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void close() override { m_inner->close(); }
    void append(const QString& table, const QStringList& names, const QVariantList& values) override
    {
        appends.append({table, names, values});
        if (beforeAppend)
            beforeAppend(table);
        m_inner->append(table, names, values);
    }
    bool appendUnlessPresent(const QString& table, const QStringList& names,
                             const QVariantList& values) override
    {
        appends.append({table, names, values});
        if (beforeAppend)
            beforeAppend(table);
        return m_inner->appendUnlessPresent(table, names, values);
    }

    // The table operations: the hooks see the statement as the engine
    // would be given it ("SELECT * FROM t WHERE …", "DELETE FROM t …").
    std::unique_ptr<RowSet> select(const TableRows& rows, bool withRowIds) override
    {
        const QString sql = QStringLiteral("SELECT * FROM ") + fromClause(rows);
        statements << sql;
        if (beforeQuery)
            beforeQuery(sql);
        return m_inner->select(rows, withRowIds);
    }
    std::unique_ptr<RowUpdate> openRow(const TableRows& rows, const TableDef& table) override
    {
        const QString sql = QStringLiteral("SELECT * FROM ") + fromClause(rows);
        statements << sql;
        if (beforeOpenUpdate)
            beforeOpenUpdate(sql);
        return std::make_unique<Update>(m_inner->openRow(rows, table), table, this);
    }
    qint64 lock(const TableRows& rows) override
    {
        const QString sql = QStringLiteral("SELECT * FROM ") + fromClause(rows);
        statements << sql;
        if (beforeLock)
            beforeLock(sql);
        return m_inner->lock(rows);
    }
    std::unique_ptr<RowSet> queryWith(const QString& sql, const QVariantList& values) override
    {
        statements << sql;
        if (beforeQuery)
            beforeQuery(sql);
        return m_inner->queryWith(sql, values);
    }
    qint64 executeWith(const QString& sql, const QVariantList& values) override
    {
        statements << sql;
        if (beforeExecute)
            beforeExecute(sql);
        return m_inner->executeWith(sql, values);
    }

protected:
    void beginEngine() override { m_inner->begin(); }
    void commitEngine() override { m_inner->commit(); }
    void rollbackEngine() override { m_inner->rollback(); }

private:
    class Update : public RowUpdate
    {
    public:
        Update(std::unique_ptr<RowUpdate> inner, const TableDef& table, ScriptedConnection* owner)
            : RowUpdate(table), m_inner(std::move(inner)), m_owner(owner)
        {
            m_found = m_inner->found();
            m_record = m_inner->record();
        }
        void store() override
        {
            if (m_owner->beforeStore)
                m_owner->beforeStore();
            m_inner->record() = m_record;
            m_inner->store();
        }

    private:
        std::unique_ptr<RowUpdate> m_inner;
        ScriptedConnection* m_owner;
    };

    ConnectionPtr m_inner;
};

} // namespace vok::test

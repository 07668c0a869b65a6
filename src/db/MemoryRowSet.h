#pragma once

#include "db/Connection.h"

#include <QList>
#include <QStringList>
#include <vector>

namespace vok {

// A result held in memory: rows of texts the program computed itself (a
// summary, a comparison), walked like a row query so that a record list
// fills from it as from the database.
class MemoryRowSet : public RowSet
{
public:
    // Without column names a row has as many columns as texts.
    explicit MemoryRowSet(QList<QStringList> rows, QStringList columnNames = {});

    bool next() override;
    int columnCount() const override;
    QString columnName(int column) const override { return m_names.value(column); }
    bool isNull(int column) const override;
    QString text(int column) const override;
    double number(int column) const override;
    QVariant value(int column) const override;
    bool isNumber(int) const override { return false; }
    QByteArrayView utf8(int column) const override;

private:
    QStringList m_names;
    QList<QStringList> m_rows;
    qsizetype m_at = -1;
    // One buffer per column: a list holds the views of a whole row.
    mutable std::vector<QByteArray> m_utf8;
};

} // namespace vok

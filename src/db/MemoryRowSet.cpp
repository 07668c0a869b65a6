#include "db/MemoryRowSet.h"

namespace vok {

MemoryRowSet::MemoryRowSet(QStringList columnNames, QList<QStringList> rows)
    : m_names(std::move(columnNames)), m_rows(std::move(rows)), m_utf8(size_t(m_names.size()))
{
}

bool MemoryRowSet::next()
{
    if (m_at < m_rows.size())
        ++m_at;
    return m_at < m_rows.size();
}

bool MemoryRowSet::isNull(int column) const
{
    return column >= m_rows.at(m_at).size();
}

QString MemoryRowSet::text(int column) const
{
    return m_rows.at(m_at).value(column);
}

double MemoryRowSet::number(int column) const
{
    return text(column).toDouble();
}

QVariant MemoryRowSet::value(int column) const
{
    return isNull(column) ? QVariant() : QVariant(text(column));
}

QByteArrayView MemoryRowSet::utf8(int column) const
{
    QByteArray& bytes = m_utf8.at(size_t(column));
    bytes = text(column).toUtf8();
    return bytes;
}

} // namespace vok

#include "db/MemoryRowSet.h"

namespace vok {

MemoryRowSet::MemoryRowSet(QList<QStringList> rows, QStringList columnNames)
    : m_names(std::move(columnNames)), m_rows(std::move(rows))
{
}

bool MemoryRowSet::next()
{
    if (m_at < m_rows.size())
        ++m_at;
    if (m_at >= m_rows.size())
        return false;
    m_utf8.resize(size_t(columnCount()));
    return true;
}

int MemoryRowSet::columnCount() const
{
    if (!m_names.isEmpty() || m_at < 0 || m_at >= m_rows.size())
        return int(m_names.size());
    return int(m_rows.at(m_at).size());
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

#include "db/RowRecord.h"

#include "db/Gbk.h"

#include <limits>

namespace vok {

QString singleText(double value)
{
    return QString::number(double(float(value)), 'g', 7);
}

RowRecord::RowRecord(const TableDef& table) : m_table(&table)
{
    m_values.resize(table.columns.size());
    clear();
}

void RowRecord::clear()
{
    for (size_t i = 0; i < m_values.size(); ++i)
        m_values[i] =
            m_table->columns[i].field == FieldKind::Single ? QVariant(0.0f) : QVariant(QString());
}

int RowRecord::maxBytes(int field) const
{
    const ColumnDef& c = m_table->columns.at(size_t(field));
    return c.capacity > 0 ? c.capacity - 1 : std::numeric_limits<int>::max();
}

QString RowRecord::text(int field) const
{
    const QVariant& v = m_values.at(size_t(field));
    if (m_table->columns.at(size_t(field)).field == FieldKind::Single)
        return singleText(v.toFloat());
    return v.toString();
}

float RowRecord::number(int field) const
{
    const QVariant& v = m_values.at(size_t(field));
    if (m_table->columns.at(size_t(field)).field == FieldKind::Single)
        return v.toFloat();
    return v.toString().trimmed().toFloat();
}

void RowRecord::setText(int field, const QString& value)
{
    if (m_table->columns.at(size_t(field)).field == FieldKind::Single)
        m_values.at(size_t(field)) = QVariant(value.trimmed().toFloat());
    else
        m_values.at(size_t(field)) = QVariant(gbkCut(value, maxBytes(field)));
}

void RowRecord::setNumber(int field, float value)
{
    if (m_table->columns.at(size_t(field)).field == FieldKind::Single)
        m_values.at(size_t(field)) = QVariant(value);
    else
        m_values.at(size_t(field)) = QVariant(singleText(value));
}

void RowRecord::setFromDatabase(int field, const QVariant& value)
{
    const bool single = m_table->columns.at(size_t(field)).field == FieldKind::Single;
    if (value.isNull()) {
        m_values.at(size_t(field)) = single ? QVariant(0.0f) : QVariant(QString());
        return;
    }
    if (single) {
        m_values.at(size_t(field)) = QVariant(float(value.toDouble()));
        return;
    }
    QString t;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        t = singleText(value.toDouble());
    else
        t = value.toString();
    m_values.at(size_t(field)) = QVariant(gbkCut(t, maxBytes(field)));
}

} // namespace vok

#include "db/RowRecord.h"

#include "db/Gbk.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace vok {

QString singleText(double value)
{
    char text[kSingleTextBytes];
    return QString::fromLatin1(text, singleText(value, text));
}

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

int qtSingleText(double v, char* out)
{
    const QByteArray text = QByteArray::number(v, 'g', 7);
    std::memcpy(out, text.constData(), size_t(text.size()));
    return int(text.size());
}

} // namespace

// Seven significant digits through one exact scaling and integer digits:
// some twenty times faster than the general formatting, which a list of a
// million figures notices. Values too close to a rounding tie, and those
// outside 1e-5..1e15, take Qt's formatting, so the text is always Qt's.
int singleText(double value, char* out)
{
    const double v = double(float(value));
    if (v == 0) {
        out[0] = '0';
        return 1;
    }
    const double a = std::fabs(v);
    if (!(a >= 1e-5 && a < 1e15))
        return qtSingleText(v, out);
    // The decimal exponent: 10^e <= a < 10^(e+1).
    int e = 0;
    if (a >= 1) {
        while (e < 15 && a >= kPowersOfTen[e + 1])
            ++e;
    } else {
        while (a * kPowersOfTen[-e] < 1)
            --e;
    }
    const double scaled = e <= 6 ? a * kPowersOfTen[6 - e] : a / kPowersOfTen[e - 6];
    double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 1e-6)
        return qtSingleText(v, out);
    auto digits = qint64(whole) + (fraction > 0.5 ? 1 : 0);
    if (digits == 10000000) {
        digits = 1000000;
        ++e;
    }
    char d[7];
    for (int i = 6; i >= 0; --i, digits /= 10)
        d[i] = char('0' + digits % 10);
    int significant = 7;
    while (significant > 1 && d[significant - 1] == '0')
        --significant;

    char* p = out;
    if (v < 0)
        *p++ = '-';
    if (e < -4 || e >= 7) {
        *p++ = d[0];
        if (significant > 1) {
            *p++ = '.';
            for (int i = 1; i < significant; ++i)
                *p++ = d[i];
        }
        *p++ = 'e';
        *p++ = e < 0 ? '-' : '+';
        const int x = e < 0 ? -e : e;
        if (x >= 10)
            *p++ = char('0' + x / 10);
        else
            *p++ = '0';
        *p++ = char('0' + x % 10);
    } else if (e >= 0) {
        for (int i = 0; i <= e; ++i)
            *p++ = d[i];
        if (significant > e + 1) {
            *p++ = '.';
            for (int i = e + 1; i < significant; ++i)
                *p++ = d[i];
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > e; --i)
            *p++ = '0';
        for (int i = 0; i < significant; ++i)
            *p++ = d[i];
    }
    return int(p - out);
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

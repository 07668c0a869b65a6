#pragma once

#include "db/Schema.h"

#include <QVariant>
#include <vector>

namespace vok {

// A single-precision number as the database and the row records write it:
// the value rounded to single precision, at most 7 significant digits
// ("%.7g"), so that 2.5f reads "2.5" and 0.1f "0.1".
QString singleText(double value);
// The same text as ASCII bytes written into out, which holds
// kSingleTextBytes; returns the length. The fast path for long lists.
constexpr int kSingleTextBytes = 32;
int singleText(double value, char* out);

// A fixed-capacity row record of one table: the row as the forms hold it.
// Text fields hold at most capacity - 1 GBK bytes; a longer value read from
// the database is cut at a character boundary. Single fields hold a float.
class RowRecord
{
public:
    explicit RowRecord(const TableDef& table);

    const TableDef& table() const { return *m_table; }
    int size() const { return int(m_values.size()); }

    QString text(int field) const;
    float number(int field) const;
    // The field as the row query reads it: QString or float.
    const QVariant& value(int field) const { return m_values.at(size_t(field)); }

    // Stores a text, cut to the field's capacity. For a Single field the
    // text is read as a number.
    void setText(int field, const QString& value);
    void setNumber(int field, float value);
    // Stores a value read from the database (text, number or null).
    void setFromDatabase(int field, const QVariant& value);
    void clear();

    // The largest number of GBK bytes a text field takes (capacity - 1).
    int maxBytes(int field) const;

private:
    const TableDef* m_table;
    std::vector<QVariant> m_values;
};

} // namespace vok

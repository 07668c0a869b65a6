#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <algorithm>
#include <vector>

namespace vok {

// Rows found by the UTF-8 bytes of their device code, for the passes that
// read every movement: a row's code becomes a QString once, when the device
// first comes. Millions of movements look their device up: an open table of
// slots, each with part of its code's hash, keeps a look-up to about one
// visit to memory where a node per entry would cost three. Row has a
// QString member code.
template <typename Row> class CodeIndex
{
public:
    Row& operator[](QByteArrayView code)
    {
        if ((m_rows.size() + 1) * 2 > m_slots.size())
            grow();
        const size_t hash = qHash(code, m_seed);
        const auto tag = quint32(hash);
        const size_t mask = m_slots.size() - 1;
        for (size_t at = (hash >> 16) & mask;; at = (at + 1) & mask) {
            const Slot slot = m_slots[at];
            if (slot.row == 0) {
                m_slots[at] = {tag, quint32(m_rows.size() + 1)};
                return add(code);
            }
            if (slot.tag == tag && keyOf(slot.row - 1) == code)
                return m_rows[slot.row - 1];
        }
    }

    // The row of that code; null when none came.
    Row* find(QByteArrayView code)
    {
        if (m_slots.empty())
            return nullptr;
        const size_t hash = qHash(code, m_seed);
        const auto tag = quint32(hash);
        const size_t mask = m_slots.size() - 1;
        for (size_t at = (hash >> 16) & mask;; at = (at + 1) & mask) {
            const Slot slot = m_slots[at];
            if (slot.row == 0)
                return nullptr;
            if (slot.tag == tag && keyOf(slot.row - 1) == code)
                return &m_rows[slot.row - 1];
        }
    }

    std::vector<Row>& rows() { return m_rows; }
    std::vector<Row> take() { return std::move(m_rows); }

private:
    struct Slot
    {
        quint32 tag = 0;
        quint32 row = 0; // the row's place plus one; 0: an empty slot
    };

    QByteArrayView keyOf(size_t row) const
    {
        const auto [at, size] = m_keys[row];
        return QByteArrayView(m_keyBytes.constData() + at, size);
    }

    Row& add(QByteArrayView code)
    {
        m_keys.emplace_back(m_keyBytes.size(), code.size());
        m_keyBytes.append(code);
        m_rows.emplace_back();
        m_rows.back().code = QString::fromUtf8(code);
        return m_rows.back();
    }

    void grow()
    {
        std::vector<Slot> table(std::max<size_t>(1024, m_slots.size() * 2));
        const size_t mask = table.size() - 1;
        for (size_t row = 0; row < m_rows.size(); ++row) {
            const size_t hash = qHash(keyOf(row), m_seed);
            size_t at = (hash >> 16) & mask;
            while (table[at].row != 0)
                at = (at + 1) & mask;
            table[at] = {quint32(hash), quint32(row + 1)};
        }
        m_slots = std::move(table);
    }

    size_t m_seed = QHashSeed::globalSeed();
    std::vector<Slot> m_slots;
    QByteArray m_keyBytes;
    std::vector<std::pair<qsizetype, qsizetype>> m_keys;
    std::vector<Row> m_rows;
};

} // namespace vok

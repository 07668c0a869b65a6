#include "browse/RecordListModel.h"

#include "db/DbError.h"

#include <cstring>

namespace vok {

namespace {

constexpr size_t kBlockSize = size_t(1) << 20;
constexpr unsigned char kLongText = 0xFF;

// A cell in the arena: a text is its length (one byte, or 0xFF and four
// bytes) and its UTF-8 bytes; a single-precision number is a float.
size_t textCellSize(qsizetype length)
{
    return size_t(length) + (length < kLongText ? 1 : 5);
}

char* putText(char* p, QByteArrayView text)
{
    const auto n = quint32(text.size());
    if (n < kLongText) {
        *p++ = char(n);
    } else {
        *p++ = char(kLongText);
        std::memcpy(p, &n, sizeof n);
        p += sizeof n;
    }
    if (n)
        std::memcpy(p, text.data(), n);
    return p + n;
}

const char* readText(const char* p, QByteArrayView* out)
{
    quint32 n = static_cast<unsigned char>(*p++);
    if (n == kLongText) {
        std::memcpy(&n, p, sizeof n);
        p += sizeof n;
    }
    if (out)
        *out = QByteArrayView(p, qsizetype(n));
    return p + n;
}

} // namespace

RecordListModel::RecordListModel(std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)), m_views(m_columns.size()),
      m_values(m_columns.size()), m_numberTexts(m_columns.size())
{
}

RecordListModel::~RecordListModel() = default;

char* RecordListModel::reserve(size_t bytes)
{
    if (m_blocks.empty() || m_blockUsed + bytes > kBlockSize) {
        // A row longer than a block gets a block of its own size.
        m_blocks.push_back(std::make_unique<char[]>(std::max(bytes, kBlockSize)));
        m_blockUsed = 0;
    }
    char* p = m_blocks.back().get() + m_blockUsed;
    m_blockUsed += bytes;
    return p;
}

void RecordListModel::appendRow(const RowSet& rows)
{
    const int available = rows.columnCount();
    const int n = int(m_columns.size());
    // First the size of the row, then its cells; the views stay valid until
    // the next row is read.
    size_t size = 0;
    for (int c = 0; c < n; ++c) {
        if (m_columns[size_t(c)].kind == ListColumn::Single) {
            m_values[size_t(c)] = (c < available && !rows.isNull(c)) ? float(rows.number(c)) : 0.0f;
            size += sizeof(float);
            continue;
        }
        QByteArrayView& v = m_views[size_t(c)];
        if (c >= available || rows.isNull(c)) {
            v = {};
        } else if (rows.isNumber(c)) {
            // Rare: a number in a text column; shown as its text.
            m_numberTexts[size_t(c)] = rows.text(c).toUtf8();
            v = m_numberTexts[size_t(c)];
        } else {
            v = rows.utf8(c);
        }
        size += textCellSize(v.size());
    }

    char* p = reserve(size);
    m_rows.push_back(p);
    for (int c = 0; c < n; ++c) {
        if (m_columns[size_t(c)].kind == ListColumn::Single) {
            std::memcpy(p, &m_values[size_t(c)], sizeof(float));
            p += sizeof(float);
        } else {
            p = putText(p, m_views[size_t(c)]);
        }
    }
}

void RecordListModel::fill(Connection& connection, const QString& select)
{
    read(nullptr, &connection, select, true);
}

void RecordListModel::fill(RowSet& rows)
{
    read(&rows, nullptr, QString(), true);
}

void RecordListModel::add(Connection& connection, const QString& select)
{
    read(nullptr, &connection, select, false);
}

void RecordListModel::read(RowSet* rows, Connection* connection, const QString& select,
                           bool replace)
{
    beginResetModel();
    if (replace) {
        m_rows.clear();
        m_blocks.clear();
        m_blockUsed = 0;
    }
    try {
        std::unique_ptr<RowSet> opened;
        if (!rows) {
            opened = connection->query(select);
            rows = opened.get();
        }
        while (rows->next())
            appendRow(*rows);
    } catch (...) {
        // The rows read before the failure stay listed.
        endResetModel();
        throw;
    }
    endResetModel();
}

void RecordListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_blocks.clear();
    m_blockUsed = 0;
    endResetModel();
}

const char* RecordListModel::cell(int row, int column) const
{
    // Row 0 is the row read last.
    const char* p = m_rows[m_rows.size() - 1 - size_t(row)];
    for (int c = 0; c < column; ++c) {
        if (m_columns[size_t(c)].kind == ListColumn::Single)
            p += sizeof(float);
        else
            p = readText(p, nullptr);
    }
    return p;
}

QString RecordListModel::text(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    const char* p = cell(row, column);
    if (m_columns[size_t(column)].kind == ListColumn::Single) {
        float f;
        std::memcpy(&f, p, sizeof f);
        return QString::asprintf("%f", double(f));
    }
    QByteArrayView v;
    readText(p, &v);
    return QString::fromUtf8(v);
}

QStringList RecordListModel::rowTexts(int row) const
{
    QStringList out;
    for (int c = 0; c < columnCount(); ++c)
        out << text(row, c);
    return out;
}

int RecordListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RecordListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnCount())
        return m_columns[size_t(section)].heading;
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QAbstractTableModel::headerData(section, orientation, role);
}

qint64 RecordListModel::arenaBytes() const
{
    return qint64(m_blocks.size() * kBlockSize);
}

} // namespace vok

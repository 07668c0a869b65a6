#include "core/RecordListModel.h"

#include "db/DbError.h"
#include "db/RowRecord.h"

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
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(std::max(bytes, kBlockSize)));
        m_blockUsed = 0;
    }
    char* p = m_blocks.back().get() + m_blockUsed;
    m_blockUsed += bytes;
    return p;
}

void RecordListModel::resolveSources(const RowSet& rows)
{
    const int available = rows.columnCount();
    m_sources.resize(m_columns.size());
    for (size_t c = 0; c < m_columns.size(); ++c) {
        const QString& name = m_columns[c].source;
        if (name.isEmpty()) {
            m_sources[c] = int(c) < available ? int(c) : -1;
            continue;
        }
        m_sources[c] = rows.indexOf(name);
        if (m_sources[c] < 0)
            throw DbError(DbError::kFail, QStringLiteral("结果中没有列“%1”。").arg(name));
    }
}

void RecordListModel::appendRow(const RowSet& rows)
{
    const int n = int(m_columns.size());
    // First the size of the row, then its cells; the views stay valid until
    // the next row is read.
    size_t size = 0;
    for (int c = 0; c < n; ++c) {
        const int from = m_sources[size_t(c)];
        const RowSet::Cell cell = from >= 0 ? rows.cell(from) : RowSet::Cell{};
        if (m_columns[size_t(c)].kind == ListColumn::Single) {
            m_values[size_t(c)] = cell.kind == RowSet::Cell::Number ? float(cell.number)
                                  : cell.kind == RowSet::Cell::Text ? float(rows.number(from))
                                                                    : 0.0f;
            size += sizeof(float);
            continue;
        }
        QByteArrayView& v = m_views[size_t(c)];
        if (cell.kind == RowSet::Cell::Number) {
            // A number in a text column (the demand and purchase-plan
            // figures): shown as the row set's text of a single-precision
            // value, formatted straight into bytes.
            char* text = m_numberTexts[size_t(c)].data();
            v = QByteArrayView(text, singleText(cell.number, text));
        } else {
            v = cell.utf8;
        }
        size += textCellSize(v.size());
    }

    char* p = reserve(size);
    m_rows.push_back(p);
    m_ids.push_back(rows.rowId());
    for (int c = 0; c < n; ++c) {
        if (m_columns[size_t(c)].kind == ListColumn::Single) {
            std::memcpy(p, &m_values[size_t(c)], sizeof(float));
            p += sizeof(float);
        } else {
            p = putText(p, m_views[size_t(c)]);
        }
    }
}

void RecordListModel::reset()
{
    m_rows.clear();
    m_ids.clear();
    m_blocks.clear();
    m_blockUsed = 0;
}

void RecordListModel::fill(Connection& connection, const TableRows& select)
{
    read(nullptr, &connection, select, true);
}

void RecordListModel::fill(RowSet& rows)
{
    read(&rows, nullptr, TableRows(), true);
}

void RecordListModel::add(Connection& connection, const TableRows& select)
{
    read(nullptr, &connection, select, false);
}

void RecordListModel::read(RowSet* rows, Connection* connection, const TableRows& select,
                           bool replace)
{
    beginResetModel();
    if (replace)
        reset();
    try {
        std::unique_ptr<RowSet> opened;
        if (!rows) {
            opened = connection->select(select, true);
            rows = opened.get();
        }
        resolveSources(*rows);
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
    reset();
    m_rows.shrink_to_fit();
    m_ids.shrink_to_fit();
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

RecordListModel::StoredCell RecordListModel::stored(int row, int column) const
{
    StoredCell out;
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return out;
    out.valid = true;
    const char* p = cell(row, column);
    if (m_columns[size_t(column)].kind == ListColumn::Single) {
        out.single = true;
        std::memcpy(&out.number, p, sizeof out.number);
    } else {
        readText(p, &out.utf8);
    }
    return out;
}

QString RecordListModel::text(int row, int column) const
{
    const StoredCell c = stored(row, column);
    if (c.single)
        return QString::asprintf("%f", double(c.number));
    return c.valid ? QString::fromUtf8(c.utf8) : QString();
}

QVariant RecordListModel::value(int row, int column) const
{
    const StoredCell c = stored(row, column);
    if (!c.valid)
        return {};
    return c.single ? QVariant(c.number) : QVariant(QString::fromUtf8(c.utf8));
}

qint64 RecordListModel::rowId(int row) const
{
    if (row < 0 || row >= rowCount())
        return 0;
    return m_ids[m_ids.size() - 1 - size_t(row)];
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

} // namespace vok

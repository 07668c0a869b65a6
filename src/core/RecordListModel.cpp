#include "core/RecordListModel.h"

#include "db/DbError.h"
#include "db/RowRecord.h"
#include "db/SqlText.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace vok {

namespace {

constexpr size_t kBlockSize = size_t(1) << 20;
// Windows read in one query when the list is read from top to bottom (an
// export, a print) and windows kept in all.
constexpr int kMostWindowsAtOnce = 64;
constexpr size_t kWindowsKept = 256;
// About a screenful: the first window is all a query reads before its rows
// are shown, and each row of a look-up may be a read of its own from disk.
int defaultWindow = 64;
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

// Marks the list as changing while it tells its views.
struct RecordListModel::Changing
{
    explicit Changing(bool& flag) : m_flag(flag), m_was(std::exchange(flag, true)) {}
    ~Changing() { m_flag = m_was; }
    bool& m_flag;
    bool m_was;
};

RecordListModel::RecordListModel(std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)), m_windowRows(defaultWindow),
      m_views(m_columns.size()), m_values(m_columns.size()), m_numberTexts(m_columns.size())
{
}

RecordListModel::~RecordListModel()
{
    stopCount();
}

void RecordListModel::setDefaultWindowRows(int rows)
{
    defaultWindow = std::max(1, rows);
}

int RecordListModel::defaultWindowRows()
{
    return defaultWindow;
}

void RecordListModel::setCountInBackground(bool background)
{
    m_countInBackground = background;
}

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

void RecordListModel::resolveSources(const RowSet& rows) const
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
            throw DbError(DbError::Kind::Engine, QStringLiteral("结果中没有列“%1”。").arg(name));
    }
}

size_t RecordListModel::measureRow(const RowSet& rows) const
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
    return size;
}

void RecordListModel::writeRow(char* p) const
{
    for (size_t c = 0; c < m_columns.size(); ++c) {
        if (m_columns[c].kind == ListColumn::Single) {
            std::memcpy(p, &m_values[c], sizeof(float));
            p += sizeof(float);
        } else {
            p = putText(p, m_views[c]);
        }
    }
}

void RecordListModel::appendRow(const RowSet& rows)
{
    char* p = reserve(measureRow(rows));
    m_rows.push_back(p);
    m_ids.push_back(rows.rowId());
    writeRow(p);
}

void RecordListModel::appendTo(Window& window, const RowSet& rows) const
{
    const size_t size = measureRow(rows);
    const size_t start = window.bytes.size();
    window.bytes.resize(start + size);
    writeRow(window.bytes.data() + start);
    window.starts.push_back(quint32(start));
    window.ids.push_back(rows.rowId());
}

void RecordListModel::reset()
{
    stopCount();
    m_windowed = false;
    m_connection = nullptr;
    m_select = {};
    m_identity.clear();
    m_shown = 0;
    m_total.reset();
    m_marks.clear();
    m_cache.clear();
    m_lastLoaded = -1;
    m_run = 1;
    m_failure.reset();
    m_rows.clear();
    m_ids.clear();
    m_blocks.clear();
    m_blockUsed = 0;
}

void RecordListModel::fill(Connection& connection, const TableRows& select)
{
    if (!fillWindows(connection, select))
        read(nullptr, &connection, select, true);
}

void RecordListModel::fill(RowSet& rows)
{
    read(&rows, nullptr, TableRows(), true);
}

void RecordListModel::add(Connection& connection, const TableRows& select)
{
    // Rows put above a list read in windows: the list is read whole first.
    if (m_windowed) {
        Connection* own = m_connection;
        const TableRows listed = m_select;
        read(nullptr, own, listed, true);
    }
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

bool RecordListModel::fillWindows(Connection& connection, const TableRows& select)
{
    const QString identity = connection.rowIdentity(select.table);
    if (identity.isEmpty())
        return false;
    const Changing changing(m_changing);
    beginResetModel();
    reset();
    try {
        // The first window: the newest rows. Its top row bounds every later
        // window, so rows added meanwhile wait for a refill.
        RowWindow first;
        first.limit = m_windowRows;
        auto rows = connection.selectWindow(select, first);
        resolveSources(*rows);
        Window top;
        while (rows->next())
            appendTo(top, *rows);
        m_windowed = true;
        m_connection = &connection;
        m_select = select;
        m_identity = identity;
        m_top = top.ids.empty() ? 0 : top.ids.front();
        m_shown = int(top.ids.size());
        const bool whole = m_shown < m_windowRows;
        keepWindow(0, std::move(top));
        if (whole)
            m_total = m_shown;
    } catch (...) {
        reset();
        endResetModel();
        throw;
    }
    endResetModel();
    if (!m_total && m_countInBackground)
        startCount();
    return true;
}

// What a counting thread and its list share: the list, until it is
// refilled or goes.
struct RecordListModel::CountJob
{
    std::mutex lock;
    RecordListModel* model = nullptr;

    // Runs f on the list in its own thread, if it is still there.
    template <typename F> void post(F&& f)
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (model)
            QMetaObject::invokeMethod(
                model, [m = model, f = std::forward<F>(f)]() mutable { f(*m); },
                Qt::QueuedConnection);
    }
    bool stopped()
    {
        const std::lock_guard<std::mutex> guard(lock);
        return !model;
    }
};

namespace {

// The counting threads, each joined once it has ended (and those still
// running when the program ends, which then waits for one statement).
class CountThreads
{
    // A count walks every row of a long list: its reads wait for those of
    // the user's work (the idle class of the disk's queue), as the page
    // check's do. Its processor time stays as it is, so that the count
    // still comes while another program keeps the processor busy.
    static void readBehindTheUser()
    {
#ifdef Q_OS_LINUX
        constexpr int whoThread = 1, idleClass = 3, classShift = 13;
        syscall(SYS_ioprio_set, whoThread, 0, idleClass << classShift);
#endif
    }

public:
    static CountThreads& instance()
    {
        static CountThreads threads;
        return threads;
    }
    ~CountThreads()
    {
        for (Running& r : m_running)
            r.thread.join();
    }
    template <typename F> void start(F&& f)
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        std::erase_if(m_running, [](Running& r) {
            if (!*r.done)
                return false;
            r.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_running.push_back({std::thread([f = std::forward<F>(f), done]() mutable {
                                 readBehindTheUser();
                                 f();
                                 *done = true;
                             }),
                             done});
    }

private:
    struct Running
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_lock;
    std::vector<Running> m_running;
};

// The first identity of every window of the rows, newest first, counted
// by the server (or the file) so that only the marks come back.
std::vector<qint64> windowMarks(Connection& connection, const TableRows& rows,
                                const QString& identity, int windowRows)
{
    const QString sql =
        SqlText::compose("SELECT vok_id FROM (SELECT %1 AS vok_id, row_number() OVER (ORDER BY %1 "
                         "DESC) AS vok_n FROM %2) AS vok_marks WHERE (vok_n - 1) % ? = 0 "
                         "ORDER BY vok_n",
                         {SqlText::name(identity), connection.fromText(rows)})
            .toString();
    std::vector<qint64> marks;
    auto rs = connection.queryWith(sql, rows.values + QVariantList{windowRows});
    while (rs->next())
        marks.push_back(qint64(rs->number(0)));
    return marks;
}

// Walks the identities of the rows, newest first: returns how many there
// are and puts the first identity of every window in marks; -1 when
// stopped on the way.
template <typename Stopped>
qint64 walkIdentities(Connection& connection, const TableRows& rows, const QString& identity,
                      int windowRows, std::vector<qint64>& marks, Stopped&& stopped)
{
    auto rs =
        connection.queryWith(SqlText::compose("SELECT %1 FROM %2 ORDER BY %1 DESC",
                                              {SqlText::name(identity), connection.fromText(rows)})
                                 .toString(),
                             rows.values);
    qint64 n = 0;
    while (rs->next()) {
        if (n % windowRows == 0) {
            marks.push_back(qint64(rs->number(0)));
            if (stopped())
                return -1;
        }
        ++n;
    }
    return n;
}

} // namespace

void RecordListModel::startCount()
{
    const quint64 generation = ++m_generation;
    RowWindow bound;
    bound.upTo = m_top;
    const TableRows rows = m_connection->bounded(m_select, m_identity, bound);
    const auto opener = m_connection->readerOpener();
    if (!opener) {
        // No second connection: counted on this one once the first window
        // is on the screen.
        QTimer::singleShot(0, this, [this, generation] { countHere(generation); });
        return;
    }
    m_job = std::make_shared<CountJob>();
    m_job->model = this;
    CountThreads::instance().start(
        [job = m_job, opener, rows, identity = m_identity, windowRows = m_windowRows, generation] {
            try {
                // A list refilled before the thread ran (a query typed
                // straight away) costs no connection.
                if (job->stopped())
                    return;
                const ConnectionPtr reader = opener();
                std::vector<qint64> marks;
                if (reader->engine() == Engine::Sqlite) {
                    // The file: one walk over the identities counts the rows
                    // and marks the windows.
                    const qint64 n = walkIdentities(*reader, rows, identity, windowRows, marks,
                                                    [&job] { return job->stopped(); });
                    if (n < 0)
                        return;
                    job->post([generation, n](RecordListModel& m) { m.applyCount(generation, n); });
                } else {
                    // The server counts, then numbers the rows itself and
                    // sends only the marks.
                    const qint64 n = reader->count(rows);
                    job->post([generation, n](RecordListModel& m) { m.applyCount(generation, n); });
                    if (job->stopped())
                        return;
                    marks = windowMarks(*reader, rows, identity, windowRows);
                }
                job->post([generation, marks = std::move(marks)](RecordListModel& m) mutable {
                    m.applyMarks(generation, std::move(marks));
                });
            } catch (...) {
                // The list counts on its own connection instead.
                job->post([generation](RecordListModel& m) { m.countHere(generation); });
            }
        });
}

void RecordListModel::stopCount()
{
    ++m_generation;
    if (m_job) {
        const std::lock_guard<std::mutex> guard(m_job->lock);
        m_job->model = nullptr;
    }
    m_job.reset();
}

void RecordListModel::countHere(quint64 generation)
{
    if (generation != m_generation || m_total || !m_windowed)
        return;
    RowWindow bound;
    bound.upTo = m_top;
    try {
        applyCount(generation,
                   m_connection->count(m_connection->bounded(m_select, m_identity, bound)));
    } catch (const DbError& e) {
        noteFailure(e);
    }
}

void RecordListModel::applyCount(quint64 generation, qint64 rows)
{
    if (generation != m_generation || m_total || !m_windowed)
        return;
    const int n = int(std::min<qint64>(rows, std::numeric_limits<int>::max()));
    const Changing changing(m_changing);
    if (n > m_shown) {
        beginInsertRows(QModelIndex(), m_shown, n - 1);
        m_shown = n;
        m_total = n;
        endInsertRows();
    } else if (n < m_shown) {
        // Rows deleted since they were read.
        beginRemoveRows(QModelIndex(), n, m_shown - 1);
        m_shown = n;
        m_total = n;
        endRemoveRows();
    } else {
        m_total = n;
    }
    emit counted();
}

void RecordListModel::applyMarks(quint64 generation, std::vector<qint64> marks)
{
    if (generation == m_generation && m_windowed)
        m_marks = std::move(marks);
}

bool RecordListModel::isCounted() const
{
    return !m_windowed || m_total.has_value();
}

int RecordListModel::countAll() const
{
    if (!isCounted())
        const_cast<RecordListModel*>(this)->countHere(m_generation);
    return rowCount();
}

bool RecordListModel::canFetchMore(const QModelIndex& parent) const
{
    // Not while the list is changing (asked by a view told of the change).
    return !parent.isValid() && m_windowed && !m_total && m_shown > 0 && !m_changing;
}

void RecordListModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const int index = m_shown / m_windowRows;
    const Window* next = window(index);
    const int n = next ? int(next->ids.size()) : 0;
    const Changing changing(m_changing);
    if (n > 0) {
        beginInsertRows(QModelIndex(), m_shown, m_shown + n - 1);
        m_shown += n;
        endInsertRows();
    }
    if (next && n < m_windowRows) {
        // The end of the list: every row is known.
        m_total = m_shown;
        stopCount();
        emit counted();
    }
}

void RecordListModel::noteFailure(const DbError& error) const
{
    const bool first = !m_failure;
    m_failure = error;
    if (first)
        QTimer::singleShot(0, this, [this] {
            if (m_failure)
                emit const_cast<RecordListModel*>(this)->readFailed(
                    *std::exchange(m_failure, std::nullopt));
        });
}

QString RecordListModel::checkedText(int row, int column) const
{
    QString t = text(row, column);
    if (m_failure)
        throw *std::exchange(m_failure, std::nullopt);
    return t;
}

void RecordListModel::keepWindow(int index, Window window) const
{
    window.used = ++m_tick;
    m_cache.insert_or_assign(index, std::move(window));
    while (m_cache.size() > kWindowsKept) {
        auto oldest = std::min_element(m_cache.begin(), m_cache.end(), [](auto& a, auto& b) {
            return a.second.used < b.second.used;
        });
        m_cache.erase(oldest);
    }
}

const RecordListModel::Window* RecordListModel::window(int index) const
{
    auto it = m_cache.find(index);
    if (it == m_cache.end()) {
        try {
            loadWindows(index);
        } catch (const DbError& e) {
            noteFailure(e);
            // Kept empty, so that the view does not ask the engine again
            // for every cell.
            keepWindow(index, Window());
            return nullptr;
        }
        it = m_cache.find(index);
        if (it == m_cache.end())
            return nullptr;
    }
    it->second.used = ++m_tick;
    return &it->second;
}

void RecordListModel::loadWindows(int index) const
{
    const qint64 first = qint64(index) * m_windowRows;
    RowWindow w;
    w.upTo = m_top;
    w.limit = m_windowRows;
    int count = 1;
    const auto kept = [this](int i) -> const Window* {
        const auto it = m_cache.find(i);
        return it != m_cache.end() && !it->second.ids.empty() ? &it->second : nullptr;
    };
    const Window* above = index > 0 ? kept(index - 1) : nullptr;
    const Window* below = kept(index + 1);
    if (above && int(above->ids.size()) == m_windowRows) {
        // Below a window kept; read ahead when the list is read in order.
        w.below = above->ids.back();
        if (m_lastLoaded == index - 1)
            m_run = std::min(m_run * 2, kMostWindowsAtOnce);
        else
            m_run = 1;
        count = m_run;
    } else if (size_t(index) < m_marks.size()) {
        w.upTo = m_marks[size_t(index)];
    } else if (below) {
        // Above a window kept: the rows just newer than its top row.
        w.newestFirst = false;
        w.above = below->ids.front();
    } else if (m_total) {
        const qint64 rows = std::min<qint64>(m_windowRows, *m_total - first);
        const qint64 after = *m_total - first - rows;
        if (after < first) {
            // Nearer the end: counted from the oldest row.
            w.newestFirst = false;
            w.limit = rows;
            w.offset = after;
        } else {
            w.offset = first;
        }
    } else {
        w.offset = first;
    }
    if (m_total)
        count = int(std::min<qint64>(count, (*m_total - first + m_windowRows - 1) / m_windowRows));
    count = std::max(count, 1);
    if (w.newestFirst)
        w.limit = qint64(m_windowRows) * count;

    auto rows = m_connection->selectWindow(m_select, w);
    resolveSources(*rows);
    std::vector<Window> read(static_cast<size_t>(count));
    size_t n = 0;
    while (rows->next()) {
        appendTo(read[std::min(n / size_t(m_windowRows), read.size() - 1)], *rows);
        ++n;
    }
    if (!w.newestFirst) {
        // Read oldest first: turned to the list's order.
        Window& r = read.front();
        std::reverse(r.ids.begin(), r.ids.end());
        std::reverse(r.starts.begin(), r.starts.end());
    }
    for (int i = 0; i < count; ++i)
        if (i == 0 || !read[size_t(i)].ids.empty())
            keepWindow(index + i, std::move(read[size_t(i)]));
    m_lastLoaded = index + count - 1;
}

void RecordListModel::clear()
{
    beginResetModel();
    reset();
    m_rows.shrink_to_fit();
    m_ids.shrink_to_fit();
    endResetModel();
}

const char* RecordListModel::rowStart(int row) const
{
    if (!m_windowed)
        return m_rows[m_rows.size() - 1 - size_t(row)]; // row 0 is the row read last
    const Window* w = window(row / m_windowRows);
    const size_t at = size_t(row % m_windowRows);
    if (!w || at >= w->starts.size())
        return nullptr;
    return w->bytes.data() + w->starts[at];
}

const char* RecordListModel::cell(int row, int column) const
{
    const char* p = rowStart(row);
    if (!p)
        return nullptr;
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
    const char* p = cell(row, column);
    if (!p)
        return out;
    out.valid = true;
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
    if (!m_windowed)
        return m_ids[m_ids.size() - 1 - size_t(row)];
    const Window* w = window(row / m_windowRows);
    const size_t at = size_t(row % m_windowRows);
    return w && at < w->ids.size() ? w->ids[at] : 0;
}

int RecordListModel::rowOf(qint64 rowId, int near) const
{
    if (rowId == 0)
        return -1;
    if (!m_windowed) {
        const auto it = std::find(m_ids.rbegin(), m_ids.rend(), rowId);
        return it == m_ids.rend() ? -1 : int(it - m_ids.rbegin());
    }
    const int at = std::clamp(near, 0, std::max(0, rowCount() - 1)) / m_windowRows;
    for (int index : {at, at - 1, at + 1}) {
        if (index < 0 || qint64(index) * m_windowRows >= rowCount())
            continue;
        const Window* w = window(index);
        if (!w)
            continue;
        const auto it = std::find(w->ids.begin(), w->ids.end(), rowId);
        if (it != w->ids.end())
            return index * m_windowRows + int(it - w->ids.begin());
    }
    return -1;
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
    if (parent.isValid())
        return 0;
    return m_windowed ? m_shown : int(m_rows.size());
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

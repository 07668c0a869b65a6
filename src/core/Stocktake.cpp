#include "core/Stocktake.h"

#include "core/Departments.h"
#include "core/Permission.h"
#include "core/StockChange.h"
#include "db/DataFolder.h"
#include "db/RowRecord.h"
#include "db/Schema.h"
#include "db/SqlText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>

namespace vok {

namespace {

// Quantities are single-precision: two figures are the same when they are
// as floats.
bool same(double a, double b)
{
    return float(a) == float(b);
}

// Codes per statement when many devices are locked, read or written.
constexpr size_t kBatch = 500;

struct StockNow
{
    int rows = 0;
    double now = 0;
};

// Locks the stock rows of the devices and reads how many each has and
// what they hold, a batch of codes per statement.
QHash<QString, StockNow> lockStock(Connection& c, const std::vector<const StocktakeLine*>& lines)
{
    QHash<QString, StockNow> found;
    found.reserve(qsizetype(lines.size()));
    for (size_t at = 0; at < lines.size(); at += kBatch) {
        const size_t end = std::min(lines.size(), at + kBatch);
        QVariantList codes;
        for (size_t i = at; i < end; ++i)
            codes << lines[i]->code;
        const TableRows rows{schema::Device.name,
                             SqlText::compose("code IN (%1)", {SqlText::markers(codes.size())}),
                             codes};
        c.lock(rows);
        auto r = c.queryWith(SqlText::compose("SELECT code, COUNT(*), SUM(now_number) FROM %1 "
                                              "GROUP BY code",
                                              {c.fromText(rows)})
                                 .toString(),
                             codes);
        while (r->next())
            found.insert(r->text(0), {int(r->number(1)), r->number(2)});
    }
    return found;
}

// Sets now_number of each device to its count, a batch per statement; the
// values bound, so that every full batch runs the same statement.
void writeCounts(Connection& c, const std::vector<std::pair<const StocktakeLine*, double>>& writes)
{
    constexpr size_t kWriteBatch = 200;
    for (size_t at = 0; at < writes.size(); at += kWriteBatch) {
        const size_t end = std::min(writes.size(), at + kWriteBatch);
        SqlText cases;
        QVariantList caseValues, codes;
        for (size_t i = at; i < end; ++i) {
            const StocktakeLine& line = *writes[i].first;
            cases += SqlText(" WHEN ? THEN CAST(? AS REAL)");
            caseValues << line.code << float(*line.counted);
            codes << line.code;
        }
        c.executeWith(
            SqlText::compose("UPDATE %1 SET now_number = CASE code%2 END WHERE code IN (%3)",
                             {SqlText::name(schema::Device.name, c.engine()), cases,
                              SqlText::markers(codes.size())})
                .toString(),
            caseValues + codes);
    }
}

} // namespace

bool StocktakeLine::differs() const
{
    return counted && !same(*counted, book);
}

double StocktakeLine::difference() const
{
    return counted ? double(float(*counted)) - double(float(book)) : 0.0;
}

namespace Stocktake {

std::vector<StocktakeLine> list(Connection& connection, const QString& prefix)
{
    QHash<QString, QString> names;
    {
        auto r = connection.queryWith(
            QStringLiteral("SELECT code, MIN(name) FROM DEVICE_CODE GROUP BY code"), {});
        while (r->next())
            names.insert(r->text(0), r->text(1));
    }
    std::vector<StocktakeLine> lines;
    auto r = connection.queryWith(
        QStringLiteral("SELECT code, COUNT(*), SUM(now_number) FROM DEVICE GROUP BY code"), {});
    while (r->next()) {
        StocktakeLine line;
        line.code = r->text(0);
        if (!line.code.startsWith(prefix))
            continue;
        const auto name = names.constFind(line.code);
        line.inCatalogue = name != names.constEnd();
        if (line.inCatalogue)
            line.name = *name;
        line.stockRows = int(r->number(1));
        line.book = r->number(2);
        lines.push_back(std::move(line));
    }
    std::sort(lines.begin(), lines.end(),
              [](const StocktakeLine& a, const StocktakeLine& b) { return a.code < b.code; });
    return lines;
}

StocktakeSummary summarize(const std::vector<StocktakeLine>& lines)
{
    StocktakeSummary s;
    s.devices = int(lines.size());
    for (const StocktakeLine& line : lines) {
        if (!line.counted)
            continue;
        ++s.counted;
        if (line.differs()) {
            ++s.differing;
            s.difference += line.difference();
        }
    }
    return s;
}

Confirmation confirm(Connection& connection, int classNumber, const QString& user,
                     const std::vector<StocktakeLine>& lines, const Decisions& decisions)
{
    checkMayWrite(classNumber);
    Confirmation result;
    std::vector<const StocktakeLine*> counted;
    for (const StocktakeLine& line : lines)
        if (line.counted && !decisions.leftOut.contains(line.code))
            counted.push_back(&line);
    if (counted.empty())
        return result;

    Transaction transaction(connection);
    // Locked first, so that no stock-out lands between the check and the
    // write; one that came before is found here.
    const QHash<QString, StockNow> found = lockStock(connection, counted);
    std::vector<std::pair<const StocktakeLine*, double>> writes;
    for (const StocktakeLine* line : counted) {
        const auto it = found.constFind(line->code);
        if (it == found.constEnd() || it->rows != 1) {
            result.noSingleRow << line->code;
            continue;
        }
        const double now = it->now;
        const bool countDiffers = !same(*line->counted, now);
        if (!same(now, line->book)) {
            const auto accepted = decisions.accepted.constFind(line->code);
            if (accepted == decisions.accepted.constEnd() || !same(*accepted, now)) {
                // A count that is what the stock now holds needs no answer.
                if (countDiffers)
                    result.changed.push_back({line->code, line->book, now, *line->counted});
                continue;
            }
        }
        if (countDiffers)
            writes.emplace_back(line, now);
    }
    if (!result.changed.empty())
        return result;

    writeCounts(connection, writes);
    std::vector<Stock::Adjustment> adjustments;
    adjustments.reserve(writes.size());
    for (const auto& [line, before] : writes)
        adjustments.push_back({line->code, before, double(float(*line->counted))});
    Stock::recordAdjustments(connection, adjustments, Stock::stocktakeReason(), user);
    transaction.commit();
    result.adjusted = int(writes.size());
    return result;
}

QString draftFile(const QString& department)
{
    QString name = QStringLiteral("stocktake");
    for (const Department& d : departments())
        if (d.name == department)
            name += QLatin1Char('-') + d.dsn.toLower();
    return QDir(DataFolder::path()).filePath(name + QStringLiteral(".json"));
}

bool saveDraft(const QString& file, const QString& prefix, const QDateTime& listed,
               const std::vector<StocktakeLine>& lines)
{
    QJsonArray counts;
    for (const StocktakeLine& line : lines)
        if (line.counted)
            counts.append(QJsonArray{line.code, line.book, *line.counted});
    if (counts.isEmpty())
        return !QFile::exists(file) || QFile::remove(file);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QJsonObject draft{{QStringLiteral("prefix"), prefix},
                            {QStringLiteral("listed"), listed.toString(Qt::ISODate)},
                            {QStringLiteral("counts"), counts}};
    out.write(QJsonDocument(draft).toJson(QJsonDocument::Compact));
    return out.commit();
}

std::optional<Draft> loadDraft(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(in.readAll()).object();
    Draft draft;
    draft.prefix = object.value(QStringLiteral("prefix")).toString();
    draft.listed =
        QDateTime::fromString(object.value(QStringLiteral("listed")).toString(), Qt::ISODate);
    for (const QJsonValue& value : object.value(QStringLiteral("counts")).toArray()) {
        const QJsonArray count = value.toArray();
        if (count.size() != 3 || !count.at(0).isString() || !count.at(1).isDouble() ||
            !count.at(2).isDouble())
            continue;
        draft.counts.push_back(
            {count.at(0).toString(), count.at(1).toDouble(), count.at(2).toDouble()});
    }
    if (draft.counts.empty())
        return std::nullopt;
    return draft;
}

int applyDraft(const Draft& draft, std::vector<StocktakeLine>& lines)
{
    QHash<QString, size_t> rows;
    for (size_t i = 0; i < lines.size(); ++i)
        rows.insert(lines[i].code, i);
    int applied = 0;
    for (const Draft::Count& count : draft.counts) {
        const auto it = rows.constFind(count.code);
        if (it == rows.constEnd() || !lines[*it].countable())
            continue;
        lines[*it].book = count.book;
        lines[*it].counted = count.counted;
        ++applied;
    }
    return applied;
}

} // namespace Stocktake

StocktakeModel::StocktakeModel(QObject* parent) : QAbstractTableModel(parent) {}

void StocktakeModel::setLines(std::vector<StocktakeLine> lines)
{
    beginResetModel();
    m_lines = std::move(lines);
    m_rows.clear();
    m_rows.reserve(qsizetype(m_lines.size()));
    for (size_t i = 0; i < m_lines.size(); ++i)
        m_rows.insert(m_lines[i].code, int(i));
    endResetModel();
    emit countsChanged();
}

bool StocktakeModel::setCount(int row, std::optional<double> counted)
{
    if (row < 0 || row >= rowCount() || !m_lines[size_t(row)].countable())
        return false;
    m_lines[size_t(row)].counted = counted;
    emit dataChanged(index(row, Counted), index(row, Difference));
    emit countsChanged();
    return true;
}

int StocktakeModel::rowOf(const QString& code) const
{
    return m_rows.value(code, -1);
}

QString StocktakeModel::heading(int column)
{
    switch (column) {
    case Code:
        return QStringLiteral("设备号");
    case Name:
        return QStringLiteral("设备名");
    case Book:
        return QStringLiteral("账面数量");
    case Counted:
        return QStringLiteral("实盘数量");
    case Difference:
        return QStringLiteral("盘盈盘亏");
    default:
        return {};
    }
}

QString StocktakeModel::text(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const StocktakeLine& line = m_lines[size_t(row)];
    switch (column) {
    case Code:
        return line.code;
    case Name:
        return line.inCatalogue ? line.name : QStringLiteral("（代码表中无）");
    case Book:
        return singleText(line.book);
    case Counted:
        return line.counted ? singleText(*line.counted) : QString();
    case Difference:
        if (!line.countable())
            return QStringLiteral("库存表中有 %1 行，不能盘点").arg(line.stockRows);
        if (!line.counted)
            return {};
        if (!line.differs())
            return QStringLiteral("相符");
        return line.difference() > 0
                   ? QStringLiteral("盘盈 %1").arg(singleText(line.difference()))
                   : QStringLiteral("盘亏 %1").arg(singleText(-line.difference()));
    default:
        return {};
    }
}

int StocktakeModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

int StocktakeModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StocktakeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return text(index.row(), index.column());
    return {};
}

QVariant StocktakeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    return heading(section);
}

Qt::ItemFlags StocktakeModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == Counted && m_lines[size_t(index.row())].countable())
        f |= Qt::ItemIsEditable;
    return f;
}

} // namespace vok

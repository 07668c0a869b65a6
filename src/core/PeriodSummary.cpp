#include "core/PeriodSummary.h"

#include "core/Clock.h"
#include "core/CodeIndex.h"
#include "core/Permission.h"
#include "core/StockChange.h"
#include "db/DbError.h"
#include "db/Dialect.h"
#include "db/RowRecord.h"
#include "db/Schema.h"
#include "db/SqlText.h"

#include <QHash>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <type_traits>
#include <utility>

namespace vok {

namespace {

// Months are counted from year 0: year * 12 + month - 1.
int monthKey(const QDate& day)
{
    return day.year() * 12 + day.month() - 1;
}

QDate monthStart(int key)
{
    return QDate(key / 12, key % 12 + 1, 1);
}

QString periodText(int key)
{
    return monthStart(key).toString(QStringLiteral("yyyy-MM"));
}

std::optional<int> periodKey(const QString& text)
{
    const QDate d =
        QDate::fromString(text.left(7) + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid())
        return std::nullopt;
    return monthKey(d);
}

bool isZero(double q)
{
    return std::fabs(q) < 1e-6;
}

// The movement tables and the adjustments: each one's date and quantity.
struct Dated
{
    const TableDef* table;
    const char* date;
    SqlLiteral quantity;
};

const Dated kDated[] = {{&schema::DeviceIn, "in_date", "in_number"},
                        {&schema::DeviceOut, "out_date", "out_number"},
                        {&schema::DeviceReturn, "return_date", "return_number"},
                        {&schema::DeviceAdjust, "adjust_time", "after_number - before_number"}};

// The transfers come after the tables of kDated: a transfer-in without
// the sender's unit cost is valued at the month's (its priced quantity and
// value are apart in Part, as a stock-in's), a transfer-out as a stock-out.
enum Category
{
    In,
    Out,
    Return,
    Adjust,
    TransferIn,
    TransferOut,
    Categories
};
constexpr int kTables = int(std::size(kDated));

SqlText nameOf(const char* name)
{
    return SqlText::name(QString::fromLatin1(name));
}

// The month of a date's text ("YYYY-MM…"), counted as monthKey() does.
std::optional<int> monthOfBytes(QByteArrayView d)
{
    if (d.size() < 7 || d[4] != '-')
        return std::nullopt;
    const auto digit = [&d](int i) { return d[i] - '0'; };
    return (digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3)) * 12 + digit(5) * 10 +
           digit(6) - 1;
}

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd 00:00:00"));
}

// What one part of a month holds: the days before the range (0), in it
// (1) and after it (2).
struct Part
{
    double number[Categories] = {}; // the transfers in without a cost apart
    qint64 inCents = 0;
    double pricedIn = 0; // transferred in with the sender's cost
    qint64 pricedInCents = 0;
    // Opening stock given with its unit price: part of the month's cost
    // base, as a stock-in, but shown among the adjustments.
    double pricedAdjust = 0;
    qint64 pricedAdjustCents = 0;
};

struct Month
{
    Part part[3];
};

// A device's stock as a walk carries it from month to month.
struct State
{
    PeriodFigure stock;
    std::optional<double> unitCost;
};

// A device as a walk reads it: its stock at the range's first month (once
// the months before it are walked) and its months from then on, in three
// parts.
struct Device
{
    QString code;
    QString name;
    bool known = false; // in the catalogue or the stock table
    State start;
    std::map<int, Month> late;
    bool moved = false;

    // f(month, figures) for each month from the range's first that holds a
    // record, in order.
    template <typename F> void forEachMonth(F&& f) const
    {
        for (const auto& [month, m] : late)
            f(month, m);
    }
};

// A month before the range per device (by its place in the walk's index);
// a device without a record in the month is not valued in it.
constexpr qint64 kNoRecord = std::numeric_limits<qint64>::min();
// Kept small, as there may be one per device and month; the transfers of
// those months, which are few, are kept apart.
struct EarlyPart
{
    double number[kTables] = {};
    qint64 inCents = kNoRecord;
};

// What one month gives each part, in cents: the valued categories and the
// month's unit cost and closing.
struct MonthValues
{
    PeriodFigure flow[3][Categories];
    std::optional<double> unitCost;
    State closing;
};

// Values one month of a device from its opening. Stock-outs, returns and
// adjustments are valued at the unit cost, each part as the difference of
// the values of the quantities up to its end, so that the parts add up to
// the month. The month's closing is its quantity at the unit cost, and
// what rounding leaves goes to the stock-outs of the part that holds the
// month's end: the closing of a device whose stock went out whole is 0.
// The category that takes a month's rounding rest: the stock-outs, else the
// transfers out; none (-1) when nothing went out.
int restCategory(const double (&total)[Categories])
{
    return !isZero(total[Out]) ? Out : !isZero(total[TransferOut]) ? TransferOut : -1;
}

MonthValues valueMonth(const State& opening, const Month& m, int endPart)
{
    MonthValues v;
    double total[Categories] = {};
    qint64 inCents = 0;
    double pricedIn = 0;
    for (const Part& p : m.part) {
        for (int c = 0; c < Categories; ++c)
            total[c] += p.number[c];
        inCents += p.inCents + p.pricedInCents + p.pricedAdjustCents;
        pricedIn += p.pricedIn + p.pricedAdjust;
    }
    const double quantity = opening.stock.number + total[In] + pricedIn;
    const qint64 amount = opening.stock.cents + inCents;
    v.unitCost = opening.unitCost;
    if (quantity > 1e-6 && (opening.unitCost || amount != 0))
        v.unitCost = double(amount) / quantity;
    const double cost = v.unitCost.value_or(0);
    const auto value = [cost](double q) { return std::llround(q * cost); };
    for (int c = Out; c < Categories; ++c) {
        double upTo = 0;
        qint64 valued = 0;
        for (int p = 0; p < 3; ++p) {
            upTo += m.part[p].number[c];
            const qint64 next = value(upTo);
            v.flow[p][c] = {m.part[p].number[c], next - valued};
            valued = next;
        }
    }
    for (int p = 0; p < 3; ++p) {
        v.flow[p][In] = {m.part[p].number[In], m.part[p].inCents};
        v.flow[p][TransferIn].number += m.part[p].pricedIn;
        v.flow[p][TransferIn].cents += m.part[p].pricedInCents;
        v.flow[p][Adjust].number += m.part[p].pricedAdjust;
        v.flow[p][Adjust].cents += m.part[p].pricedAdjustCents;
    }
    const double closing = opening.stock.number + total[In] + pricedIn - total[Out] +
                           total[Return] + total[Adjust] + total[TransferIn] - total[TransferOut];
    qint64 closingCents = amount + value(total[Return]) + value(total[Adjust]) +
                          value(total[TransferIn]) - value(total[Out]) - value(total[TransferOut]);
    if (const int rest = restCategory(total); rest >= 0) {
        const qint64 wanted = value(closing);
        v.flow[endPart][rest].cents += closingCents - wanted;
        closingCents = wanted;
    }
    v.closing = {{closing, closingCents}, v.unitCost};
    return v;
}

PeriodFigure signedFlow(const PeriodFigure& f, int category)
{
    return category == Out || category == TransferOut ? PeriodFigure{-f.number, -f.cents} : f;
}

std::optional<int> latestClosed(Connection& c)
{
    auto r = c.queryWith(
        QStringLiteral("SELECT MAX(period) FROM PERIOD_CLOSE WHERE period LIKE '____-__'"), {});
    if (!r->next() || r->isNull(0))
        return std::nullopt;
    return periodKey(r->text(0));
}

// A decimal text (or number) of the stored figures; none for NULL or an
// empty text, 0 for a text that is no number.
std::optional<double> decimalOf(const RowSet::Cell& cell)
{
    if (cell.kind == RowSet::Cell::Number)
        return cell.number;
    if (cell.kind != RowSet::Cell::Text || cell.utf8.isEmpty())
        return std::nullopt;
    double value = 0;
    const char* end = cell.utf8.data() + cell.utf8.size();
    if (std::from_chars(cell.utf8.data(), end, value).ec != std::errc())
        return 0.0;
    return value;
}

// The walk over the ledger behind the summary and the device ledger.
class Walk
{
public:
    Walk(Connection& c, const QDate& from, const QDate& to, const QString& code)
        : m_c(c), m_from(from), m_to(to), m_code(code)
    {
    }

    CodeIndex<Device> devices;
    int rangeMonth = 0; // the range's first month
    int lastMonth = 0;  // the range's last month, walked whole

    void read()
    {
        rangeMonth = monthKey(m_from);
        lastMonth = monthKey(m_to);
        const std::optional<int> closed = latestClosed(m_c);
        std::optional<int> stored; // the closed month the walk starts after
        if (closed && *closed >= rangeMonth - 1)
            stored = rangeMonth - 1;
        else if (closed)
            stored = *closed;
        if (stored)
            readStored(*stored);
        readMovements(stored ? std::optional<int>(*stored + 1) : std::nullopt);
        readTransfers(stored ? *stored + 1 : -1);
        walkEarly();
    }

    // The part of a month its last day falls in.
    int endPart(int month) const
    {
        const QDate end = monthStart(month + 1).addDays(-1);
        return end < m_from ? 0 : end <= m_to ? 1 : 2;
    }

private:
    // The months before the range, month by month, each the devices' totals
    // by their place in the index: rows come about in time order, so that
    // those of a month fall into one block.
    std::vector<std::vector<EarlyPart>> m_early;
    int m_earlyBase = 0; // the month of m_early[0]
    // The transfers of those months by month and place in the index.
    std::map<std::pair<int, size_t>, Part> m_earlyTransfers;

    // Adds a record's quantity (and for a stock-in, a transfer-in with the
    // sender's cost or a priced opening, its value) to its device's month
    // and part.
    void add(Device& device, int month, int p, int category, double number, qint64 cents,
             bool priced = false)
    {
        const auto addTo = [&](auto& part) {
            if (priced) {
                if constexpr (std::is_same_v<std::decay_t<decltype(part)>, Part>) {
                    (category == Adjust ? part.pricedAdjust : part.pricedIn) += number;
                    (category == Adjust ? part.pricedAdjustCents : part.pricedInCents) += cents;
                }
                return;
            }
            part.number[category] += number;
            part.inCents += cents;
        };
        if (month >= rangeMonth) {
            addTo(device.late[month].part[p]);
            return;
        }
        EarlyPart& e = early(device, month);
        if (category < kTables && !priced)
            addTo(e);
        else
            addTo(m_earlyTransfers[{month, size_t(&device - devices.rows().data())}]);
    }

    EarlyPart& early(Device& device, int month)
    {
        if (m_early.empty()) {
            m_early.resize(size_t(rangeMonth - month));
            m_earlyBase = month;
        } else if (month < m_earlyBase) {
            m_early.insert(m_early.begin(), size_t(m_earlyBase - month), {});
            m_earlyBase = month;
        }
        std::vector<EarlyPart>& block = m_early[size_t(month - m_earlyBase)];
        const auto at = size_t(&device - devices.rows().data());
        if (at >= block.size())
            block.resize(std::max(at + 1, devices.rows().size()));
        EarlyPart& e = block[at];
        if (e.inCents == kNoRecord)
            e.inCents = 0;
        return e;
    }

    // Values the months before the range: each device then starts the
    // range from its closing of the month before. Those months lie wholly
    // before the range, so what they add is the range's opening.
    void walkEarly()
    {
        std::vector<Device>& rows = devices.rows();
        for (size_t i = 0; i < m_early.size(); ++i) {
            std::vector<EarlyPart> block = std::move(m_early[i]);
            for (size_t at = 0; at < block.size() && at < rows.size(); ++at) {
                if (block[at].inCents == kNoRecord)
                    continue;
                Month m;
                std::copy(std::begin(block[at].number), std::end(block[at].number),
                          m.part[0].number);
                m.part[0].inCents = block[at].inCents;
                if (const auto t = m_earlyTransfers.find({m_earlyBase + int(i), at});
                    t != m_earlyTransfers.end()) {
                    m.part[0].number[TransferIn] = t->second.number[TransferIn];
                    m.part[0].number[TransferOut] = t->second.number[TransferOut];
                    m.part[0].pricedIn = t->second.pricedIn;
                    m.part[0].pricedInCents = t->second.pricedInCents;
                    m.part[0].pricedAdjust = t->second.pricedAdjust;
                    m.part[0].pricedAdjustCents = t->second.pricedAdjustCents;
                }
                rows[at].start = valueMonth(rows[at].start, m, 0).closing;
            }
        }
        m_early.clear();
        m_earlyTransfers.clear();
    }

    SqlText codeCondition() const
    {
        return m_code.isEmpty() ? SqlText() : SqlText(" AND code = ?");
    }

    void readStored(int month)
    {
        QVariantList values{periodText(month)};
        if (!m_code.isEmpty())
            values << m_code;
        auto r = m_c.queryWith((SqlText("SELECT code, close_number, close_amount, unit_cost FROM "
                                        "DEVICE_PERIOD WHERE period = ?") +
                                codeCondition())
                                   .toString(),
                               values);
        while (r->next()) {
            Device& d = devices[r->utf8(0)];
            d.start.stock = {r->number(1), std::llround(decimalOf(r->cell(2)).value_or(0) * 100)};
            if (const auto cost = decimalOf(r->cell(3)))
                d.start.unitCost = *cost * 100;
        }
    }

    // The rows of each table up to the range's last month (from the month
    // after the stored closing), their plain columns only, added up here by
    // device, month and part on both engines. Grouped by the engine, they
    // would come back about as many as they are (the months before the
    // range hold a few rows per device), after a sort or a hash of every
    // row: on the server that took longer than reading them all. On the
    // embedded engine, a pass over more than a few months reads the table
    // straight through rather than row by row through the date's index.
    void readMovements(std::optional<int> since)
    {
        const bool textDates = m_c.engine() == Engine::Sqlite;
        const bool scan = textDates && m_code.isEmpty() && (!since || lastMonth - *since >= 3);
        const SqlText marker = SqlText::dateMarker(m_c.engine());
        const QByteArray fromText = dayText(m_from).toUtf8(),
                         toText = dayText(m_to.addDays(1)).toUtf8();
        for (int category = 0; category < kTables; ++category) {
            const Dated& t = kDated[category];
            const SqlText date = nameOf(t.date);
            const bool priceColumn = category == In || category == Adjust;
            QVariantList values;
            SqlText sql = SqlText::compose("SELECT code, %1", {SqlText(t.quantity)});
            if (priceColumn)
                sql += SqlText(", price");
            // The date, or on the server the month and part it falls in:
            // its driver reads a date's text far slower than two integers.
            if (textDates) {
                sql += SqlText(", ") + date;
            } else {
                sql += SqlText::compose(
                    ", CAST(DATE_PART('year', %1) * 12 + DATE_PART('month', %1) - 1 AS INTEGER), "
                    "CASE WHEN %1 < %2 THEN 0 WHEN %1 < %2 THEN 1 ELSE 2 END",
                    {date, marker});
                values << dayText(m_from) << dayText(m_to.addDays(1));
            }
            const SqlText bounded = scan ? SqlText("+") + date : date;
            sql += SqlText::compose(" FROM %1 WHERE %2 < %3",
                                    {SqlText::name(t.table->name), bounded, marker});
            values << dayText(monthStart(lastMonth + 1));
            if (since) {
                sql += SqlText::compose(" AND %1 >= %2", {bounded, marker});
                values << dayText(monthStart(*since));
            }
            // A correction brings the stock to what the records say and is
            // no part of that figure.
            if (category == Adjust) {
                sql += SqlText(" AND (reason IS NULL OR reason <> ?)");
                values << Stock::correctionReason();
            }
            if (!m_code.isEmpty()) {
                sql += codeCondition();
                values << m_code;
            }
            auto r = m_c.queryWith(sql.toString(), values);
            const int whenColumn = priceColumn ? 3 : 2;
            while (r->next()) {
                std::optional<int> month;
                int p = 0;
                if (textDates) {
                    const RowSet::Cell when = r->cell(whenColumn);
                    const QByteArrayView d = when.utf8;
                    if (when.kind == RowSet::Cell::Text)
                        month = monthOfBytes(d);
                    p = d < QByteArrayView(fromText) ? 0 : d < QByteArrayView(toText) ? 1 : 2;
                } else if (const RowSet::Cell m = r->cell(whenColumn);
                           m.kind == RowSet::Cell::Number) {
                    month = int(m.number);
                    p = std::clamp(int(r->cell(whenColumn + 1).number), 0, 2);
                }
                if (!month)
                    continue;
                const double number = r->cell(1).number;
                qint64 inCents = 0;
                bool priced = false; // an opening given with its unit price
                if (priceColumn) {
                    const RowSet::Cell price = r->cell(2);
                    priced = category == Adjust && price.kind == RowSet::Cell::Number;
                    if (price.kind == RowSet::Cell::Number)
                        inCents = std::llround(number * price.number * 100);
                }
                Device& device = devices[r->utf8(0)];
                add(device, *month, p, category, number, inCents, priced);
                if (p == 1)
                    device.moved = true;
            }
        }
    }

    // The transfers up to the range's last month (from the month after the
    // stored closing): those sent by their sending, those received by
    // their receipt (since: none, -1). They are few: their rows come as
    // they are.
    void readTransfers(int since)
    {
        const SqlText marker = SqlText::dateMarker(m_c.engine());
        const QString fromText = dayText(m_from), toText = dayText(m_to.addDays(1));
        const SqlLiteral sql[] = {
            "SELECT l.code, t.received_at, l.received_number, l.unit_cost FROM TRANSFER_IN_LINE l "
            "JOIN TRANSFER_IN t ON t.transfer_id = l.transfer_id WHERE l.received_number IS NOT "
            "NULL AND t.received_at IS NOT NULL AND t.received_at < %1",
            "SELECT l.code, t.sent_at, l.quantity, NULL FROM TRANSFER_OUT_LINE l JOIN TRANSFER_OUT "
            "t ON t.transfer_id = l.transfer_id WHERE t.sent_at < %1"};
        const SqlLiteral date[] = {"t.received_at", "t.sent_at"};
        for (int side = 0; side < 2; ++side) {
            SqlText text = SqlText::compose(sql[side], {marker});
            QVariantList values{dayText(monthStart(lastMonth + 1))};
            if (since >= 0) {
                text += SqlText::compose(" AND %1 >= %2", {SqlText(date[side]), marker});
                values << dayText(monthStart(since));
            }
            if (!m_code.isEmpty()) {
                text += SqlText(" AND l.code = ?");
                values << m_code;
            }
            auto r = m_c.queryWith(text.toString(), values);
            while (r->next()) {
                const QString when = r->text(1);
                const auto d = parseDateTime(when);
                if (!d)
                    continue;
                const int month = d->year * 12 + d->month - 1;
                const int p = when < fromText ? 0 : when < toText ? 1 : 2;
                const double number = r->number(2);
                Device& device = devices[r->utf8(0)];
                const std::optional<double> cost = side == 0 ? decimalOf(r->cell(3)) : std::nullopt;
                add(device, month, p, side == 0 ? TransferIn : TransferOut, number,
                    cost ? std::llround(number * *cost * 100) : 0, cost.has_value());
                if (p == 1)
                    device.moved = true;
            }
        }
    }

    Connection& m_c;
    QDate m_from, m_to;
    QString m_code;
};

void readNames(Connection& c, CodeIndex<Device>& devices, bool addAll)
{
    {
        auto r = c.queryWith(
            QStringLiteral("SELECT code, MIN(name) FROM DEVICE_CODE GROUP BY code"), {});
        while (r->next()) {
            Device* d = addAll ? &devices[r->utf8(0)] : devices.find(r->utf8(0));
            if (!d)
                continue;
            d->name = r->text(1);
            d->known = true;
        }
    }
    if (addAll) {
        auto r = c.queryWith(QStringLiteral("SELECT DISTINCT code FROM DEVICE"), {});
        while (r->next())
            devices[r->utf8(0)].known = true;
    }
}

PeriodRow summarise(const Device& d, const Walk& walk)
{
    PeriodRow row;
    row.code = d.code;
    row.name = d.name;
    row.moved = d.moved;
    State state = d.start;
    row.opening = state.stock;
    PeriodFigure* columns[Categories] = {&row.stockIn,  &row.stockOut,   &row.returned,
                                         &row.adjusted, &row.transferIn, &row.transferOut};
    d.forEachMonth([&](int month, const Month& m) {
        const MonthValues v = valueMonth(state, m, walk.endPart(month));
        for (int c = 0; c < Categories; ++c) {
            row.opening += signedFlow(v.flow[0][c], c);
            *columns[c] += v.flow[1][c];
        }
        state = v.closing;
    });
    row.unitCost = state.unitCost;
    row.closing = row.opening;
    row.closing += row.stockIn;
    row.closing += signedFlow(row.stockOut, Out);
    row.closing += row.returned;
    row.closing += row.adjusted;
    row.closing += row.transferIn;
    row.closing += signedFlow(row.transferOut, TransferOut);
    return row;
}

} // namespace

bool PeriodRow::balances() const
{
    const double n = opening.number + stockIn.number - stockOut.number + returned.number +
                     adjusted.number + transferIn.number - transferOut.number;
    return isZero(n - closing.number) &&
           closing.cents == opening.cents + stockIn.cents - stockOut.cents + returned.cents +
                                adjusted.cents + transferIn.cents - transferOut.cents;
}

QString centsText(qint64 cents)
{
    const qint64 a = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(a / 100)
        .arg(a % 100, 2, 10, QLatin1Char('0'));
}

QString unitCostText(const std::optional<double>& centsPerUnit)
{
    if (!centsPerUnit)
        return QStringLiteral("无单价");
    return centsText(std::llround(*centsPerUnit));
}

QString monthName(const QDate& month)
{
    return QStringLiteral("%1年%2月").arg(month.year()).arg(month.month());
}

namespace PeriodSummary {

PeriodSummaryResult read(Connection& connection, const QDate& from, const QDate& to,
                         const QString& prefix, bool includeIdle)
{
    Walk walk(connection, from, to, {});
    walk.read();
    readNames(connection, walk.devices, includeIdle);
    PeriodSummaryResult result;
    for (Device& d : walk.devices.rows()) {
        if (!d.code.startsWith(prefix))
            continue;
        PeriodRow row = summarise(d, walk);
        const bool idle = !row.moved && isZero(row.opening.number) && isZero(row.closing.number) &&
                          row.opening.cents == 0 && row.closing.cents == 0;
        const bool known = d.known;
        // The device's months are done with: let them go as the rows grow.
        d = Device();
        if (idle && !(includeIdle && known))
            continue;
        result.rows.push_back(std::move(row));
    }
    // Mostly in order already: a closed month's figures come by code.
    if (!std::is_sorted(result.rows.begin(), result.rows.end(),
                        [](const PeriodRow& a, const PeriodRow& b) { return a.code < b.code; }))
        std::sort(result.rows.begin(), result.rows.end(),
                  [](const PeriodRow& a, const PeriodRow& b) { return a.code < b.code; });
    for (const PeriodRow& row : result.rows) {
        result.total.opening += row.opening;
        result.total.stockIn += row.stockIn;
        result.total.stockOut += row.stockOut;
        result.total.returned += row.returned;
        result.total.adjusted += row.adjusted;
        result.total.transferIn += row.transferIn;
        result.total.transferOut += row.transferOut;
        result.total.closing += row.closing;
        result.total.moved = result.total.moved || row.moved;
    }
    return result;
}

std::vector<LedgerLine> ledger(Connection& connection, const QString& code, const QDate& from,
                               const QDate& to)
{
    Walk walk(connection, from, to, code);
    walk.read();
    const Device* found = walk.devices.find(code.toUtf8());
    const Device d = found ? *found : Device();

    // The lines of the range, in time order.
    struct Entry
    {
        QString time;
        int category;
        int order;
        double number;
        qint64 inCents;
        QString kind, details;
        bool priced = false; // a transfer in at the sender's cost, an opening at its price
    };
    std::vector<Entry> entries;
    const SqlText marker = SqlText::dateMarker(connection.engine());
    const QVariantList values{code, dayText(from), dayText(to.addDays(1))};
    // The rows of a table's date column in the range.
    const auto range = [&marker](SqlLiteral date) {
        return SqlText::compose(" WHERE code = ? AND %1 >= %2 AND %1 < %2",
                                {SqlText(date), marker});
    };
    {
        auto r = connection.queryWith(
            (SqlText("SELECT in_date, in_number, price, provider, buyer FROM DEVICE_IN") +
             range("in_date"))
                .toString(),
            values);
        while (r->next()) {
            const double n = r->number(1);
            entries.push_back({r->text(0), In, int(entries.size()), n,
                               std::llround(n * r->number(2) * 100), QStringLiteral("入库"),
                               QStringLiteral("供应商：%1 单价：%2 采购员：%3")
                                   .arg(r->text(3), r->text(2), r->text(4))});
        }
    }
    {
        auto r = connection.queryWith(
            (SqlText("SELECT out_date, out_number, department, taker, usage FROM DEVICE_OUT") +
             range("out_date"))
                .toString(),
            values);
        while (r->next())
            entries.push_back({r->text(0), Out, int(entries.size()), r->number(1), 0,
                               QStringLiteral("出库"),
                               QStringLiteral("部门：%1 领用人：%2 用途：%3")
                                   .arg(r->text(2), r->text(3), r->text(4))});
    }
    {
        auto r = connection.queryWith(
            (SqlText("SELECT return_date, return_number, return_person, keeper FROM "
                     "DEVICE_RETURN") +
             range("return_date"))
                .toString(),
            values);
        while (r->next())
            entries.push_back(
                {r->text(0), Return, int(entries.size()), r->number(1), 0, QStringLiteral("退库"),
                 QStringLiteral("退库人：%1 保管人：%2").arg(r->text(2), r->text(3))});
    }
    {
        auto r = connection.queryWith(
            (SqlText("SELECT adjust_time, after_number - before_number, reason, user_name, "
                     "before_number, after_number, price FROM DEVICE_ADJUST") +
             range("adjust_time") + SqlText(" AND (reason IS NULL OR reason <> ?)"))
                .toString(),
            values + QVariantList{Stock::correctionReason()});
        while (r->next()) {
            const double n = r->number(1);
            const std::optional<double> price = decimalOf(r->cell(6));
            QString details =
                QStringLiteral("%1 → %2 操作员：%3").arg(r->text(4), r->text(5), r->text(3));
            if (price)
                details += QStringLiteral(" 单价：%1").arg(r->text(6));
            entries.push_back({r->text(0), Adjust, int(entries.size()), n,
                               price ? std::llround(n * *price * 100) : 0,
                               r->text(2).isEmpty() ? QStringLiteral("调整") : r->text(2), details,
                               price.has_value()});
        }
    }
    {
        auto r = connection.queryWith(
            SqlText::compose("SELECT t.received_at, l.received_number, l.unit_cost, t.source, "
                             "t.transfer_id, l.quantity FROM TRANSFER_IN_LINE l JOIN TRANSFER_IN "
                             "t ON t.transfer_id = l.transfer_id WHERE l.code = ? AND "
                             "l.received_number IS NOT NULL AND t.received_at >= %1 AND "
                             "t.received_at < %1",
                             {marker})
                .toString(),
            values);
        while (r->next()) {
            const double n = r->number(1);
            const std::optional<double> cost = decimalOf(r->cell(2));
            QString details =
                QStringLiteral("调出部门：%1 调拨单：%2 单价：%3")
                    .arg(r->text(3), r->text(4), cost ? r->text(2) : QStringLiteral("无"));
            if (!isZero(r->number(5) - n))
                details += QStringLiteral(" 发出：%1").arg(singleText(r->number(5)));
            entries.push_back({r->text(0), TransferIn, int(entries.size()), n,
                               cost ? std::llround(n * *cost * 100) : 0, QStringLiteral("调入"),
                               details, cost.has_value()});
        }
    }
    {
        auto r = connection.queryWith(
            SqlText::compose("SELECT t.sent_at, l.quantity, t.target, t.transfer_id FROM "
                             "TRANSFER_OUT_LINE l JOIN TRANSFER_OUT t ON t.transfer_id = "
                             "l.transfer_id WHERE l.code = ? AND t.sent_at >= %1 AND "
                             "t.sent_at < %1",
                             {marker})
                .toString(),
            values);
        while (r->next())
            entries.push_back(
                {r->text(0), TransferOut, int(entries.size()), r->number(1), 0,
                 QStringLiteral("调出"),
                 QStringLiteral("调入部门：%1 调拨单：%2").arg(r->text(2), r->text(3))});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.time < b.time; });

    // The opening and each month's unit cost come from the walk; a line is
    // valued as the difference of its category's values before and after
    // it in its month, as the summary values the parts.
    std::vector<LedgerLine> lines;
    State state = d.start;
    PeriodFigure balance = state.stock;
    std::map<int, MonthValues> valued;
    std::map<int, double> before[Categories]; // per month: the quantity before the range
    std::map<int, double> inRange; // per month: the quantity of its rounding rest in the range
    std::map<int, int> restOf;     // per month: the category of its rounding rest
    d.forEachMonth([&](int month, const Month& m) {
        const MonthValues v = valueMonth(state, m, walk.endPart(month));
        double total[Categories] = {};
        for (int c = 0; c < Categories; ++c) {
            balance += signedFlow(v.flow[0][c], c);
            before[c][month] = m.part[0].number[c];
            for (const Part& p : m.part)
                total[c] += p.number[c];
        }
        restOf[month] = restCategory(total);
        inRange[month] = restOf[month] < 0 ? 0 : m.part[1].number[restOf[month]];
        valued[month] = v;
        state = v.closing;
    });
    lines.push_back({QString(), QStringLiteral("期初"), QString(), {}, balance});
    std::map<int, double> upTo[Categories];
    // The month whose rounding rest still has to be shown: after its last
    // stock-out in the range, or on a line of its own.
    std::map<int, qint64> rest;
    for (const auto& [month, v] : valued)
        if (const int c = restOf[month]; walk.endPart(month) == 1 && c >= 0) {
            const double cost = v.unitCost.value_or(0);
            const double start = before[c][month];
            const qint64 priced = v.flow[1][c].cents;
            rest[month] = priced - (std::llround((start + inRange[month]) * cost) -
                                    std::llround(start * cost));
        }
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const auto when = parseDateTime(e.time);
        const int month = when ? when->year * 12 + when->month - 1 : walk.lastMonth;
        PeriodFigure change;
        if (e.category == In || e.priced) {
            change = {e.number, e.inCents};
        } else {
            const double cost = valued.count(month) ? valued[month].unitCost.value_or(0) : 0;
            double& done = upTo[e.category][month];
            const double start = before[e.category][month] + done;
            done += e.number;
            const qint64 cents =
                std::llround((start + e.number) * cost) - std::llround(start * cost);
            change = signedFlow({e.number, cents}, e.category);
        }
        // The rest of the month's rounding goes with its last stock-out
        // (or transfer out, when none went out otherwise).
        bool lastOut = rest.count(month) && e.category == restOf[month];
        for (size_t j = i + 1; lastOut && j < entries.size(); ++j) {
            const auto w = parseDateTime(entries[j].time);
            if (entries[j].category == e.category && w && w->year * 12 + w->month - 1 == month)
                lastOut = false;
        }
        if (lastOut) {
            change.cents -= rest[month];
            rest.erase(month);
        }
        balance += change;
        lines.push_back({e.time, e.kind, e.details, change, balance});
    }
    for (const auto& [month, cents] : rest) {
        if (cents == 0)
            continue;
        const PeriodFigure change{0, -cents};
        balance += change;
        lines.push_back(
            {monthStart(month + 1).addDays(-1).toString(QStringLiteral("yyyy-MM-dd 23:59:59")),
             QStringLiteral("出库成本尾差"), QString(), change, balance});
    }
    return lines;
}

namespace {

QString quantityText(double q)
{
    return singleText(isZero(q) ? 0 : q);
}

constexpr ReportColumn kSummaryColumns[] = {
    {u"设备号", 230},    {u"设备名", 640},    {u"期初数量", 1170}, {u"期初金额", 1545},
    {u"入库数量", 1920}, {u"入库金额", 2295}, {u"出库数量", 2670}, {u"出库金额", 3045},
    {u"退库数量", 3420}, {u"退库金额", 3795}, {u"调入数量", 4170}, {u"调入金额", 4545},
    {u"调出数量", 4920}, {u"调出金额", 5295}, {u"调整数量", 5670}, {u"调整金额", 6045},
    {u"期末数量", 6420}, {u"期末金额", 6795}, {u"单　价", 7170}};
constexpr int kSummaryRules[] = {200,  610,  1140, 1515, 1890, 2265, 2640, 3015, 3390, 3765,
                                 4140, 4515, 4890, 5265, 5640, 6015, 6390, 6765, 7140, 7600};
constexpr ReportColumn kLedgerColumns[] = {
    {u"日期时间", 240}, {u"摘　要", 1700},   {u"说　明", 2500},  {u"数　量", 4900},
    {u"金　额", 5550},  {u"结存数量", 6200}, {u"结存金额", 6900}};
constexpr int kLedgerRules[] = {200, 1650, 2450, 4850, 5500, 6150, 6850, 7600};

} // namespace

std::vector<RecordListModel::Column> columns()
{
    std::vector<RecordListModel::Column> out{{QStringLiteral("设备号")},
                                             {QStringLiteral("设备名")}};
    for (const char16_t* head :
         {u"期初", u"入库", u"出库", u"退库", u"调入", u"调出", u"盘点与调整", u"期末"}) {
        out.push_back({QString::fromUtf16(head) + QStringLiteral("数量"), ListColumn::Figure});
        out.push_back({QString::fromUtf16(head) + QStringLiteral("金额"), ListColumn::Figure});
    }
    out.push_back({QStringLiteral("单价"), ListColumn::Figure});
    return out;
}

QList<QStringList> texts(const PeriodSummaryResult& summary)
{
    QList<QStringList> out;
    const auto row = [](const PeriodRow& r, const QString& code, const QString& name,
                        const QString& cost) {
        QStringList cells{code, name};
        for (const PeriodFigure* f : {&r.opening, &r.stockIn, &r.stockOut, &r.returned,
                                      &r.transferIn, &r.transferOut, &r.adjusted, &r.closing})
            cells << quantityText(f->number) << centsText(f->cents);
        cells << cost;
        return cells;
    };
    for (const PeriodRow& r : summary.rows)
        out << row(r, r.code, r.name, unitCostText(r.unitCost));
    out << row(summary.total, QStringLiteral("合计"), QString(), QString());
    return out;
}

const ReportLayout& report()
{
    static const ReportLayout layout{
        .title = u"收发存汇总表",
        .bodyPoints = 6,
        .columns = {std::begin(kSummaryColumns), std::end(kSummaryColumns)},
        .rules = kSummaryRules};
    return layout;
}

std::vector<RecordListModel::Column> ledgerColumns()
{
    return {{QStringLiteral("日期时间")},
            {QStringLiteral("摘要")},
            {QStringLiteral("说明")},
            {QStringLiteral("数量"), ListColumn::Figure},
            {QStringLiteral("金额"), ListColumn::Figure},
            {QStringLiteral("结存数量"), ListColumn::Figure},
            {QStringLiteral("结存金额"), ListColumn::Figure}};
}

QList<QStringList> ledgerTexts(const std::vector<LedgerLine>& lines)
{
    QList<QStringList> out;
    for (const LedgerLine& l : lines) {
        const bool opening = l.time.isEmpty();
        out << QStringList{l.time,
                           l.kind,
                           l.details,
                           opening ? QString() : quantityText(l.change.number),
                           opening ? QString() : centsText(l.change.cents),
                           quantityText(l.balance.number),
                           centsText(l.balance.cents)};
    }
    return out;
}

const ReportLayout& ledgerReport()
{
    static const ReportLayout layout{
        .title = u"设备明细账",
        .bodyPoints = 8,
        .columns = {std::begin(kLedgerColumns), std::end(kLedgerColumns)},
        .rules = kLedgerRules};
    return layout;
}

ExportSource exportSource(const std::vector<RecordListModel::Column>& columns,
                          const QList<QStringList>& rows)
{
    ExportSource s;
    s.rows = int(rows.size());
    s.columns = int(columns.size());
    s.heading = [columns](int c) { return columns[size_t(c)].heading; };
    s.text = [rows](int r, int c) { return rows.at(r).value(c); };
    s.numeric = [columns](int c) { return columns[size_t(c)].kind != ListColumn::Text; };
    return s;
}

int titleEnd(const QString& title)
{
    int end = 3000;
    for (const QChar c : title)
        end += c.unicode() >= 0x2E80 ? 310 : 160;
    return std::min(end, 7600);
}

QString rangeName(const QDate& from, const QDate& to)
{
    if (from.day() == 1 && to == from.addMonths(1).addDays(-1))
        return monthName(from);
    return QStringLiteral("%1 至 %2")
        .arg(from.toString(QStringLiteral("yyyy-MM-dd")),
             to.toString(QStringLiteral("yyyy-MM-dd")));
}

} // namespace PeriodSummary

namespace PeriodClose {

namespace {

QString refusalText(int month)
{
    return QStringLiteral("%1已月结，不能录入或修改该月的记录。").arg(monthName(monthStart(month)));
}

void addLog(Connection& c, const QString& user, const QString& text)
{
    c.append(schema::Howdo.name, schema::Howdo.columnNames(),
             {user, text, Clock::now().toString(u"yyyy-MM-dd HH:mm:ss")});
}

std::optional<int> monthOfText(const QString& date)
{
    const auto d = parseDateTime(date);
    if (!d)
        return std::nullopt;
    return d->year * 12 + d->month - 1;
}

} // namespace

std::optional<QDate> lastClosed(Connection& connection)
{
    const auto key = latestClosed(connection);
    if (!key)
        return std::nullopt;
    return monthStart(*key);
}

std::optional<QDate> nextToClose(Connection& connection, const QDate& today)
{
    const int last = monthKey(today) - 1;
    std::optional<int> next;
    if (const auto closed = latestClosed(connection)) {
        next = *closed + 1;
    } else {
        QList<SqlText> firsts;
        for (const Dated& t : kDated)
            firsts << SqlText::compose("SELECT MIN(%1) FROM %2",
                                       {nameOf(t.date), SqlText::name(t.table->name)});
        firsts << SqlText("SELECT MIN(sent_at) FROM TRANSFER_OUT")
               << SqlText("SELECT MIN(received_at) FROM TRANSFER_IN");
        for (const SqlText& sql : firsts) {
            auto r = connection.queryWith(sql.toString(), {});
            if (r->next() && !r->isNull(0))
                if (const auto m = monthOfText(r->text(0)))
                    next = next ? std::min(*next, *m) : *m;
        }
    }
    if (!next || *next > last)
        return std::nullopt;
    return monthStart(*next);
}

QString mayClose(int classNumber)
{
    return classNumber == 1 || classNumber == 2 ? QString()
                                                : QStringLiteral("只有一级和二级用户才能月结。");
}

QString mayReopen(int classNumber)
{
    return classNumber == 1 ? QString() : QStringLiteral("只有一级用户才能反结账。");
}

namespace {
std::function<void()>& closeHook()
{
    static std::function<void()> hook;
    return hook;
}
} // namespace

void setCloseHook(std::function<void()> hook)
{
    closeHook() = std::move(hook);
}

QDate close(Connection& connection, int classNumber, const QString& user, const QDate& today)
{
    if (const QString refusal = mayClose(classNumber); !refusal.isEmpty())
        throw DbError(DbError::Kind::Refused, refusal);
    Transaction transaction(connection);
    // No movement may come between the reading and the storing: the
    // server holds off every other writer of the movement tables until the
    // end of the transaction (the embedded engine's transaction holds the
    // file's write lock from its start).
    if (connection.engine() == Engine::Postgres) {
        QList<SqlText> tables;
        for (const Dated& t : kDated)
            tables << SqlText::name(t.table->name, connection.engine());
        connection.executeWith(
            SqlText::compose("LOCK TABLE %1 IN SHARE MODE", {SqlText::joined(tables, ", ")})
                .toString(),
            {});
    }
    const std::optional<QDate> month = nextToClose(connection, today);
    if (!month)
        throw DbError(DbError::Kind::Refused,
                      QStringLiteral("没有可以月结的月份：上月及以前的月份都已月结。"));
    const QDate last = month->addMonths(1).addDays(-1);
    const PeriodSummaryResult figures = PeriodSummary::read(connection, *month, last);
    if (const auto& hook = closeHook())
        hook();
    // Marked closed first: from here on no movement of the month is taken.
    connection.append(
        schema::PeriodClose.name, schema::PeriodClose.columnNames(),
        {periodText(monthKey(*month)), Clock::now().toString(u"yyyy-MM-dd HH:mm:ss"), user});
    size_t at = 0;
    const QString period = periodText(monthKey(*month));
    connection.appendRows(
        schema::DevicePeriod.name, schema::DevicePeriod.columnNames(), [&](QVariantList& v) {
            if (at == figures.rows.size())
                return false;
            const PeriodRow& r = figures.rows[at++];
            v = {period,
                 r.code,
                 r.opening.number,
                 centsText(r.opening.cents),
                 r.stockIn.number,
                 centsText(r.stockIn.cents),
                 r.stockOut.number,
                 centsText(r.stockOut.cents),
                 r.returned.number,
                 centsText(r.returned.cents),
                 r.adjusted.number,
                 centsText(r.adjusted.cents),
                 r.closing.number,
                 centsText(r.closing.cents),
                 r.unitCost ? QVariant(QString::number(*r.unitCost / 100, 'f', 8)) : QVariant(),
                 r.transferIn.number,
                 centsText(r.transferIn.cents),
                 r.transferOut.number,
                 centsText(r.transferOut.cents)};
            return true;
        });
    addLog(connection, user, QStringLiteral("月结 ") + monthName(*month));
    transaction.commit();
    return *month;
}

QDate reopen(Connection& connection, int classNumber, const QString& user)
{
    if (const QString refusal = mayReopen(classNumber); !refusal.isEmpty())
        throw DbError(DbError::Kind::Refused, refusal);
    Transaction transaction(connection);
    const auto closed = latestClosed(connection);
    if (!closed)
        throw DbError(DbError::Kind::Refused, QStringLiteral("还没有月结过的月份。"));
    const QString period = periodText(*closed);
    connection.remove({schema::DevicePeriod.name, SqlText("period = ?"), {period}});
    connection.remove({schema::PeriodClose.name, SqlText("period = ?"), {period}});
    addLog(connection, user, QStringLiteral("反结账 ") + monthName(monthStart(*closed)));
    transaction.commit();
    return monthStart(*closed);
}

int dateColumn(const TableDef& table)
{
    for (const Dated& t : kDated)
        if (t.table == &table)
            return table.indexOf(QString::fromLatin1(t.date));
    return -1;
}

QString refusalFor(Connection& connection, const QString& date)
{
    const auto month = monthOfText(date);
    if (!month)
        return {};
    const auto closed = latestClosed(connection);
    return closed && *month <= *closed ? refusalText(*month) : QString();
}

void checkValues(Connection& connection, const TableDef& table, const QVariantList& values)
{
    valuesCheck(connection, table)(values);
}

std::function<void(const QVariantList&)> valuesCheck(Connection& connection, const TableDef& table)
{
    const int column = dateColumn(table);
    const auto closed = column < 0 ? std::nullopt : latestClosed(connection);
    if (!closed)
        return [](const QVariantList&) {};
    return [column, last = *closed](const QVariantList& values) {
        if (column >= values.size())
            return;
        const auto month = monthOfText(values.at(column).toString());
        if (month && *month <= last)
            throw DbError(DbError::Kind::Refused, refusalText(*month));
    };
}

void checkRows(Connection& connection, const TableRows& rows)
{
    const TableDef* table = schema::find(rows.table);
    if (!table || dateColumn(*table) < 0)
        return;
    const auto closed = latestClosed(connection);
    if (!closed)
        return;
    const SqlText date = SqlText::name(table->columns.at(size_t(dateColumn(*table))).name);
    auto r = connection.queryWith(
        SqlText::compose("SELECT MIN(%1) FROM %2", {date, connection.fromText(rows)}).toString(),
        rows.values);
    if (!r->next() || r->isNull(0))
        return;
    if (const auto month = monthOfText(r->text(0)); month && *month <= *closed)
        throw DbError(DbError::Kind::Refused, refusalText(*month));
}

} // namespace PeriodClose

} // namespace vok

#include "core/StockLedger.h"

#include "core/CodeIndex.h"
#include "core/PeriodSummary.h"
#include "core/Permission.h"
#include "core/StockChange.h"
#include "core/Transfers.h"
#include "db/RowRecord.h"
#include "db/SqlText.h"

#include <QHash>
#include <QMap>
#include <algorithm>
#include <cmath>

namespace vok {

namespace {

// Quantities are single-precision: two figures agree when they differ by
// less than what single precision can tell apart.
bool same(double a, double b)
{
    const double scale = std::max({1.0, std::fabs(a), std::fabs(b)});
    return std::fabs(a - b) <= std::max(1e-4, 1e-6 * scale);
}

// A condition with its values bound, in the order of its ?s.
struct Condition
{
    SqlText sql;
    QVariantList values = {};

    Condition& operator+=(const Condition& more)
    {
        sql += more.sql;
        values += more.values;
        return *this;
    }
};

// The first moment of a day, as a date value bound.
QVariant dayStart(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1String(" 00:00:00");
}

// "out_date >= from AND out_date < day after to": the whole last day
// counts, nothing of the next. The column is one of the movement tables'
// own date columns.
Condition periodCondition(const Connection& connection, QStringView column, const QDate& from,
                          const QDate& to)
{
    return {SqlText::compose("%1 >= %2 AND %1 < %2",
                             {SqlText::name(column), SqlText::dateMarker(connection.engine())}),
            {dayStart(from), dayStart(to.addDays(1))}};
}

Condition codeCondition(const QString& code)
{
    if (code.isEmpty())
        return {};
    return {SqlText(" AND code=?"), {code}};
}

} // namespace

bool LedgerRow::nowAgrees() const
{
    return same(now, ledger());
}

bool LedgerRow::totalAgrees() const
{
    return same(total, takenIn());
}

bool LedgerRow::lacksOpening() const
{
    return stockRows == 1 && !hasAdjustments && predatesAdjustments && !nowAgrees() &&
           now > ledger();
}

bool LedgerRow::ledgerNegative() const
{
    return ledger() < 0 && !same(ledger(), 0);
}

QString LedgerRow::problem() const
{
    // No stock row is nothing on hand and nothing taken in: imported
    // history alone agrees with it.
    if (stockRows == 0)
        return (hasMovements || hasAdjustments) && !(same(ledger(), 0) && same(takenIn(), 0))
                   ? QStringLiteral("有流水，库存表中无此设备")
                   : QString();
    if (stockRows > 1)
        return QStringLiteral("库存表中有 %1 行这种设备").arg(stockRows);
    if (lacksOpening())
        return QStringLiteral("无期初记录：现在数量比流水结存多 %1，应是期初库存")
            .arg(singleText(now - ledger()));
    QStringList wrong;
    if (!nowAgrees())
        wrong << (ledgerNegative() ? QStringLiteral("流水结存为负数，不能按流水更正，请盘点后处理")
                                   : QStringLiteral("现在数量与流水结存不符"));
    if (!totalAgrees())
        wrong << QStringLiteral("总数与入库合计不符");
    return wrong.join(QStringLiteral("；"));
}

bool LedgerRow::correctable(bool alsoTotal) const
{
    return stockRows == 1 && !lacksOpening() && !ledgerNegative() &&
           (!nowAgrees() || (alsoTotal && !totalAgrees()));
}

namespace StockLedger {

namespace {

using LedgerIndex = CodeIndex<LedgerRow>;

// How a table's rows come per device. The server groups a whole table
// itself and sends one row per device; the embedded engine groups by
// sorting every row (spilling a million of them to temporary files), so
// its rows are read as they are and added up here, in one pass. So are
// the few rows of the months since a closing on both: read grouped through
// the program's cursor, which favours a plan that sends the first rows
// soon, the server walks the whole table in the order of the codes.
// Either way the same columns come: sums add up and minimums compare as
// the rows come.
struct Summing
{
    bool grouped;

    explicit Summing(const Connection& connection, bool recentOnly = false)
        : grouped(connection.engine() != Engine::Sqlite && !recentOnly)
    {
    }

    // "SUM(expression)", or the expression itself for rows read whole.
    SqlText sum(const SqlText& expression) const
    {
        return grouped ? SqlText::compose("SUM(%1)", {expression}) : expression;
    }
    SqlText min(const SqlText& expression) const
    {
        return grouped ? SqlText::compose("MIN(%1)", {expression}) : expression;
    }
    SqlText count() const { return grouped ? SqlText("COUNT(*)") : SqlText("1"); }
    SqlText groupBy() const { return grouped ? SqlText(" GROUP BY code") : SqlText(); }
};

void readCatalogue(Connection& connection, LedgerIndex& index)
{
    auto r = connection.queryWith(
        QStringLiteral("SELECT code, MIN(name) FROM DEVICE_CODE GROUP BY code"), {});
    while (r->next()) {
        LedgerRow& row = index[r->utf8(0)];
        row.name = r->text(1);
        row.inCatalogue = true;
    }
}

void readStock(Connection& connection, LedgerIndex& index)
{
    const Summing s(connection);
    auto r = connection.queryWith(SqlText::compose("SELECT code, %1, %2, %3 FROM DEVICE%4",
                                                   {s.count(), s.sum(SqlText("now_number")),
                                                    s.sum(SqlText("total_number")), s.groupBy()})
                                      .toString(),
                                  {});
    while (r->next()) {
        LedgerRow& row = index[r->utf8(0)];
        row.stockRows += int(r->number(1));
        row.now += r->number(2);
        row.total += r->number(3);
    }
}

// Adds up the adjustments per device and returns when the first was
// recorded ("YYYY-MM-DD HH:MM:SS"; empty when there is none), the
// adjustments of imported history apart.
QByteArray readAdjustments(Connection& connection, LedgerIndex& index)
{
    // A correction brings the stock to what the records say: it is kept
    // for the audit trail and is no part of that figure itself. An opening
    // total changes nothing on hand.
    const Summing s(connection);
    const SqlText imported("reason IN (?,?,?)");
    auto r = connection.queryWith(
        SqlText::compose(
            "SELECT code, %1, %2, %3, %4, %5, %6, %7 FROM DEVICE_ADJUST%8",
            {s.sum(
                 SqlText("CASE WHEN reason IN (?,?) THEN 0 ELSE after_number - before_number END")),
             s.sum(SqlText("CASE WHEN reason=? THEN after_number - before_number ELSE 0 END")),
             s.sum(SqlText("CASE WHEN reason=? THEN after_number ELSE 0 END")),
             s.sum(SqlText("CASE WHEN reason=? THEN 1 ELSE 0 END")),
             s.sum(SqlText("CASE WHEN reason=? THEN before_number - after_number "
                           "ELSE 0 END")),
             s.sum(SqlText::compose("CASE WHEN %1 THEN 0 ELSE 1 END", {imported})),
             s.min(SqlText::compose("CASE WHEN %1 THEN NULL ELSE adjust_time END", {imported})),
             s.groupBy()})
            .toString(),
        {Stock::correctionReason(), Stock::openingTotalReason(), Stock::openingReason(),
         Stock::openingTotalReason(), Stock::openingTotalReason(),
         Stock::importedReason(Stock::Movement::In), Stock::importedReason(Stock::Movement::In),
         Stock::importedReason(Stock::Movement::Out),
         Stock::importedReason(Stock::Movement::Return), Stock::importedReason(Stock::Movement::In),
         Stock::importedReason(Stock::Movement::Out),
         Stock::importedReason(Stock::Movement::Return)});
    QByteArray first;
    bool timed = false;
    while (r->next()) {
        LedgerRow& row = index[r->utf8(0)];
        row.adjusted += r->number(1);
        row.opening += r->number(2);
        row.openingTotal += r->number(3);
        row.hasOpeningTotal = row.hasOpeningTotal || r->number(4) > 0;
        row.importedIn += r->number(5);
        row.hasAdjustments = row.hasAdjustments || r->number(6) > 0;
        if (r->isNull(7))
            continue;
        const QByteArrayView time = r->utf8(7);
        if (!timed || time < first) {
            first = time.toByteArray();
            timed = true;
        }
    }
    return first;
}

// Adds up the movements per device (those from the day since on, when
// given); a device with a movement before the first adjustment was in use
// before the database recorded adjustments.
void readMovements(Connection& connection, LedgerIndex& index, const QByteArray& firstAdjustment,
                   const QString& since = {})
{
    struct Movement
    {
        const char* table;
        const char* quantity;
        const char* date;
        double LedgerRow::*sum;
    };
    static const Movement movements[] = {
        {"DEVICE_IN", "in_number", "in_date", &LedgerRow::stockIn},
        {"DEVICE_OUT", "out_number", "out_date", &LedgerRow::stockOut},
        {"DEVICE_RETURN", "return_number", "return_date", &LedgerRow::returned}};
    const Summing s(connection, !since.isEmpty());
    for (const Movement& m : movements) {
        const SqlText date = SqlText::name(QString::fromLatin1(m.date));
        SqlText where;
        QVariantList values;
        if (!since.isEmpty()) {
            where = SqlText::compose(" WHERE (%1 >= %2 OR %1 IS NULL)",
                                     {date, SqlText::dateMarker(connection.engine())});
            values << since;
        }
        auto r = connection.queryWith(
            SqlText::compose("SELECT code, %1, %2 FROM %3%4%5",
                             {s.sum(SqlText::name(QString::fromLatin1(m.quantity))), s.min(date),
                              SqlText::name(QString::fromLatin1(m.table)), where, s.groupBy()})
                .toString(),
            values);
        while (r->next()) {
            LedgerRow& row = index[r->utf8(0)];
            row.*m.sum += r->number(1);
            if (!firstAdjustment.isEmpty()) {
                // Both read as "YYYY-MM-DD HH:MM:SS": they compare as texts.
                const bool before = !r->isNull(2) && r->utf8(2) < firstAdjustment;
                row.predatesAdjustments = (row.hasMovements && row.predatesAdjustments) || before;
            }
            row.hasMovements = true;
        }
    }
}

// Adds up the transfers per device: all that was sent, what was received,
// and what is on its way either way.
void readTransfers(Connection& connection, LedgerIndex& index)
{
    const std::pair<const char*, double LedgerRow::*> sums[] = {
        {"SELECT code, SUM(quantity) FROM TRANSFER_OUT_LINE GROUP BY code",
         &LedgerRow::transferredOut},
        {"SELECT code, SUM(received_number) FROM TRANSFER_IN_LINE WHERE received_number IS NOT "
         "NULL GROUP BY code",
         &LedgerRow::transferredIn}};
    for (const auto& [sql, sum] : sums) {
        auto r = connection.queryWith(QString::fromLatin1(sql), {});
        while (r->next()) {
            LedgerRow& row = index[r->utf8(0)];
            row.*sum += r->number(1);
            row.hasMovements = true;
        }
    }
    for (const transfer::InTransit& t : transfer::inTransit(connection)) {
        LedgerRow& row = index[t.code.toUtf8()];
        row.inTransitOut += t.outgoing;
        row.inTransitIn += t.incoming;
    }
}

// Adds up the stored figures of the closed months up to that one, but for
// their transfers: readTransfers() counts every transfer whole. A
// device's movements came before the first adjustment (firstAdjustment,
// none: empty) when one is in an earlier month, or in the same month
// before it.
void readClosedMonths(Connection& connection, LedgerIndex& index, const QDate& last,
                      const QByteArray& firstAdjustment)
{
    const Summing s(connection);
    const QByteArray adjustedMonth = firstAdjustment.left(7);
    const SqlText moved("CASE WHEN in_number <> 0 OR out_number <> 0 OR "
                        "return_number <> 0 THEN period END");
    // The embedded engine reads the table straight through rather than
    // row by row through the index of the months.
    auto r = connection.queryWith(
        SqlText::compose("SELECT code, %1, %2, %3, %4 FROM DEVICE_PERIOD WHERE %5 <= ?%6",
                         {s.sum(SqlText("in_number")), s.sum(SqlText("out_number")),
                          s.sum(SqlText("return_number")), s.min(moved),
                          s.grouped ? SqlText("period") : SqlText("+period"), s.groupBy()})
            .toString(),
        {last.toString(QStringLiteral("yyyy-MM"))});
    while (r->next()) {
        if (r->isNull(4))
            continue;
        LedgerRow& row = index[r->utf8(0)];
        row.stockIn += r->number(1);
        row.stockOut += r->number(2);
        row.returned += r->number(3);
        if (!firstAdjustment.isEmpty()) {
            const bool before = r->utf8(4) < QByteArrayView(adjustedMonth);
            row.predatesAdjustments = (row.hasMovements && row.predatesAdjustments) || before;
        }
        row.hasMovements = true;
    }
    if (firstAdjustment.isEmpty() ||
        QByteArrayView(adjustedMonth) > QByteArrayView(last.toString(u"yyyy-MM").toUtf8()))
        return;
    // The month of the first adjustment is closed: its movements before it.
    const SqlText marker = SqlText::dateMarker(connection.engine());
    for (const char* date : {"in_date", "out_date", "return_date"}) {
        const SqlText table = date[0] == 'i'   ? SqlText("DEVICE_IN")
                              : date[0] == 'o' ? SqlText("DEVICE_OUT")
                                               : SqlText("DEVICE_RETURN");
        auto early = connection.queryWith(
            SqlText::compose("SELECT DISTINCT code FROM %1 WHERE %2 >= %3 AND %2 < %3",
                             {table, SqlText::name(QString::fromLatin1(date)), marker})
                .toString(),
            {QString::fromUtf8(adjustedMonth) + QStringLiteral("-01 00:00:00"),
             QString::fromUtf8(firstAdjustment)});
        while (early->next())
            index[early->utf8(0)].predatesAdjustments = true;
    }
}

// Those that differ, those that lack their opening stock, those that
// agree, each part by code; the problems worked out once.
std::vector<LedgerRow> inProblemOrder(std::vector<LedgerRow> rows)
{
    std::vector<std::pair<int, size_t>> order;
    order.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        order.emplace_back(rows[i].agrees() ? 2 : rows[i].lacksOpening() ? 1 : 0, i);
    std::sort(order.begin(), order.end(), [&rows](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first;
        return rows[a.second].code < rows[b.second].code;
    });
    std::vector<LedgerRow> sorted;
    sorted.reserve(rows.size());
    for (const auto& o : order)
        sorted.push_back(std::move(rows[o.second]));
    return sorted;
}

} // namespace

std::vector<LedgerRow> reconcile(Connection& connection)
{
    LedgerIndex index;
    readCatalogue(connection, index);
    readStock(connection, index);
    // When the database began to record adjustments: the movements are
    // compared with it.
    const QByteArray firstAdjustment = readAdjustments(connection, index);
    // The closed months' movements are summed in their stored figures; the
    // tables are read from the month after the last.
    const std::optional<QDate> closed = PeriodClose::lastClosed(connection);
    const QString since = closed ? closed->addMonths(1).toString(QStringLiteral("yyyy-MM-dd "
                                                                                "00:00:00"))
                                 : QString();
    if (closed) {
        readClosedMonths(connection, index, *closed, firstAdjustment);
        readMovements(connection, index, firstAdjustment, since);
    } else {
        readMovements(connection, index, firstAdjustment);
    }
    readTransfers(connection, index);
    return inProblemOrder(index.take());
}

int correct(Connection& connection, int classNumber, const std::vector<LedgerRow>& rows,
            bool alsoTotal, const QString& user)
{
    std::vector<const LedgerRow*> changing;
    for (const LedgerRow& row : rows)
        if (row.correctable(alsoTotal))
            changing.push_back(&row);
    if (changing.empty())
        return 0;
    checkMayWrite(classNumber);

    // A few hundred devices per statement: one pass over DEVICE each.
    constexpr size_t kBatch = 200;
    Transaction transaction(connection);
    std::vector<Stock::Adjustment> adjustments;
    for (size_t at = 0; at < changing.size(); at += kBatch) {
        const size_t end = std::min(changing.size(), at + kBatch);
        // CASE code WHEN ? THEN ? …: each code and its figure bound, the
        // figure as it is shown (single precision; the server is told it
        // is a number).
        SqlText nowCases, totalCases;
        QVariantList nowValues, totalValues, codeValues;
        for (size_t i = at; i < end; ++i) {
            const LedgerRow& row = *changing[i];
            nowCases += SqlText(" WHEN ? THEN CAST(? AS REAL)");
            nowValues << row.code << singleText(row.ledger()).toDouble();
            totalCases += SqlText(" WHEN ? THEN CAST(? AS REAL)");
            totalValues << row.code << singleText(row.takenIn()).toDouble();
            codeValues << row.code;
        }
        const SqlText codes = SqlText::markers(codeValues.size());
        // The quantities on hand as they are now, kept until the end, for
        // the adjustments.
        QHash<QString, double> onHand;
        {
            auto r = connection.queryWith(
                SqlText::compose("SELECT code, now_number FROM DEVICE WHERE code IN (%1)", {codes})
                    .toString(),
                codeValues);
            while (r->next())
                onHand.insert(r->text(0), r->number(1));
        }
        SqlText sql =
            SqlText::compose("UPDATE DEVICE SET now_number = CASE code%1 END", {nowCases});
        QVariantList values = nowValues;
        if (alsoTotal) {
            sql += SqlText::compose(", total_number = CASE code%1 END", {totalCases});
            values += totalValues;
        }
        sql += SqlText::compose(" WHERE code IN (%1)", {codes});
        values += codeValues;
        connection.executeWith(sql.toString(), values);
        for (size_t i = at; i < end; ++i) {
            const LedgerRow& row = *changing[i];
            const double before = onHand.value(row.code, row.now);
            const double after = double(float(row.ledger()));
            if (!same(before, after))
                adjustments.push_back({row.code, before, after});
        }
    }
    Stock::recordAdjustments(connection, adjustments, Stock::correctionReason(), user);
    transaction.commit();
    return int(changing.size());
}

int recordOpening(Connection& connection, int classNumber, const std::vector<LedgerRow>& rows,
                  const QString& user)
{
    std::vector<const LedgerRow*> recording;
    for (const LedgerRow& row : rows)
        if (row.lacksOpening())
            recording.push_back(&row);
    if (recording.empty())
        return 0;
    checkMayWrite(classNumber);
    std::vector<Stock::Adjustment> adjustments;
    std::vector<Stock::OpeningTotal> totals;
    adjustments.reserve(recording.size());
    for (const LedgerRow* row : recording) {
        const auto opening = double(float(row->now - row->ledger()));
        adjustments.push_back({row->code, 0, opening});
        // What the total has beyond the stock-ins was taken in before, with
        // the opening stock: its opening total, unless it is that stock.
        const auto total = double(float(row->total - (row->stockIn - row->importedIn)));
        if (total > opening && !same(total, opening))
            totals.push_back({row->code, total});
    }
    Transaction transaction(connection);
    Stock::recordAdjustments(connection, adjustments, Stock::openingReason(), user);
    Stock::recordOpeningTotals(connection, totals, user);
    transaction.commit();
    return int(recording.size());
}

} // namespace StockLedger

QString DepartmentUse::shareText() const
{
    if (!hasDemand || demanded <= 0)
        return QStringLiteral("—");
    return QString::number(100.0 * met / demanded, 'f', 1) + QLatin1Char('%');
}

namespace ConsumptionStats {

Consumption read(Connection& connection, const QDate& from, const QDate& to, const QString& code)
{
    QMap<QString, DepartmentUse> byDepartment;
    auto useOf = [&](const QString& department) -> DepartmentUse& {
        DepartmentUse& use = byDepartment[department];
        use.department = department;
        return use;
    };
    const Condition device = codeCondition(code);
    // Rows of one movement table within the period (and of the device),
    // summed by the grouping given.
    const auto sums = [&](SqlLiteral select, SqlLiteral table, QStringView dateColumn,
                          SqlLiteral groupBy) {
        Condition where = periodCondition(connection, dateColumn, from, to);
        where += device;
        return connection.queryWith(
            SqlText::compose("%1 FROM %2 WHERE %3 GROUP BY %4", {select, table, where.sql, groupBy})
                .toString(),
            where.values);
    };
    // Per department and device: a department's demand for one device is
    // not met by what it was issued of another.
    QHash<QPair<QString, QString>, double> issuedOf;
    {
        auto r = sums("SELECT department, code, SUM(out_number)", "DEVICE_OUT", u"out_date",
                      "department, code");
        while (r->next()) {
            useOf(r->text(0)).issued += r->number(2);
            issuedOf.insert({r->text(0), r->text(1)}, r->number(2));
        }
    }
    {
        // A demand counts when its period overlaps the chosen one.
        Condition overlap{SqlText::compose("begin_date <= %1 AND end_date >= %1",
                                           {SqlText::dateMarker(connection.engine())}),
                          {dayStart(to), dayStart(from)}};
        overlap += device;
        auto r = connection.queryWith(
            SqlText::compose("SELECT department, code, SUM(need_number) FROM DEVICE_NEED WHERE %1 "
                             "GROUP BY department, code",
                             {overlap.sql})
                .toString(),
            overlap.values);
        while (r->next()) {
            DepartmentUse& use = useOf(r->text(0));
            const double demanded = r->number(2);
            use.demanded += demanded;
            use.met += std::max(0.0, std::min(issuedOf.value({r->text(0), r->text(1)}), demanded));
            use.hasDemand = true;
        }
    }
    Consumption result;
    for (const DepartmentUse& use : std::as_const(byDepartment))
        result.departments.push_back(use);
    {
        auto r = sums("SELECT code, SUM(return_number)", "DEVICE_RETURN", u"return_date", "code");
        while (r->next())
            result.returns.push_back({r->text(0), r->number(1)});
    }
    std::sort(result.returns.begin(), result.returns.end(),
              [](const DeviceReturned& a, const DeviceReturned& b) { return a.code < b.code; });
    return result;
}

std::vector<double> monthlyIssued(Connection& connection, const QString& code, const QDate& last,
                                  int months)
{
    const QDate lastMonth(last.year(), last.month(), 1);
    const QDate first = lastMonth.addMonths(1 - months);
    QList<SqlText> sums;
    Condition all;
    for (int m = 0; m < months; ++m) {
        const Condition month = periodCondition(connection, u"out_date", first.addMonths(m),
                                                first.addMonths(m + 1).addDays(-1));
        sums << SqlText::compose("SUM(CASE WHEN %1 THEN out_number ELSE 0 END)", {month.sql});
        all.values += month.values;
    }
    Condition where =
        periodCondition(connection, u"out_date", first, lastMonth.addMonths(1).addDays(-1));
    where += codeCondition(code);
    all.values += where.values;
    auto r = connection.queryWith(SqlText::compose("SELECT %1 FROM DEVICE_OUT WHERE %2",
                                                   {SqlText::joined(sums, ", "), where.sql})
                                      .toString(),
                                  all.values);
    std::vector<double> result(size_t(months), 0.0);
    if (r->next())
        for (int m = 0; m < months; ++m)
            result[size_t(m)] = r->isNull(m) ? 0.0 : r->number(m);
    return result;
}

} // namespace ConsumptionStats

} // namespace vok

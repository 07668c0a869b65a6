#include "core/StockLedger.h"

#include "core/Permission.h"
#include "core/StockChange.h"
#include "db/RowRecord.h"
#include "db/SqlFormat.h"

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

QString dayStart(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

// "out_date >= #from# AND out_date < #day after to#": the whole last day
// counts, nothing of the next.
QString periodCondition(const QString& column, const QDate& from, const QDate& to)
{
    return sqlFormat(u"%s >= #%s# AND %s < #%s#",
                     {SqlArg::name(column), SqlArg::date(dayStart(from)), SqlArg::name(column),
                      SqlArg::date(dayStart(to.addDays(1)))});
}

QString codeCondition(const QString& code)
{
    return code.isEmpty() ? QString() : sqlFormat(u" AND code='%s'", {SqlArg::text(code)});
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

// The ledger's devices as they are read, found by the UTF-8 bytes of their
// code: a row's code becomes a QString once, when the device first comes.
// Two million movements look their device up: an open table of slots,
// each with part of its code's hash, keeps a look-up to about one visit to
// memory where a node per entry would cost three.
class LedgerIndex
{
public:
    LedgerRow& operator[](QByteArrayView code)
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

    std::vector<LedgerRow> take() { return std::move(m_rows); }

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

    LedgerRow& add(QByteArrayView code)
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
    std::vector<LedgerRow> m_rows;
};

// How a table's rows come per device. The server groups them itself and
// sends one row per device; the embedded engine groups by sorting every
// row (spilling a million of them to temporary files), so its rows are
// read as they are and added up here, in one pass. Either way the same
// columns come: sums add up and minimums compare as the rows come.
struct Summing
{
    bool grouped;

    explicit Summing(const Connection& connection) : grouped(connection.engine() != Engine::Sqlite)
    {
    }

    // "SUM(expression)", or the expression itself for rows read whole.
    QString sum(const QString& expression) const
    {
        return grouped ? QStringLiteral("SUM(%1)").arg(expression) : expression;
    }
    QString min(const QString& expression) const
    {
        return grouped ? QStringLiteral("MIN(%1)").arg(expression) : expression;
    }
    QString count() const { return grouped ? QStringLiteral("COUNT(*)") : QStringLiteral("1"); }
    QString groupBy() const { return grouped ? QStringLiteral(" GROUP BY code") : QString(); }
};

void readCatalogue(Connection& connection, LedgerIndex& index)
{
    auto r =
        connection.query(QStringLiteral("SELECT code, MIN(name) FROM DEVICE_CODE GROUP BY code"));
    while (r->next()) {
        LedgerRow& row = index[r->utf8(0)];
        row.name = r->text(1);
        row.inCatalogue = true;
    }
}

void readStock(Connection& connection, LedgerIndex& index)
{
    const Summing s(connection);
    auto r = connection.query(QStringLiteral("SELECT code, %1, %2, %3 FROM DEVICE%4")
                                  .arg(s.count(), s.sum(QStringLiteral("now_number")),
                                       s.sum(QStringLiteral("total_number")), s.groupBy()));
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
    const QString imported = QStringLiteral("reason IN (?,?,?)");
    auto r = connection.queryWith(
        QStringLiteral("SELECT code, %1, %2, %3, %4, %5, %6, %7 FROM DEVICE_ADJUST%8")
            .arg(s.sum(QStringLiteral(
                     "CASE WHEN reason IN (?,?) THEN 0 ELSE after_number - before_number END")),
                 s.sum(QStringLiteral(
                     "CASE WHEN reason=? THEN after_number - before_number ELSE 0 END")),
                 s.sum(QStringLiteral("CASE WHEN reason=? THEN after_number ELSE 0 END")),
                 s.sum(QStringLiteral("CASE WHEN reason=? THEN 1 ELSE 0 END")),
                 s.sum(QStringLiteral("CASE WHEN reason=? THEN before_number - after_number "
                                      "ELSE 0 END")),
                 s.sum(QStringLiteral("CASE WHEN %1 THEN 0 ELSE 1 END").arg(imported)),
                 s.min(QStringLiteral("CASE WHEN %1 THEN NULL ELSE adjust_time END").arg(imported)),
                 s.groupBy()),
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

// Adds up the movements per device; a device with a movement before the
// first adjustment was in use before the database recorded adjustments.
void readMovements(Connection& connection, LedgerIndex& index, const QByteArray& firstAdjustment)
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
    const Summing s(connection);
    for (const Movement& m : movements) {
        auto r = connection.query(QStringLiteral("SELECT code, %1, %2 FROM %3%4")
                                      .arg(s.sum(QLatin1String(m.quantity)),
                                           s.min(QLatin1String(m.date)), QLatin1String(m.table),
                                           s.groupBy()));
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
    readMovements(connection, index, firstAdjustment);
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
        QString nowCases, totalCases, codes;
        for (size_t i = at; i < end; ++i) {
            const LedgerRow& row = *changing[i];
            const QString code = sqlFormat(u"'%s'", {SqlArg::text(row.code)});
            nowCases += QStringLiteral(" WHEN %1 THEN %2").arg(code, singleText(row.ledger()));
            totalCases += QStringLiteral(" WHEN %1 THEN %2").arg(code, singleText(row.takenIn()));
            if (!codes.isEmpty())
                codes += QLatin1Char(',');
            codes += code;
        }
        // The quantities on hand as they are now, kept until the end, for
        // the adjustments.
        QHash<QString, double> onHand;
        {
            auto r = connection.query(
                QStringLiteral("SELECT code, now_number FROM DEVICE WHERE code IN (%1)")
                    .arg(codes));
            while (r->next())
                onHand.insert(r->text(0), r->number(1));
        }
        QString sql =
            QStringLiteral("UPDATE DEVICE SET now_number = CASE code%1 END").arg(nowCases);
        if (alsoTotal)
            sql += QStringLiteral(", total_number = CASE code%1 END").arg(totalCases);
        sql += QStringLiteral(" WHERE code IN (%1)").arg(codes);
        connection.execute(sql);
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
    const QString device = codeCondition(code);
    // Per department and device: a department's demand for one device is
    // not met by what it was issued of another.
    QHash<QPair<QString, QString>, double> issuedOf;
    {
        auto r = connection.query(
            QStringLiteral("SELECT department, code, SUM(out_number) FROM "
                           "DEVICE_OUT WHERE %1%2 GROUP BY department, code")
                .arg(periodCondition(QStringLiteral("out_date"), from, to), device));
        while (r->next()) {
            useOf(r->text(0)).issued += r->number(2);
            issuedOf.insert({r->text(0), r->text(1)}, r->number(2));
        }
    }
    {
        // A demand counts when its period overlaps the chosen one.
        const QString overlap =
            sqlFormat(u"begin_date <= #%s# AND end_date >= #%s#",
                      {SqlArg::date(dayStart(to)), SqlArg::date(dayStart(from))});
        auto r = connection.query(QStringLiteral("SELECT department, code, SUM(need_number) FROM "
                                                 "DEVICE_NEED WHERE %1%2 GROUP BY department, code")
                                      .arg(overlap, device));
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
        auto r = connection.query(
            QStringLiteral(
                "SELECT code, SUM(return_number) FROM DEVICE_RETURN WHERE %1%2 GROUP BY code")
                .arg(periodCondition(QStringLiteral("return_date"), from, to), device));
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
    QStringList sums;
    for (int m = 0; m < months; ++m)
        sums << QStringLiteral("SUM(CASE WHEN %1 THEN out_number ELSE 0 END)")
                    .arg(periodCondition(QStringLiteral("out_date"), first.addMonths(m),
                                         first.addMonths(m + 1).addDays(-1)));
    auto r = connection.query(QStringLiteral("SELECT %1 FROM DEVICE_OUT WHERE %2%3")
                                  .arg(sums.join(QStringLiteral(", ")),
                                       periodCondition(QStringLiteral("out_date"), first,
                                                       lastMonth.addMonths(1).addDays(-1)),
                                       codeCondition(code)));
    std::vector<double> result(size_t(months), 0.0);
    if (r->next())
        for (int m = 0; m < months; ++m)
            result[size_t(m)] = r->isNull(m) ? 0.0 : r->number(m);
    return result;
}

} // namespace ConsumptionStats

} // namespace vok

#include "core/StockChange.h"

#include "core/Clock.h"
#include "core/DeviceCatalogue.h"
#include "core/TableAccess.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"

#include <cmath>

namespace vok {

namespace {

// The device's stock rows.
TableRows stockRows(const QString& code)
{
    return {schema::Device.name, SqlText("code=?"), {code}};
}

// Adds to now_number (and total_number) of the first stock row.
void addToStock(Connection& c, const QString& code, float now, float total)
{
    auto row = c.openRow(stockRows(code), schema::Device);
    RowRecord& r = row->record();
    r.setText(DeviceCol::code, code);
    r.setNumber(DeviceCol::now_number, r.number(DeviceCol::now_number) + now);
    r.setNumber(DeviceCol::total_number, r.number(DeviceCol::total_number) + total);
    row->store();
}

} // namespace

StockFigures readStock(Connection& c, const QString& code)
{
    StockFigures f;
    RowRecord r(schema::Device);
    int rows = 0;
    auto rs = c.select(stockRows(code));
    while (rs->next()) {
        if (++rows == 1)
            rs->readInto(r);
    }
    if (rows == 1) {
        f.single = true;
        f.now = r.number(DeviceCol::now_number);
        f.high = r.number(DeviceCol::high_number);
        f.low = r.number(DeviceCol::low_number);
        f.total = r.number(DeviceCol::total_number);
    }
    return f;
}

namespace Stock {

void receive(Connection& c, const QString& code, float quantity)
{
    if (c.lock(stockRows(code)) == 0) {
        // A device's first stock row: both limits 1. With the unique code,
        // a row another workstation added meanwhile makes this add nothing,
        // and the quantity goes onto that row below.
        if (c.appendUnlessPresent(QStringLiteral("device"),
                                  {QStringLiteral("code"), QStringLiteral("now_number"),
                                   QStringLiteral("high_number"), QStringLiteral("low_number"),
                                   QStringLiteral("total_number")},
                                  {code, quantity, 1.0f, 1.0f, quantity}))
            return;
        c.lock(stockRows(code));
    }
    addToStock(c, code, quantity, quantity);
}

bool giveBack(Connection& c, const QString& code, float quantity)
{
    if (c.lock(stockRows(code)) != 1)
        return false;
    addToStock(c, code, quantity, 0);
    return true;
}

Issue issue(Connection& c, const QString& code, float quantity)
{
    Issue result;
    if (c.lock(stockRows(code)) != 1)
        return result;
    result.onHand = readStock(c, code).now;
    if (quantity > result.onHand)
        return result;
    addToStock(c, code, -quantity, 0);
    result.done = true;
    return result;
}

// A unit price as stored: to the cent; NULL when none is given.
static QVariant priceValue(std::optional<double> price)
{
    return price ? QVariant(std::round(*price * 100) / 100) : QVariant();
}

void recordAdjustment(Connection& c, const QString& code, double before, double after,
                      const QString& reason, const QString& user, std::optional<double> price)
{
    c.append(
        schema::DeviceAdjust.name, schema::DeviceAdjust.columnNames(),
        {code, unpaddedDateTime(Clock::now()), before, after, reason, user, priceValue(price)});
}

void recordAdjustments(Connection& c, const std::vector<Adjustment>& adjustments,
                       const QString& reason, const QString& user)
{
    // Written as the database keeps it, so that no row needs it rewritten.
    const QString time = Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    size_t next = 0;
    c.appendRows(schema::DeviceAdjust.name, schema::DeviceAdjust.columnNames(),
                 [&](QVariantList& values) {
                     if (next == adjustments.size())
                         return false;
                     const Adjustment& a = adjustments[next++];
                     values = {a.code, time, a.before, a.after, reason, user, priceValue(a.price)};
                     return true;
                 });
}

void recordOpeningTotals(Connection& c, const std::vector<OpeningTotal>& totals,
                         const QString& user)
{
    std::vector<Adjustment> adjustments;
    adjustments.reserve(totals.size());
    for (const OpeningTotal& t : totals)
        adjustments.push_back({t.code, t.total, t.total});
    recordAdjustments(c, adjustments, openingTotalReason(), user);
}

void recordImportedHistory(Connection& c, Movement movement,
                           const std::vector<std::pair<QString, double>>& quantities,
                           const QString& user)
{
    const double sign = movement == Movement::Out ? -1 : 1;
    std::vector<Adjustment> adjustments;
    adjustments.reserve(quantities.size());
    for (const auto& [code, quantity] : quantities)
        if (quantity != 0)
            adjustments.push_back({code, sign * quantity, 0});
    recordAdjustments(c, adjustments, importedReason(movement), user);
}

bool addStockRow(Connection& c, int classNumber, const QString& typed, const StockFigureSet& f,
                 const QString& user)
{
    const QString code = codeAsStored(typed);
    const TableAccess table(c, tables::device, classNumber);
    const TableRows existing = stockRows(code);
    try {
        Transaction t(c);
        if (c.lock(existing) > 0)
            return false;
        table.append({code, f.now, f.high, f.low, f.total});
        recordAdjustment(c, code, 0, f.now, openingReason(), user, f.price);
        if (f.total > f.now)
            recordAdjustment(c, code, f.total, f.total, openingTotalReason(), user);
        t.commit();
    } catch (const DbError&) {
        // Another workstation may have added the row in between: the
        // database refuses this one in its own words, naming a constraint.
        bool duplicate = false;
        try {
            duplicate = c.count(existing) > 0;
        } catch (const DbError&) {
        }
        if (duplicate)
            return false;
        throw;
    }
    return true;
}

void changeStockRow(Connection& c, int classNumber, const QString& code, const StockFigureSet& f,
                    const QString& user)
{
    const TableAccess table(c, tables::device, classNumber);
    Transaction t(c);
    c.lock(stockRows(code));
    float before = 0;
    table.update(stockRows(code), {}, [&](RowRecord& r) {
        before = r.number(DeviceCol::now_number);
        r.setNumber(DeviceCol::now_number, f.now);
        r.setNumber(DeviceCol::high_number, f.high);
        r.setNumber(DeviceCol::low_number, f.low);
        r.setNumber(DeviceCol::total_number, f.total);
    });
    if (before != f.now)
        recordAdjustment(c, code, before, f.now, changeReason(), user);
    t.commit();
}

qint64 deleteStockRows(Connection& c, int classNumber, const QString& code, const QString& user)
{
    const TableAccess table(c, tables::device, classNumber);
    Transaction t(c);
    c.lock(stockRows(code));
    double before = 0;
    {
        auto rs = c.select(stockRows(code));
        RowRecord r(schema::Device);
        while (rs->next()) {
            rs->readInto(r);
            before += r.number(DeviceCol::now_number);
        }
    }
    const qint64 removed = table.remove(stockRows(code));
    if (removed > 0)
        recordAdjustment(c, code, before, 0, deleteReason(), user);
    t.commit();
    return removed;
}

QString openingReason()
{
    return QStringLiteral("期初库存");
}

QString openingTotalReason()
{
    return QStringLiteral("期初总数");
}

QString importedReason(Movement movement)
{
    switch (movement) {
    case Movement::In:
        return QStringLiteral("导入入库记录");
    case Movement::Out:
        return QStringLiteral("导入出库记录");
    case Movement::Return:
        break;
    }
    return QStringLiteral("导入还库记录");
}

QString changeReason()
{
    return QStringLiteral("修改库存");
}

QString deleteReason()
{
    return QStringLiteral("删除库存");
}

QString stocktakeReason()
{
    return QStringLiteral("盘点");
}

QString correctionReason()
{
    return QStringLiteral("按流水更正");
}

TableRows overStock()
{
    return {schema::Device.name, SqlText("now_number>high_number")};
}

TableRows underStock()
{
    return {schema::Device.name, SqlText("now_number<low_number")};
}

} // namespace Stock

} // namespace vok

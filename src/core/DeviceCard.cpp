#include "core/DeviceCard.h"

#include "db/Connection.h"

#include <algorithm>

namespace vok {

namespace {

// The latest movements of one table: time, quantity and one or two columns
// that say who; the code and the number of rows are bound.
struct MovementSource
{
    QStringView kind;
    QStringView sql;
};

constexpr MovementSource kSources[] = {
    {u"入库", u"SELECT in_date, in_number, provider FROM DEVICE_IN WHERE code=? "
              u"ORDER BY in_date DESC LIMIT ?"},
    {u"出库", u"SELECT out_date, out_number, department, taker FROM DEVICE_OUT WHERE code=? "
              u"ORDER BY out_date DESC LIMIT ?"},
    {u"还库", u"SELECT return_date, return_number, return_person FROM DEVICE_RETURN "
              u"WHERE code=? ORDER BY return_date DESC LIMIT ?"},
};

} // namespace

std::optional<DeviceCard> readDeviceCard(Connection& c, const QString& code)
{
    DeviceCard card;
    {
        auto rs =
            c.queryWith(QStringLiteral("SELECT code, name FROM DEVICE_CODE WHERE code=?"), {code});
        if (!rs->next())
            return std::nullopt;
        card.code = rs->text(0);
        card.name = rs->text(1);
    }
    card.stock = readStock(c, code);
    card.loans = Loans::deviceLoans(c, code);
    for (const MovementSource& source : kSources) {
        auto rs = c.queryWith(source.sql.toString(), {code, int(DeviceCard::kMovements)});
        while (rs->next()) {
            QString party = rs->text(2);
            if (rs->columnCount() > 3 && !rs->text(3).isEmpty())
                party += QStringLiteral("　") + rs->text(3);
            card.movements.append({rs->text(0), source.kind.toString(), rs->number(1), party});
        }
    }
    // Newest first; at one time a stock-in before a stock-out before a return.
    std::stable_sort(card.movements.begin(), card.movements.end(),
                     [](const DeviceCard::Movement& a, const DeviceCard::Movement& b) {
                         return a.time > b.time;
                     });
    if (card.movements.size() > DeviceCard::kMovements)
        card.movements.resize(DeviceCard::kMovements);
    return card;
}

} // namespace vok

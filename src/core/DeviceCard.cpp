#include "core/DeviceCard.h"

#include "db/Connection.h"
#include "db/SqlFormat.h"

#include <algorithm>

namespace vok {

namespace {

// The latest movements of one table: time, quantity and one or two columns
// that say who.
struct MovementSource
{
    QStringView kind;
    QStringView format;
};

constexpr MovementSource kSources[] = {
    {u"入库", u"SELECT in_date, in_number, provider FROM DEVICE_IN WHERE code='%s' "
              u"ORDER BY in_date DESC LIMIT %d"},
    {u"出库", u"SELECT out_date, out_number, department, taker FROM DEVICE_OUT WHERE code='%s' "
              u"ORDER BY out_date DESC LIMIT %d"},
    {u"还库", u"SELECT return_date, return_number, return_person FROM DEVICE_RETURN "
              u"WHERE code='%s' ORDER BY return_date DESC LIMIT %d"},
};

} // namespace

std::optional<DeviceCard> readDeviceCard(Connection& c, const QString& code)
{
    DeviceCard card;
    {
        auto rs = c.query(
            sqlFormat(u"SELECT code, name FROM DEVICE_CODE WHERE code='%s'", {SqlArg::text(code)}));
        if (!rs->next())
            return std::nullopt;
        card.code = rs->text(0);
        card.name = rs->text(1);
    }
    card.stock = readStock(c, code);
    card.loans = Loans::deviceLoans(c, code);
    for (const MovementSource& source : kSources) {
        auto rs =
            c.query(sqlFormat(source.format, {SqlArg::text(code), SqlArg(DeviceCard::kMovements)}));
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

#include "core/BrowserTables.h"

#include "core/TableReport.h"

namespace vok {

namespace {

// The stock-in browser "查看入库信息"; its query fields are in the header.

std::vector<RecordListModel::Column> stockInColumns()
{
    using C = RecordListModel::Column;
    return {C{QStringLiteral("设备号"), ListColumn::Text},
            C{QStringLiteral("入库时间"), ListColumn::Text},
            C{QStringLiteral("供应商"), ListColumn::Text},
            C{QStringLiteral("供应商电话"), ListColumn::Text},
            C{QStringLiteral("数量"), ListColumn::Single},
            C{QStringLiteral("价格"), ListColumn::Single},
            C{QStringLiteral("采购员"), ListColumn::Text}};
}

// The stock form "库存信息".
constexpr QueryField stockFields[] = {
    {u"设备号c", u"code", u"SELECT * FROM DEVICE WHERE %s%s'%s'"},
    {u"现存数量d", u"now_number", u"SELECT * FROM DEVICE WHERE %s%s%d"},
    {u"最大数量d", u"high_number", u"SELECT * FROM DEVICE WHERE %s%s%d"},
    {u"最小数量d", u"low_number", u"SELECT * FROM DEVICE WHERE %s%s%d"},
    {u"总数d", u"total_number", u"SELECT * FROM DEVICE WHERE %s%s%d"},
};

std::vector<RecordListModel::Column> stockColumns()
{
    using C = RecordListModel::Column;
    return {C{QStringLiteral("设备号"), ListColumn::Text},
            C{QStringLiteral("现存数量"), ListColumn::Single},
            C{QStringLiteral("最大数量"), ListColumn::Single},
            C{QStringLiteral("最小数量"), ListColumn::Single},
            C{QStringLiteral("总数"), ListColumn::Single}};
}

} // namespace

QString BrowserTable::selectAll() const
{
    return QStringLiteral("SELECT * FROM ") + table.toString();
}

namespace tables {
const BrowserTable stock{u"DEVICE", stockFields, stockColumns, &reports::stock};
const BrowserTable stockIn{u"DEVICE_IN", kStockInQueryFields, stockInColumns, &reports::stockIn};
} // namespace tables

std::span<const BrowserTable* const> browserTables()
{
    static const BrowserTable* const all[] = {&tables::stock, &tables::stockIn};
    return all;
}

const BrowserTable* findBrowserTable(QStringView name)
{
    for (const BrowserTable* t : browserTables())
        if (t->table.compare(name, Qt::CaseInsensitive) == 0)
            return t;
    return nullptr;
}

} // namespace vok

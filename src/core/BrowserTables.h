#pragma once

#include "core/QueryField.h"
#include "core/RecordListModel.h"

#include <span>
#include <vector>

namespace vok {

struct ReportLayout;

// The query fields of the stock-in browser "查看入库信息", shared by the
// browser's description and the table's report.
inline constexpr QueryField kStockInQueryFields[] = {
    {u"设备号c", u"code", u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'"},
    {u"入库时间c", u"in_date", u"SELECT * FROM DEVICE_IN WHERE %s%s#%s#"},
    {u"供应商c", u"provider", u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'"},
    {u"供应商电话c", u"teleno", u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'"},
    {u"数量d", u"in_number", u"SELECT * FROM DEVICE_IN WHERE %s%s%d"},
    {u"价格d", u"price", u"SELECT * FROM DEVICE_IN WHERE %s%s%d"},
    {u"采购员c", u"buyer", u"SELECT * FROM DEVICE_IN WHERE %s%s'%s'"},
};

// What a record browser lists: its table, the list's columns, the query
// field table its query builder composes from and the report it prints.
// The browser shows these, and a report of the table can be written
// without a window from the same description.
struct BrowserTable
{
    QStringView table;
    std::span<const QueryField> queryFields;
    std::vector<RecordListModel::Column> (*columns)();
    const ReportLayout* report;

    // "SELECT * FROM <table>": the whole table, as the browser first lists it.
    QString selectAll() const;
};

namespace tables {
extern const BrowserTable stock;
extern const BrowserTable stockIn;
} // namespace tables

// Every table with a browser, and one of them by name (any case).
std::span<const BrowserTable* const> browserTables();
const BrowserTable* findBrowserTable(QStringView name);

} // namespace vok

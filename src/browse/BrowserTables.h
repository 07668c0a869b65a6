#pragma once

#include "browse/QueryField.h"
#include "browse/RecordListModel.h"

#include <span>
#include <vector>

namespace vok {

struct ReportLayout;

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

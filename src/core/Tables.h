#pragma once

#include "core/QueryField.h"
#include "core/RecordListModel.h"
#include "db/Schema.h"

#include <span>
#include <vector>

namespace vok {

struct ReportLayout;

// One column of a table's list.
struct TableColumn
{
    QStringView heading;
    // A single-precision number, shown "%f"; else the text as read.
    bool single = false;
    // The result column it shows, by name; empty: the one at its position.
    QStringView source = {};
};

// Everything the program knows of one table in one place: its columns
// (the schema), the columns its list shows with their headings, the query
// fields its query builder offers and the report it prints. Browsers,
// forms, the report command and the exports all take these.
struct TableDescription
{
    const TableDef* def;
    std::span<const TableColumn> columns;
    std::span<const QueryField> queryFields = {};
    const ReportLayout* report = nullptr;

    const QString& name() const { return def->name; }
    std::vector<RecordListModel::Column> listColumns() const;
};

namespace tables {
extern const TableDescription deviceCode;
extern const TableDescription device;
extern const TableDescription deviceIn;
extern const TableDescription deviceOut;
extern const TableDescription deviceReturn;
extern const TableDescription deviceNeed;
extern const TableDescription deviceWantBuy;
extern const TableDescription howdo;
extern const TableDescription user;
extern const TableDescription deviceAdjust;
extern const TableDescription deviceLoan;
// The transfers between departments: sent (with their target) and
// received (with their source), and the lines of each.
extern const TableDescription transferOut;
extern const TableDescription transferOutLine;
extern const TableDescription transferIn;
extern const TableDescription transferInLine;
} // namespace tables

// Every table with a browser (and so a report), and one of them by name
// (any case).
std::span<const TableDescription* const> browserTables();
const TableDescription* findBrowserTable(QStringView name);

// What users call a table ("设备入库"), as the clean form names it; the
// name itself for a table the program does not know.
QString tableCaption(QStringView name);

} // namespace vok

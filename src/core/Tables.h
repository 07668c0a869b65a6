#pragma once

#include "core/QueryField.h"
#include "core/RecordListModel.h"
#include "db/Schema.h"

#include <span>
#include <vector>

namespace vok {

struct ReportLayout;

// What a field accepts. The entry forms, the browsers' detail fields, the
// stock form and the import all check a value against its column's rule.
struct FieldRule
{
    enum Kind : quint8
    {
        Text,      // a text within the byte limit; required: not empty
        Code,      // a device of the catalogue
        NewCode,   // the catalogue's own code: one not yet in it
        StockCode, // a device of the catalogue without a stock row yet
        Number,    // a number from min to max (fractions allowed)
        Figure,    // a stock figure the movements made: at least min
        AnyNumber, // any number (one the table keeps as text must fit)
        Integer,   // a whole number from min to max, kept as its text
        Date       // a date, or a date and time, as the column holds it
    };
    // The byte limit of a text the column holds: its capacity - 1.
    static constexpr int kColumnBytes = -2;

    Kind kind = Text;
    double min = 0;
    double max = 0;
    // A value must be given: a text not empty, a column an import must have.
    bool required = false;
    // GBK bytes a text may hold: kColumnBytes, or a smaller limit.
    int maxBytes = kColumnBytes;
    // Line breaks allowed.
    bool multiLine = false;
    // What a row stores when the field is not given.
    QStringView absent = {};
};

// Where a table's report prints a column: its heading there (empty: the
// list's) and x of its heading; x 0: not printed.
struct PrintedColumn
{
    QStringView heading = {};
    int x = 0;
};

// One column of a table: its list column, its field's rule and its place
// in the printed report.
struct TableColumn
{
    QStringView heading;
    // A single-precision number, shown "%f"; else the text as read.
    bool single = false;
    // The result column it shows, by name; empty: the one at its position.
    QStringView source = {};
    FieldRule rule = {};
    PrintedColumn printed = {};
    // The headings other forms, reports and lists give it, "|" between
    // them: an imported file's heading may be any of them.
    QStringView otherHeadings = {};
};

// Everything the program knows of one table in one place: its columns
// (the schema), the columns its list shows with their headings and the
// rules of their fields, the query fields its query builder offers and the
// report it prints. Browsers, forms, the report command, the import and
// the exports all take these.
struct TableDescription
{
    const TableDef* def;
    // What users call the table ("设备入库"), and its rows ("入库记录").
    QStringView caption;
    std::span<const TableColumn> columns = {};
    std::span<const QueryField> queryFields = {};
    const ReportLayout* report = nullptr;
    // The report command prints it by name.
    bool printedByName = false;
    // Rows are imported into it from a file (core/TableImport).
    bool imported = false;
    QStringView rowsCaption = {};

    const QString& name() const { return def->name; }
    std::vector<RecordListModel::Column> listColumns() const;
    // The rule of the field at a column of the table (its schema position):
    // as described, else a text within the column's capacity.
    FieldRule rule(int column) const;
    // The GBK bytes a text of that column may hold.
    int maxBytes(int column) const;
    // The described column that shows a column of the table, or nullptr.
    const TableColumn* describing(int column) const;
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
extern const TableDescription deviceLoanEvent;
// The transfers between departments: sent (with their target) and
// received (with their source), and the lines of each.
extern const TableDescription transferOut;
extern const TableDescription transferOutLine;
extern const TableDescription transferIn;
extern const TableDescription transferInLine;
extern const TableDescription devicePeriod;
extern const TableDescription periodClose;

// Every table, in the schema's order, and one by name (any case) or
// nullptr.
std::span<const TableDescription* const> all();
const TableDescription* find(QStringView name);
// The names of the tables the report command prints, or that take imports.
QStringList printedNames();
QStringList importedNames();
} // namespace tables

// What users call a table ("设备入库"), as the clean form names it; the
// name itself for a table the program does not know.
QString tableCaption(QStringView name);

} // namespace vok

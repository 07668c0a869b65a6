#pragma once

#include "db/Dialect.h"
#include "db/SqlText.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace vok {

// What a column holds, as the program writes and compares it.
enum class ColumnKind
{
    Text,     // quoted text
    Number,   // bare number
    DateTime, // date and time, compared as a '#' literal
    Date      // date only
};

// How the row record holds a column: text of a fixed GBK capacity
// (terminating zero included) or a single-precision number.
enum class FieldKind
{
    Text,
    Single
};

struct ColumnDef
{
    QString name;
    ColumnKind kind;
    FieldKind field;
    int capacity; // GBK bytes including the terminating zero; 0 for Single
    // No two rows hold the same value (new databases; older ones may lack it).
    bool unique = false;
};

struct TableDef
{
    QString name;
    std::vector<ColumnDef> columns;
    bool hasRowRecord = true;
    // A table later versions added: a file made before it is still a
    // complete database and gains the table when it is opened.
    bool addedLater = false;
    // How many of the last columns later versions added: a file made
    // before them gains them when it is opened (NULL in its rows).
    int laterColumns = 0;

    int indexOf(QStringView column) const; // case-insensitive; -1 if absent
    QStringList columnNames() const;
};

// An index the program's look-ups use: its name (the same on every engine,
// lower-case on the server), its table and its columns in order. On the
// server each index ends in the row-order column, as an index of the
// embedded engine ends in the rowid, so that the rows of one key are read
// newest first from the index alone.
struct IndexDef
{
    QString name;
    QString table;
    QStringList columns;
};

// The tables, columns in their fixed order: the nine of every department
// database, and the stock adjustments added after them.
namespace schema {
extern const TableDef DeviceCode;
extern const TableDef Device;
extern const TableDef DeviceIn;
extern const TableDef DeviceOut;
extern const TableDef DeviceReturn;
extern const TableDef DeviceNeed;
extern const TableDef DeviceWantBuy;
extern const TableDef Howdo;
extern const TableDef User;
// Every change of a device's stock on hand made other than by a movement.
extern const TableDef DeviceAdjust;
// The loans: a row per device lent, and the steps of each (returns,
// damage, repair, write-off, a new due date).
extern const TableDef DeviceLoan;
extern const TableDef DeviceLoanEvent;
// The transfers between departments: the sender's record and lines, the
// receiver's record and lines.
extern const TableDef TransferOut;
extern const TableDef TransferOutLine;
extern const TableDef TransferIn;
extern const TableDef TransferInLine;
// Each device's figures of a closed month (月结), and the closed months.
extern const TableDef DevicePeriod;
extern const TableDef PeriodClose;

const std::vector<const TableDef*>& all();
// The table of that name (any case), or nullptr.
const TableDef* find(QStringView name);

// The program's indexes: by device code (the lists of one device), by code
// and date (the device card, one device's figures of a period) and by date
// (a period's figures, a day's rows) of each movement table; by code of the
// demands and purchase plans; by user and by date of the operation log.
// Other tools see them as plain SQL indexes; a file made before them gains
// them when it is opened.
const std::vector<IndexDef>& indexes();

// The trailing column every table has on PostgreSQL: a number the server
// gives each new row in turn, so SELECT * lists rows in the order they were
// added, as the embedded engine does by rowid (an UPDATE there writes a new
// row version elsewhere). The connection hides it from every result.
inline constexpr char16_t RowOrderColumn[] = u"vok_seq";

// The SQL type a column kind is declared as on an engine (TEXT, REAL,
// DATETIME or TIMESTAMP, DATE); a value bound on the server is cast to it.
QString sqlType(ColumnKind kind, Engine engine);
SqlText sqlTypeText(ColumnKind kind, Engine engine);

// CREATE TABLE statement of one table (IF NOT EXISTS) for an engine.
QString createTable(const TableDef& table, Engine engine);
// The statements that add a table's later columns to one made before them
// (on the server: unless present).
QStringList addLaterColumns(const TableDef& table, Engine engine);
// CREATE INDEX statement of one index (IF NOT EXISTS) for an engine.
QString createIndex(const IndexDef& index, Engine engine);
// CREATE TABLE and CREATE INDEX statements (and, for the embedded engine,
// the triggers that keep date values in their normalised form) for one
// engine.
QStringList createStatements(Engine engine);
// The embedded engine's triggers alone (CREATE TRIGGER IF NOT EXISTS …),
// written in SQLite's own SQL; named TABLE_column_ins and TABLE_column_upd.
QStringList sqliteTriggers();
// What keeps a closed month as it was: on each movement table and the
// adjustments, triggers that refuse to add, change or delete a row dated
// in a month PERIOD_CLOSE holds or earlier (the server's through one
// trigger function). Part of createStatements(); the embedded engine's are
// among sqliteTriggers().
QStringList closedMonthStatements(Engine engine);
// The text the engine's refusal carries.
QString closedMonthRefusal();
// The same statements as one script for the engine's own command-line
// client (each statement ends with ';'), for a site's administrator.
QString createScript(Engine engine);
} // namespace schema

// Column positions of the row records.
namespace DeviceCodeCol {
enum : int
{
    code,
    name
};
}
namespace DeviceCol {
enum : int
{
    code,
    now_number,
    high_number,
    low_number,
    total_number
};
}
namespace DeviceInCol {
enum : int
{
    code,
    in_date,
    provider,
    teleno,
    in_number,
    price,
    buyer
};
}
namespace DeviceOutCol {
enum : int
{
    code,
    department,
    out_date,
    out_state,
    out_person,
    out_number,
    taker,
    usage
};
}
namespace DeviceReturnCol {
enum : int
{
    code,
    return_date,
    keeper,
    return_number,
    return_person
};
}
namespace DeviceNeedCol {
enum : int
{
    code,
    department,
    begin_date,
    end_date,
    need_number
};
}
namespace DeviceAdjustCol {
enum : int
{
    code,
    adjust_time,
    before_number,
    after_number,
    reason,
    user_name,
    price
};
}
namespace DeviceLoanCol {
enum : int
{
    line,
    loan_id,
    code,
    loan_number,
    borrower,
    department,
    lent_at,
    due_date,
    handler,
    note,
    returned_number,
    damaged_number,
    repaired_number,
    scrapped_number,
    state
};
}
namespace DeviceLoanEventCol {
enum : int
{
    line,
    code,
    event_time,
    event,
    event_number,
    note,
    user_name
};
}
namespace DevicePeriodCol {
enum : int
{
    period,
    code,
    open_number,
    open_amount,
    in_number,
    in_amount,
    out_number,
    out_amount,
    return_number,
    return_amount,
    adjust_number,
    adjust_amount,
    close_number,
    close_amount,
    unit_cost,
    transfer_in_number,
    transfer_in_amount,
    transfer_out_number,
    transfer_out_amount
};
}
namespace DeviceWantBuyCol {
enum : int
{
    code,
    now_number,
    total_number,
    max_number,
    buy_number,
    provider,
    price,
    buy_date
};
}

} // namespace vok

#pragma once

#include "db/Connection.h"

#include <QString>
#include <optional>
#include <vector>

namespace vok {

// The stock figures of one device as the forms show them: those of its
// stock row when it has exactly one, else all 0.
struct StockFigures
{
    bool single = false; // exactly one stock row
    float now = 0;
    float high = 0;
    float low = 0;
    float total = 0;
    // The opening quantity's unit price, when given.
    std::optional<double> price = {};
};

// Reads the device's stock rows.
StockFigures readStock(Connection& c, const QString& code);

// The stock changes of the movement forms. Each runs inside the caller's
// transaction (the movement row and its stock change stand or fall
// together) and first locks the device's stock rows, so the change is made
// on the stock as it is now, whatever another workstation did since the
// form read it, and no two workstations change it at once.
namespace Stock {

// Stock-in: adds the quantity to now_number and total_number of the first
// stock row; a device without one gets it (both limits 1). Should another
// workstation add that row meanwhile, the quantity is added to it instead.
void receive(Connection& c, const QString& code, float quantity);

// Return: adds the quantity to now_number when the device has exactly one
// stock row; otherwise changes nothing (no stock row is created). True when
// the stock was changed.
bool giveBack(Connection& c, const QString& code, float quantity);

// Stock-out: takes the quantity off now_number when the device has exactly
// one stock row and its stock on hand covers the quantity; otherwise
// changes nothing. total_number and the limits keep their values.
struct Issue
{
    bool done = false;
    float onHand = 0; // the stock on hand found, before the issue
};
Issue issue(Connection& c, const QString& code, float quantity);

// Every change of a device's stock on hand made other than by a movement
// (stock-in, stock-out, return) is recorded as one adjustment: the quantity
// before and after, why and by whom. Appends that row, timed by the
// program's clock, inside the caller's transaction, so that it stands or
// falls with the change itself.
// An opening quantity may carry its unit price (yuan, to the cent).
void recordAdjustment(Connection& c, const QString& code, double before, double after,
                      const QString& reason, const QString& user,
                      std::optional<double> price = std::nullopt);

// Many devices' adjustments of one reason by one user, recorded as above,
// all at one time and appended in one pass (a statement prepared once).
struct Adjustment
{
    QString code;
    double before = 0;
    double after = 0;
    std::optional<double> price = {};
};
void recordAdjustments(Connection& c, const std::vector<Adjustment>& adjustments,
                       const QString& reason, const QString& user);

// The stock form's writes, each one transaction with its adjustment, for
// a user of that class (a read-only class is refused with DbError).
struct StockFigureSet
{
    float now = 0;
    float high = 0;
    float low = 0;
    float total = 0;
    // The opening quantity's unit price, when given.
    std::optional<double> price = {};
};
// A device's stock row with its opening stock ("期初库存", from 0) and,
// when the total is more than it, its opening total ("期初总数"). False,
// and nothing written, when the device already has a stock row (one per
// device: every later look-up wants exactly one). The code is stored as
// codeAsStored() gives it.
bool addStockRow(Connection& c, int classNumber, const QString& code, const StockFigureSet& f,
                 const QString& user);
// Sets the four figures of the device's first stock row as typed; a
// changed quantity on hand is recorded ("修改库存"). Throws DbError when
// the device has no stock row.
void changeStockRow(Connection& c, int classNumber, const QString& code, const StockFigureSet& f,
                    const QString& user);
// Deletes the device's stock rows; what they held on hand is recorded as
// going to 0 ("删除库存"). Returns the number of rows deleted.
qint64 deleteStockRows(Connection& c, int classNumber, const QString& code, const QString& user);

// The opening total of devices whose total is more than their opening
// stock: one adjustment "期初总数" each, from and to that total (the stock
// on hand unchanged), recorded as above.
struct OpeningTotal
{
    QString code;
    double total = 0;
};
void recordOpeningTotals(Connection& c, const std::vector<OpeningTotal>& totals,
                         const QString& user);

// The movement tables whose rows are imported as history.
enum class Movement
{
    In,
    Out,
    Return
};
// Movement rows imported as history changed no stock: per device, one
// adjustment "导入入库记录" ("导入出库记录", "导入还库记录") from what the
// imported rows add to the ledger (in and returns count up, outs down) to
// 0, so that the ledger counts only what changed the stock. quantities
// holds each device's imported quantity (as the rows give it, not below
// 0); devices of 0 are left out. Recorded as above.
void recordImportedHistory(Connection& c, Movement movement,
                           const std::vector<std::pair<QString, double>>& quantities,
                           const QString& user);

// The reasons an adjustment records.
QString openingReason();                   // a device's opening stock
QString openingTotalReason();              // a device's opening total, before and after
QString importedReason(Movement movement); // movement rows imported as history
QString changeReason();                    // the stock form changed the quantity on hand
QString deleteReason();                    // the stock form deleted the stock row
QString stocktakeReason();                 // a physical count
QString correctionReason();                // set to the ledger's figure

// The stock rows above their upper and below their lower limit (strictly:
// a stock equal to a limit raises no alert).
TableRows overStock();
TableRows underStock();

} // namespace Stock

} // namespace vok

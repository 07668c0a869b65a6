#pragma once

#include "db/Connection.h"

#include <QString>

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
};

// Reads the device's stock rows.
StockFigures readStock(Connection& c, const QString& code);

// The stock changes of the movement forms. Each runs inside the caller's
// transaction (the movement row and its stock change stand or fall
// together) and first locks the device's stock rows, so the change is made
// on the stock as it is now, whatever another workstation did since the
// form read it, and no two workstations change it at once.
namespace stock {

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
void recordAdjustment(Connection& c, const QString& code, double before, double after,
                      const QString& reason, const QString& user);

// The reasons an adjustment records.
QString openingReason();    // a device's opening stock
QString changeReason();     // the stock form changed the quantity on hand
QString deleteReason();     // the stock form deleted the stock row
QString stocktakeReason();  // a physical count
QString correctionReason(); // set to the ledger's figure

// The stock rows above their upper and below their lower limit (strictly:
// a stock equal to a limit raises no alert).
TableRows overStock();
TableRows underStock();

} // namespace stock

} // namespace vok

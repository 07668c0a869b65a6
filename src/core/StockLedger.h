#pragma once

#include "db/Connection.h"

#include <QDate>
#include <QString>
#include <vector>

namespace vok {

// One device as the stock table holds it and as its movements add up.
//
// The ledger of a device: its adjustments (DEVICE_ADJUST: after_number -
// before_number, corrections "按流水更正" apart) + stock-ins - stock-outs +
// returns. What was on hand before the program is the opening stock, an
// adjustment "期初库存" from 0. Its total should be everything taken in:
// the opening total ("期初总数", an adjustment from and to that total,
// recorded when it is more than the opening stock; else the opening stock
// itself) + the stock-ins. Movement rows imported as history changed no
// stock: their import records per device an adjustment "导入入库记录"
// ("导入出库记录", "导入还库记录") from what they add to the ledger to 0,
// which takes them out again (of the stock-ins taken in too). So the
// ledger counts what changed the stock, whether history came before or
// after the opening stock, and a correction to it cannot count history
// twice. Transfers between departments are movements of their own: what
// was sent (调拨出库) counts down from the moment it was sent, what was
// received (调拨入库, the quantities confirmed) counts up and is taken in;
// units on their way are listed apart and are in neither ledger.
struct LedgerRow
{
    QString code;
    QString name;
    bool inCatalogue = false;
    // DEVICE rows of the code; the quantities are summed over them.
    int stockRows = 0;
    double now = 0;
    double total = 0;
    double stockIn = 0;
    double stockOut = 0;
    double returned = 0;
    double transferredOut = 0;
    double transferredIn = 0;
    // Sent and not yet received; sent here and not yet received.
    double inTransitOut = 0;
    double inTransitIn = 0;
    bool hasMovements = false;
    // The recorded adjustments: their sum of (after - before), corrections
    // to the ledger apart, the part of it that is opening stock, the
    // opening totals (and whether there is one), the stock-ins imported as
    // history, and whether there is any adjustment other than those of
    // imported history.
    double adjusted = 0;
    double opening = 0;
    double openingTotal = 0;
    bool hasOpeningTotal = false;
    double importedIn = 0;
    bool hasAdjustments = false;
    // The device was in use before the database recorded any adjustment:
    // no adjustment at all yet, or a movement older than the first one.
    bool predatesAdjustments = true;

    // What the adjustments and movements say is on the shelf.
    double ledger() const
    {
        return adjusted + stockIn - stockOut + returned - transferredOut + transferredIn;
    }
    // What the total should be: everything taken in, opening total
    // included, history imported apart.
    double takenIn() const
    {
        return (hasOpeningTotal ? openingTotal : opening) + stockIn - importedIn + transferredIn;
    }
    bool nowAgrees() const;
    bool totalAgrees() const;
    // A device from before adjustments were recorded, without one, with
    // more on hand than its movements give: opening stock typed into the
    // stock form then explains the difference.
    bool lacksOpening() const;
    // The ledger's figure is below zero: no stock can be set to it.
    bool ledgerNegative() const;
    // What is wrong, in words; empty when the stock agrees with the ledger.
    QString problem() const;
    bool agrees() const { return problem().isEmpty(); }
    // The one stock row can be set to the ledger's figures (and differs;
    // never to a negative figure nor over a missing opening stock).
    bool correctable(bool alsoTotal) const;
};

namespace StockLedger {

// Every device of DEVICE_CODE, DEVICE, the adjustments or the movements,
// read in one aggregate pass over each table: the devices that differ
// first, then those that lack their opening stock, then the ones that
// agree, each part by code.
std::vector<LedgerRow> reconcile(Connection& connection);

// Sets now_number (and with alsoTotal total_number, to what was taken in)
// of the correctable rows to the ledger's figures, each changed quantity
// on hand recorded as an adjustment ("按流水更正"), all in one
// transaction, for a user of that class. Returns the number of devices
// changed. Throws DbError (nothing changed).
int correct(Connection& connection, int classNumber, const std::vector<LedgerRow>& rows,
            bool alsoTotal, const QString& user);

// Records for each row that lacks its opening stock one adjustment
// "期初库存" from 0 to what its current figure has beyond its movements
// (and its opening total when its total has more beyond its stock-ins),
// in one transaction. Returns the number of devices recorded.
int recordOpening(Connection& connection, int classNumber, const std::vector<LedgerRow>& rows,
                  const QString& user);

} // namespace StockLedger

// Consumption of a period: [from, to], both days whole.
struct DepartmentUse
{
    QString department;
    double issued = 0;
    double demanded = 0;
    // The demand met: per device the smaller of issued and demanded, summed.
    double met = 0;
    bool hasDemand = false;
    // The share of the demand met, "66.7%", or "—" without demand.
    QString shareText() const;
};

struct DeviceReturned
{
    QString code;
    double returned = 0;
};

struct Consumption
{
    std::vector<DepartmentUse> departments; // by department
    std::vector<DeviceReturned> returns;    // by code
};

namespace ConsumptionStats {

// Issued (DEVICE_OUT) and demanded (DEVICE_NEED rows whose period overlaps)
// per department, the demand met device by device, and returned per
// device; an empty code means all devices.
Consumption read(Connection& connection, const QDate& from, const QDate& to, const QString& code);

// The quantity of one device issued in each of the months months ending
// with the month of last, oldest first, in one pass.
std::vector<double> monthlyIssued(Connection& connection, const QString& code, const QDate& last,
                                  int months = 12);

} // namespace ConsumptionStats

} // namespace vok

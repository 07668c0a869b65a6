#pragma once

#include "db/Connection.h"

#include <QDate>
#include <QString>
#include <vector>

namespace vok {

// One device as the stock table holds it and as its movements add up.
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
    bool hasMovements = false;

    // What the movements say is on the shelf.
    double ledger() const { return stockIn - stockOut + returned; }
    bool nowAgrees() const;
    bool totalAgrees() const;
    // What is wrong, in words; empty when the stock agrees with the ledger.
    QString problem() const;
    bool agrees() const { return problem().isEmpty(); }
    // The one stock row can be set to the ledger's figures (and differs).
    bool correctable(bool alsoTotal) const;
};

namespace StockLedger {

// Every device of DEVICE_CODE, DEVICE or the movements, read in one
// aggregate pass over each table: the devices that differ first, then the
// ones that agree, each part by code.
std::vector<LedgerRow> reconcile(Connection& connection);

// Sets now_number (and with alsoTotal total_number, to the stock-in sum)
// of the correctable rows to the ledger's figures, all in one transaction.
// Returns the number of devices changed. Throws DbError (nothing changed).
int correct(Connection& connection, const std::vector<LedgerRow>& rows, bool alsoTotal);

} // namespace StockLedger

// Consumption of a period: [from, to], both days whole.
struct DepartmentUse
{
    QString department;
    double issued = 0;
    double demanded = 0;
    bool hasDemand = false;
    // "66.7%", or "—" without demand.
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
// per department and returned per device; an empty code means all devices.
Consumption read(Connection& connection, const QDate& from, const QDate& to, const QString& code);

// The quantity of one device issued in each of the months months ending
// with the month of last, oldest first, in one pass.
std::vector<double> monthlyIssued(Connection& connection, const QString& code, const QDate& last,
                                  int months = 12);

} // namespace ConsumptionStats

} // namespace vok

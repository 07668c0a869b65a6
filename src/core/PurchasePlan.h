#pragma once

#include "db/Connection.h"

#include <QStringList>
#include <optional>
#include <span>
#include <vector>

namespace vok {

// One row of a purchase plan (DEVICE_WANTBUY) as the purchase plan form and
// the reorder preview write it. Every value is stored as text, the numbers
// written "%f".
struct PlanRow
{
    QString code;
    // The stock figures as stored (PurchasePlan::figureText).
    QString nowNumber;
    QString totalNumber;
    QString maxNumber;
    float buyNumber = 0;
    QString provider;
    float price = 0;
    QString buyDate; // "%d-%d-%d %d:%d:%d"
};

// What a device under its minimum would be ordered with: its stock
// figures, the quantity that brings it up to its maximum and the supplier
// and price of its latest stock-in.
struct ReorderLine
{
    QString code;
    QString name; // from the catalogue; empty when it has none
    float onHand = 0;
    float low = 0;
    float high = 0;
    float total = 0;
    // Maximum - on hand in whole units, rounded down so that the stock does
    // not pass its maximum; 0 when there is nothing to order.
    double quantity = 0;
    // Of the latest stock-in (the last one added of the latest time); empty
    // and none without one.
    QString provider;
    std::optional<float> price;
    QString lastStockIn;
    // The newest plan row's time when it is newer than the latest stock-in
    // (any plan row without a stock-in): already planned.
    QString plannedAt;

    bool planned() const { return !plannedAt.isEmpty(); }
};

namespace PurchasePlan {

// The operation log's entry for each plan row written.
QString logText();

// A stock figure as a plan row stores it: shown as the forms show numbers
// ("%.*g", 6 digits), read back and written "%f". Returns the problem
// (empty when none) as the field checks word it.
QString figureText(double value, int column, QString& out);

// Appends the rows in one transaction: all or none. A class that may not
// write is refused with DbError; failures are thrown as DbError.
void append(Connection& c, int classNumber, std::span<const PlanRow> rows);

// The reorder proposal for those of the devices (codes, each taken once, in
// that order) whose stock row lies below its minimum. Throws DbError.
std::vector<ReorderLine> reorderProposal(Connection& c, const QStringList& codes);

} // namespace PurchasePlan

} // namespace vok

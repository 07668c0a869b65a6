#pragma once

#include "core/Loans.h"
#include "core/StockChange.h"

#include <QList>
#include <QString>
#include <optional>

namespace vok {

class Connection;

// What a device's card shows: its name, its stock figures and its latest
// movements of every kind (stock-in, stock-out, return), newest first.
struct DeviceCard
{
    struct Movement
    {
        QString time; // "YYYY-MM-DD HH:MM:SS"
        QString kind; // "入库", "出库", "还库"
        double quantity = 0;
        // Who: the supplier, the department and taker, the person returning.
        QString party;
    };

    QString code;
    QString name;
    StockFigures stock;
    // Lent and not back, and back damaged awaiting repair (apart from the
    // stock on hand).
    Loans::DeviceLoans loans;
    QList<Movement> movements;

    static constexpr int kMovements = 20;
};

// The card of a device code; nothing when the catalogue does not hold the
// code. Throws DbError.
std::optional<DeviceCard> readDeviceCard(Connection& c, const QString& code);

} // namespace vok

#pragma once

#include "core/Transfers.h"
#include "support/TestSupport.h"

#include <QMap>
#include <QSet>
#include <memory>

namespace vok::test {

// Two departments that transfer devices to each other, for the transfer
// tests: 部门A (VOK1) and 部门C (VOK3). A test makes m_sandbox in init(),
// opens the sides and seeds them; cleanup() calls closeSides().
class TwoDepartments
{
protected:
    static inline const QString kA = QStringLiteral("部门A");
    static inline const QString kC = QStringLiteral("部门C");

    // Each side a database of the run's engine, or an embedded file of the
    // sandbox whatever the run (one of each on the server).
    void openSides(bool senderOnFile = false, bool receiverOnFile = false);
    // 部门A's catalogue: 001 投影仪 with onHandOf001 units and 4 more taken
    // in at 1250.50 each (its unit cost), 002 扫描仪 with 5 units.
    void seedSender(float onHandOf001);
    void closeSides();

    transfer::Site a() const { return {kA, m_a}; }
    transfer::Site c() const { return {kC, m_c}; }
    // Opens either side; one named in m_away is out of reach.
    transfer::Opener opener();

    // Per device: the stock of both sides, the units in transit either
    // way, and what receipts found missing (less what they found over).
    QMap<QString, double> units();

    std::unique_ptr<Sandbox> m_sandbox;
    ConnectionPtr m_a, m_c;
    QSet<QString> m_away;
};

} // namespace vok::test

#include "support/TwoDepartments.h"

#include "core/StockChange.h"
#include "db/DbError.h"
#include "db/SqliteConnection.h"

#include <QDir>

namespace vok::test {

void TwoDepartments::openSides(bool senderOnFile, bool receiverOnFile)
{
    const auto side = [this](bool onFile, const QString& dsn) {
        return onFile
                   ? openSqliteConnection(QDir(m_sandbox->dataDir())
                                              .filePath(dsn.toLower() + QStringLiteral("-file.db")))
                   : m_sandbox->open(dsn);
    };
    m_away.clear();
    m_a = side(senderOnFile, QStringLiteral("VOK1"));
    m_c = side(receiverOnFile, QStringLiteral("VOK3"));
}

void TwoDepartments::seedSender(float onHandOf001)
{
    const QString code1 = QStringLiteral("001");
    const QString user = QStringLiteral("张三");
    seed(*m_a, QStringLiteral("DEVICE_CODE"),
         {{code1, QStringLiteral("投影仪")}, {QStringLiteral("002"), QStringLiteral("扫描仪")}});
    Stock::addStockRow(*m_a, 1, code1, {onHandOf001, 100, 0, onHandOf001}, user);
    Stock::addStockRow(*m_a, 1, QStringLiteral("002"), {5, 100, 0, 5}, user);
    Transaction t(*m_a);
    seed(*m_a, QStringLiteral("DEVICE_IN(code,in_date,in_number,price)"),
         {{code1, QStringLiteral("2026-3-1 9:00:00"), 4, 1250.5}});
    Stock::receive(*m_a, code1, 4);
    t.commit();
}

void TwoDepartments::closeSides()
{
    m_a.reset();
    m_c.reset();
    m_sandbox.reset();
}

transfer::Opener TwoDepartments::opener()
{
    return [this](const QString& department) -> ConnectionPtr {
        if (m_away.contains(department))
            throw DbError(DbError::Failure::Unreachable, QStringLiteral("no route"));
        return department == kA ? m_a : department == kC ? m_c : nullptr;
    };
}

QMap<QString, double> TwoDepartments::units()
{
    QMap<QString, double> out;
    for (Connection* db : {m_a.get(), m_c.get()}) {
        for (const QStringList& r :
             rows(*db, QStringLiteral("SELECT code, now_number FROM DEVICE")))
            out[r[0]] += r[1].toDouble();
        for (const QStringList& r :
             rows(*db, QStringLiteral("SELECT code, quantity - received_number FROM "
                                      "TRANSFER_IN_LINE WHERE received_number IS NOT NULL")))
            out[r[0]] += r[1].toDouble();
    }
    for (const auto& [code, quantity] : transfer::unreceived(*m_a, *m_c, kC))
        out[code] += quantity;
    for (const auto& [code, quantity] : transfer::unreceived(*m_c, *m_a, kA))
        out[code] += quantity;
    return out;
}

} // namespace vok::test

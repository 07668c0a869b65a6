#include "core/PurchasePlan.h"
#include "core/Tables.h"

#include "core/FieldCheck.h"
#include "core/Permission.h"
#include "core/TableAccess.h"
#include "db/Schema.h"
#include "db/SqlText.h"

#include <QHash>
#include <QSet>

#include <cmath>

namespace vok {

namespace PurchasePlan {

namespace {

// Reads the rows of a table whose code is one of codes (and that meet the
// condition, when one is given), a few hundred codes a statement, each row
// into a record of the table.
template <typename Each>
void readByCode(Connection& c, const TableDef& table, const QStringList& codes,
                const SqlText& condition, Each&& each)
{
    constexpr qsizetype kCodesAtOnce = 500;
    RowRecord record(table);
    for (qsizetype first = 0; first < codes.size(); first += kCodesAtOnce) {
        const QStringList part = codes.mid(first, kCodesAtOnce);
        TableRows rows{table.name,
                       SqlText::compose("code IN (%1)", {SqlText::markers(part.size())})};
        if (!condition.isEmpty())
            rows.condition += SqlText(" AND ") + condition;
        for (const QString& code : part)
            rows.values << code;
        auto rs = c.select(rows);
        while (rs->next()) {
            rs->readInto(record);
            each(record);
        }
    }
}

struct StockIn
{
    QString time;
    QString provider;
    float price = 0;
};

} // namespace

QString logText()
{
    return QStringLiteral("生成设备采购计划报表");
}

QString figureText(double value, int column, QString& out)
{
    return FieldCheck::numberTextProblem(FieldText::number(value), out, tables::deviceWantBuy,
                                         column);
}

void append(Connection& c, int classNumber, std::span<const PlanRow> rows)
{
    checkMayWrite(classNumber);
    const TableAccess plans(c, tables::deviceWantBuy, classNumber);
    Transaction t(c);
    for (const PlanRow& r : rows)
        plans.append({r.code, r.nowNumber, r.totalNumber, r.maxNumber,
                      FieldText::listNumber(r.buyNumber), r.provider,
                      FieldText::listNumber(r.price), r.buyDate});
    t.commit();
}

std::vector<ReorderLine> reorderProposal(Connection& c, const QStringList& codes)
{
    QStringList wanted;
    QSet<QString> seen;
    for (const QString& code : codes) {
        if (!seen.contains(code)) {
            seen.insert(code);
            wanted << code;
        }
    }

    // The first stock row below its minimum of each device.
    QHash<QString, ReorderLine> lines;
    readByCode(c, schema::Device, wanted, SqlText("now_number<low_number"),
               [&](const RowRecord& r) {
                   const QString code = r.text(DeviceCol::code);
                   if (lines.contains(code))
                       return;
                   ReorderLine& l = lines[code];
                   l.code = code;
                   l.onHand = r.number(DeviceCol::now_number);
                   l.high = r.number(DeviceCol::high_number);
                   l.low = r.number(DeviceCol::low_number);
                   l.total = r.number(DeviceCol::total_number);
                   l.quantity = std::max(0.0, std::floor(double(l.high) - double(l.onHand)));
               });
    QStringList under;
    for (const QString& code : wanted)
        if (lines.contains(code))
            under << code;

    readByCode(c, schema::DeviceCode, under, {}, [&](const RowRecord& r) {
        ReorderLine& l = lines[r.text(DeviceCodeCol::code)];
        if (l.name.isEmpty())
            l.name = r.text(DeviceCodeCol::name);
    });
    // Dates are read in their normalised form, so their texts sort by time;
    // of two stock-ins at one time the one added later counts.
    QHash<QString, StockIn> stockIns;
    readByCode(c, schema::DeviceIn, under, {}, [&](const RowRecord& r) {
        const QString time = r.text(DeviceInCol::in_date);
        StockIn& s = stockIns[r.text(DeviceInCol::code)];
        if (!s.time.isEmpty() && time < s.time)
            return;
        s = {time, r.text(DeviceInCol::provider), r.number(DeviceInCol::price)};
    });
    QHash<QString, QString> newestPlan;
    readByCode(c, schema::DeviceWantBuy, under, {}, [&](const RowRecord& r) {
        QString& newest = newestPlan[r.text(DeviceWantBuyCol::code)];
        newest = std::max(newest, r.text(DeviceWantBuyCol::buy_date));
    });

    std::vector<ReorderLine> proposal;
    for (const QString& code : under) {
        ReorderLine l = lines.value(code);
        if (const auto s = stockIns.constFind(code); s != stockIns.cend()) {
            l.lastStockIn = s->time;
            l.provider = s->provider;
            l.price = s->price;
        }
        const QString plan = newestPlan.value(code);
        if (!plan.isEmpty() && plan > l.lastStockIn)
            l.plannedAt = plan;
        proposal.push_back(l);
    }
    return proposal;
}

} // namespace PurchasePlan

} // namespace vok

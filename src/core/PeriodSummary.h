#pragma once

#include "core/ListExport.h"
#include "core/RecordListModel.h"
#include "core/TableReport.h"
#include "db/Connection.h"

#include <QDate>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace vok {

struct TableDef;

// A quantity and its value in cents.
struct PeriodFigure
{
    double number = 0;
    qint64 cents = 0;

    PeriodFigure& operator+=(const PeriodFigure& o)
    {
        number += o.number;
        cents += o.cents;
        return *this;
    }
};

// One device's line of the summary (收发存汇总) of a range of days. Stock
// is valued by the monthly weighted average: a month's unit cost is
// (opening amount + the month's stock-in amount) / (opening quantity +
// stock-in quantity); stock-outs, returns and adjustments are valued at it.
// A transfer in (by its receipt) counts as a stock-in at the sender's unit
// cost, or without one is valued at the month's; a transfer out (by its
// sending) as a stock-out.
struct PeriodRow
{
    QString code;
    QString name;
    PeriodFigure opening, stockIn, stockOut, returned, transferIn, transferOut, adjusted, closing;
    // The unit cost of the range's last month in cents per unit; none when
    // the device never had a cost ("无单价").
    std::optional<double> unitCost;
    bool moved = false; // a movement or adjustment in the range

    // closing = opening + in - out + returns + adjustments + transfers in
    // - transfers out, in both.
    bool balances() const;
};

struct PeriodSummaryResult
{
    std::vector<PeriodRow> rows; // by code
    PeriodRow total;             // the sums of the rows (code and name empty)
};

// One line of a device's ledger (明细账).
struct LedgerLine
{
    QString time; // "YYYY-MM-DD HH:MM:SS"; empty on the opening line
    QString kind; // 期初, 入库, 出库, 退库, 调入, 调出, or the adjustment's reason
    QString details;
    PeriodFigure change; // signed: what the line adds to the stock
    PeriodFigure balance;
};

// Amounts as the program writes them: yuan with two decimals ("-12.30").
QString centsText(qint64 cents);
// A unit cost in cents per unit as yuan with two decimals, "无单价" for none.
QString unitCostText(const std::optional<double>& centsPerUnit);
// "2004年1月" of a day in the month.
QString monthName(const QDate& month);

namespace PeriodSummary {

// The devices' figures for the days from..to (both whole). Only codes that
// begin with prefix (empty: all); devices with nothing on hand and no
// movement in the range only with includeIdle. The opening comes from the
// latest closed month at or before the range's first and the movements
// since, or without one from the whole ledger. Throws DbError.
PeriodSummaryResult read(Connection& connection, const QDate& from, const QDate& to,
                         const QString& prefix = {}, bool includeIdle = false);

// The ledger of one device for the days from..to: the opening line, every
// movement and adjustment in time order with the running balance, valued
// as in read(). Throws DbError.
std::vector<LedgerLine> ledger(Connection& connection, const QString& code, const QDate& from,
                               const QDate& to);

// What the list, the printed report and the export show: the columns
// (figures exported as numbers), the rows' texts top row first, the
// summary's total line "合计" last, and the report's layout.
std::vector<RecordListModel::Column> columns();
QList<QStringList> texts(const PeriodSummaryResult& summary);
const ReportLayout& report();
std::vector<RecordListModel::Column> ledgerColumns();
QList<QStringList> ledgerTexts(const std::vector<LedgerLine>& lines);
const ReportLayout& ledgerReport();
// An export of such texts.
ExportSource exportSource(const std::vector<RecordListModel::Column>& columns,
                          const QList<QStringList>& rows);
// The title of a range: "2026年2月" for a whole month, else
// "2026-2-10至2026-3-5".
QString rangeName(const QDate& from, const QDate& to);
// Where the underline of a report's title of that text ends: the title
// stands at 3000 in 22 points, about 310 units a Chinese character and 160
// any other.
int titleEnd(const QString& title);

} // namespace PeriodSummary

// Month-end close (月结) and its reopening (反结账).
namespace PeriodClose {

// The first day of the latest closed month; none when no month is closed.
std::optional<QDate> lastClosed(Connection& connection);
// The month 月结 would close on that day: the oldest month not yet closed
// that holds a record, up to the month before today; none when there is
// nothing to close. Throws DbError.
std::optional<QDate> nextToClose(Connection& connection, const QDate& today);
// The refusals of the class rules: empty when the class may.
QString mayClose(int classNumber);
QString mayReopen(int classNumber);
// Closes the month nextToClose() gives, for a user of class 1 or 2: the
// month's figures of every device, the month marked closed and a log
// entry "月结 YYYY年M月" in one transaction. Returns the month closed.
// Throws DbError (nothing changed), also when there is nothing to close.
QDate close(Connection& connection, int classNumber, const QString& user, const QDate& today);
// Called inside close() between reading the month's figures and storing
// them (tests: what another connection meets meanwhile); none by default.
void setCloseHook(std::function<void()> hook);
// Reopens the latest closed month (class 1 only) with a log entry
// "反结账 YYYY年M月". Returns the month. Throws DbError.
QDate reopen(Connection& connection, int classNumber, const QString& user);

// "YYYY年M月已月结，不能录入或修改该月的记录。" for the month of a date
// (any text the program writes) when that month is closed; else empty.
QString refusalFor(Connection& connection, const QString& date);
// The checks of the table operations on the tables a closing keeps: throw
// DbError with that text when a row dated in a closed month would be
// written, changed or deleted. Other tables pass.
void checkValues(Connection& connection, const TableDef& table, const QVariantList& values);
// The same check for many rows: the closed months read once.
std::function<void(const QVariantList&)> valuesCheck(Connection& connection, const TableDef& table);
void checkRows(Connection& connection, const TableRows& rows);
// The column of the date a closing judges a table's rows by; -1 for a
// table it does not keep.
int dateColumn(const TableDef& table);

} // namespace PeriodClose

} // namespace vok

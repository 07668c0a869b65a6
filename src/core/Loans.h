#pragma once

#include "db/Connection.h"

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

namespace vok {

// Equipment lent and expected back. A loan is a slip of lines, one per
// device (DEVICE_LOAN); lending issues each line as a stock-out marked
// "借用". A line comes back in parts: a good unit as a return row (back on
// hand), a damaged one only against the line, awaiting repair ("待修"),
// until it is repaired (back on hand, an adjustment "修复入库") or written
// off (an adjustment "报废…" that leaves the stock as it is: the unit left
// it when lent). Every step after the lending is one row of
// DEVICE_LOAN_EVENT; nothing is changed without one. The counts on the line
// are changed only under a condition that keeps them within what was lent,
// so two workstations can never return more than that between them.
// Every write checks the permission rule (class 3 is refused with DbError);
// failures are thrown as DbError; a refusal by the rules is returned as a
// Chinese text (empty: done).
namespace Loans {

struct LoanLine
{
    QString code;
    float quantity = 0;
};

struct LoanSlip
{
    QString borrower;
    QString department;
    QDate due;
    QString handler;
    QString note;
    std::vector<LoanLine> lines;
};

struct LendResult
{
    QString problem; // empty: lent
    int loanId = 0;
    QString lentAt; // "YYYY-MM-DD HH:MM:SS"
};

// Checks the slip's fields against their columns (and at least one line,
// each quantity at least 1): the first problem, or empty.
QString slipProblem(const LoanSlip& slip);

// Lends, in one transaction: per line a stock-out row (state "借用", use
// "借用单 N") and its stock taken off, checked against the stock on hand as
// it is now, and the loan's lines. A line the stock does not cover refuses
// the whole slip, nothing written. Lines of one code are taken together.
LendResult lend(Connection& c, int classNumber, const LoanSlip& slip);

// One line as the return and query forms show it.
struct OpenLine
{
    QString line;
    int loanId = 0;
    QString code;
    QString borrower;
    QString department;
    QString lentAt;
    QDate due;
    QString handler;
    QString note;
    double lent = 0;
    double returned = 0;
    double damaged = 0;
    double repaired = 0;
    double scrapped = 0;
    bool open = false;

    double out() const { return lent - returned - damaged; }
    double awaitingRepair() const { return damaged - repaired - scrapped; }
    // Days past the due date on that day (0 when not yet due or closed).
    int daysOverdue(const QDate& today) const;
};

// The open lines of a device code, or else of a borrower of that name,
// oldest first.
std::vector<OpenLine> openLines(Connection& c, const QString& codeOrBorrower);
// One line, whatever its state.
std::optional<OpenLine> findLine(Connection& c, const QString& line);
// The lines with units awaiting repair (of one code when given).
std::vector<OpenLine> awaitingRepair(Connection& c, const QString& code = {});
// The open lines of one device and its units awaiting repair, for the
// device card.
struct DeviceLoans
{
    double out = 0;
    double awaitingRepair = 0;
    int openLines = 0;
};
DeviceLoans deviceLoans(Connection& c, const QString& code);

enum class Condition
{
    Good,   // 完好
    Damaged // 损坏
};

// Takes back units of a line: good ones onto the stock (a return row,
// kept by keeper), damaged ones awaiting repair. The line closes when all
// it lent is back.
QString giveBack(Connection& c, int classNumber, const QString& line, float quantity,
                 Condition condition, const QString& keeper);
// Repaired units awaiting repair go back on hand.
QString repair(Connection& c, int classNumber, const QString& line, float quantity,
               const QString& user);
// Units awaiting repair are written off, with a reason.
QString writeOff(Connection& c, int classNumber, const QString& line, float quantity,
                 const QString& reason, const QString& user);
// A new due date for an open line.
QString extend(Connection& c, int classNumber, const QString& line, const QDate& due,
               const QString& user);

// The open lines past their due date on that day: how many, and the most
// days one is late.
struct Overdue
{
    qint64 count = 0;
    int mostDays = 0;
};
Overdue overdue(Connection& c, const QDate& today);
// Its line for the main window, empty when nothing is overdue.
QString overdueText(const Overdue& o);

// Row selections for the loan browser.
TableRows openRows();
TableRows overdueRows(Engine engine, const QDate& today);
TableRows closedRows();

// The borrowers named before, most recent first, at most limit.
QStringList borrowers(Connection& c, int limit = 50);

// The texts the steps record.
QString stateOpen();    // 借出
QString stateClosed();  // 已还
QString loanOutState(); // a stock-out row's state: 借用
QString repairReason(); // the adjustment of a repair: 修复入库

} // namespace Loans

} // namespace vok

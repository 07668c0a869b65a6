#include "core/Loans.h"
#include "core/Tables.h"

#include "core/Clock.h"
#include "core/FieldCheck.h"
#include "core/Permission.h"
#include "core/QueryField.h"
#include "core/StockChange.h"
#include "core/TableAccess.h"
#include "db/DbError.h"
#include "db/Gbk.h"
#include "db/Schema.h"
#include "db/SqlText.h"

#include <algorithm>
#include <variant>

namespace vok {

namespace Loans {

namespace {

// Quantities are single-precision whole units: a sum compared with what
// was lent is allowed this much over.
SqlText slack()
{
    return SqlText("0.0001");
}

const QString& loanTable()
{
    return schema::DeviceLoan.name;
}

// The columns OpenLine is read from, in this order.
SqlText lineColumns()
{
    return SqlText("line, loan_id, code, borrower, department, lent_at, due_date, handler, "
                   "note, loan_number, returned_number, damaged_number, repaired_number, "
                   "scrapped_number, state");
}

QDate dateOf(const QString& text)
{
    return QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
}

// The date as a date column is written: as the embedded engine keeps it,
// so that no row needs it rewritten.
QString dateValue(const QDate& d)
{
    return d.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
}

QString timeNow()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::vector<OpenLine> readLines(RowSet& r)
{
    std::vector<OpenLine> out;
    while (r.next()) {
        OpenLine l;
        l.line = r.text(0);
        l.loanId = int(r.number(1));
        l.code = r.text(2);
        l.borrower = r.text(3);
        l.department = r.text(4);
        l.lentAt = r.text(5);
        l.due = dateOf(r.text(6));
        l.handler = r.text(7);
        l.note = r.text(8);
        l.lent = r.number(9);
        l.returned = r.number(10);
        l.damaged = r.number(11);
        l.repaired = r.number(12);
        l.scrapped = r.number(13);
        l.open = r.text(14) == stateOpen();
        out.push_back(std::move(l));
    }
    return out;
}

std::vector<OpenLine> selectLines(Connection& c, const SqlText& condition,
                                  const QVariantList& values)
{
    auto r =
        c.queryWith(SqlText::compose("SELECT %1 FROM DEVICE_LOAN WHERE %2 ORDER BY lent_at, line",
                                     {lineColumns(), condition})
                        .toString(),
                    values);
    return readLines(*r);
}

QString quantityText(double q)
{
    return FieldText::number(q);
}

QString quantityProblem(float quantity)
{
    if (!(quantity >= 1))
        return QStringLiteral("数量至少为 1。");
    return {};
}

void recordEvent(Connection& c, const OpenLine& l, const QString& event, double quantity,
                 const QString& note, const QString& user)
{
    c.append(schema::DeviceLoanEvent.name, schema::DeviceLoanEvent.columnNames(),
             {l.line, l.code, timeNow(), event, quantity, note, user});
}

// Why a guarded change of a line found nothing to change.
QString lineMissing()
{
    return QStringLiteral("找不到这笔借用，可能已被清理。");
}

} // namespace

int OpenLine::daysOverdue(const QDate& today) const
{
    if (!open || !due.isValid() || due >= today)
        return 0;
    return int(due.daysTo(today));
}

QString slipProblem(const LoanSlip& slip)
{
    using namespace FieldCheck;
    const TableDescription& t = tables::deviceLoan;
    if (slip.lines.empty())
        return QStringLiteral("请扫描或选择要借用的设备。");
    for (const LoanLine& l : slip.lines)
        if (const QString p = quantityProblem(l.quantity); !p.isEmpty())
            return QStringLiteral("设备 %1：%2").arg(l.code, p);
    if (slip.borrower.trimmed().isEmpty())
        return QStringLiteral("请输入借用人。");
    const std::pair<const QString*, int> texts[] = {{&slip.borrower, DeviceLoanCol::borrower},
                                                    {&slip.department, DeviceLoanCol::department},
                                                    {&slip.handler, DeviceLoanCol::handler}};
    for (const auto& [text, column] : texts)
        if (const QString p = textProblem(*text, t.maxBytes(column)); !p.isEmpty())
            return p;
    if (const QString p = textProblem(slip.note, t.maxBytes(DeviceLoanCol::note), true);
        !p.isEmpty())
        return p;
    if (!slip.due.isValid() || slip.due < Clock::now().date())
        return QStringLiteral("应还日期不能早于今天。");
    return {};
}

LendResult lend(Connection& c, int classNumber, const LoanSlip& slip)
{
    checkMayWrite(classNumber);
    LendResult result;
    result.problem = slipProblem(slip);
    if (!result.problem.isEmpty())
        return result;
    // One line per device, in the order first scanned.
    std::vector<LoanLine> lines;
    for (const LoanLine& l : slip.lines) {
        auto same = std::find_if(lines.begin(), lines.end(),
                                 [&](const LoanLine& m) { return m.code == l.code; });
        if (same == lines.end())
            lines.push_back(l);
        else
            same->quantity += l.quantity;
    }
    result.lentAt = timeNow();

    Transaction transaction(c);
    for (const LoanLine& l : lines) {
        const Stock::Issue issued = Stock::issue(c, l.code, l.quantity);
        if (!issued.done) {
            result.problem =
                QStringLiteral("设备 %1 现有库存 %2，不够借出 %3，没有登记。")
                    .arg(l.code, quantityText(issued.onHand), quantityText(l.quantity));
            return result;
        }
    }

    // The next loan number; should another workstation take it meanwhile
    // (the line key is unique), the one after it.
    int id = 1;
    {
        auto r = c.queryWith(QStringLiteral("SELECT MAX(loan_id) FROM DEVICE_LOAN"), {});
        if (r->next() && !r->isNull(0))
            id = int(r->number(0)) + 1;
    }
    const QStringList names = schema::DeviceLoan.columnNames();
    auto lineValues = [&](size_t i) {
        const LoanLine& l = lines[i];
        return QVariantList{QStringLiteral("%1-%2").arg(id).arg(i + 1),
                            id,
                            l.code,
                            l.quantity,
                            slip.borrower,
                            slip.department,
                            result.lentAt,
                            dateValue(slip.due),
                            slip.handler,
                            slip.note,
                            0.0,
                            0.0,
                            0.0,
                            0.0,
                            stateOpen()};
    };
    while (!c.appendUnlessPresent(loanTable(), names, lineValues(0)))
        ++id;
    size_t next = 1;
    c.appendRows(loanTable(), names, [&](QVariantList& values) {
        if (next == lines.size())
            return false;
        values = lineValues(next++);
        return true;
    });

    const QString usage = QStringLiteral("借用单 %1").arg(id);
    next = 0;
    TableAccess(c, tables::deviceOut, classNumber).appendRows([&](QVariantList& values) {
        if (next == lines.size())
            return false;
        const LoanLine& l = lines[next++];
        values = {l.code,       slip.department, result.lentAt, loanOutState(),
                  slip.handler, l.quantity,      slip.borrower, usage};
        return true;
    });
    transaction.commit();
    result.loanId = id;
    return result;
}

std::vector<OpenLine> openLines(Connection& c, const QString& codeOrBorrower)
{
    const QString key = codeOrBorrower.trimmed();
    auto lines = selectLines(c, SqlText("state = ? AND code = ?"), {stateOpen(), key});
    if (lines.empty())
        lines = selectLines(c, SqlText("state = ? AND borrower = ?"), {stateOpen(), key});
    return lines;
}

std::optional<OpenLine> findLine(Connection& c, const QString& line)
{
    auto lines = selectLines(c, SqlText("line = ?"), {line});
    if (lines.empty())
        return std::nullopt;
    return lines.front();
}

std::vector<OpenLine> awaitingRepair(Connection& c, const QString& code)
{
    SqlText condition =
        SqlText::compose("damaged_number > repaired_number + scrapped_number + %1", {slack()});
    QVariantList values;
    if (!code.isEmpty()) {
        condition += SqlText(" AND code = ?");
        values << code;
    }
    return selectLines(c, condition, values);
}

DeviceLoans deviceLoans(Connection& c, const QString& code)
{
    DeviceLoans d;
    auto r = c.queryWith(
        QStringLiteral("SELECT SUM(CASE WHEN state = ? THEN loan_number - returned_number - "
                       "damaged_number ELSE 0 END), SUM(damaged_number - repaired_number - "
                       "scrapped_number), SUM(CASE WHEN state = ? THEN 1 ELSE 0 END) "
                       "FROM DEVICE_LOAN WHERE code = ?"),
        {stateOpen(), stateOpen(), code});
    if (r->next()) {
        d.out = r->isNull(0) ? 0 : r->number(0);
        d.awaitingRepair = r->isNull(1) ? 0 : r->number(1);
        d.openLines = r->isNull(2) ? 0 : int(r->number(2));
    }
    return d;
}

QString giveBack(Connection& c, int classNumber, const QString& line, float quantity,
                 Condition condition, const QString& keeper)
{
    checkMayWrite(classNumber);
    if (const QString p = quantityProblem(quantity); !p.isEmpty())
        return p;
    const bool good = condition == Condition::Good;
    const SqlText column = good ? SqlText("returned_number") : SqlText("damaged_number");

    Transaction transaction(c);
    // The guard in the WHERE: another workstation's return is counted
    // before this one is, never beside it.
    const qint64 changed = c.executeWith(
        SqlText::compose("UPDATE DEVICE_LOAN SET %1 = %1 + ?, state = CASE WHEN returned_number + "
                         "damaged_number + ? >= loan_number - %2 THEN ? ELSE state END "
                         "WHERE line = ? AND state = ? AND "
                         "returned_number + damaged_number + ? <= loan_number + %2",
                         {column, slack()})
            .toString(),
        {quantity, quantity, stateClosed(), line, stateOpen(), quantity});
    const auto l = findLine(c, line);
    if (!l)
        return lineMissing();
    if (changed == 0) {
        if (!l->open)
            return QStringLiteral("这笔借用已经全部归还。");
        return QStringLiteral("归还数量超过未还数量 %1。").arg(quantityText(l->out()));
    }
    if (good) {
        TableAccess(c, tables::deviceReturn, classNumber)
            .append({l->code, timeNow(), keeper, quantity, l->borrower});
        Stock::giveBack(c, l->code, quantity);
    }
    recordEvent(c, *l, good ? QStringLiteral("归还") : QStringLiteral("损坏"), quantity, {},
                keeper);
    transaction.commit();
    return {};
}

namespace {

// Takes units off those awaiting repair of the line, within what is
// awaiting; the line as it is after, or the refusal.
std::variant<OpenLine, QString> settleDamaged(Connection& c, const QString& line,
                                              const SqlText& column, float quantity)
{
    const qint64 changed = c.executeWith(
        SqlText::compose("UPDATE DEVICE_LOAN SET %1 = %1 + ? WHERE line = ? AND "
                         "repaired_number + scrapped_number + ? <= damaged_number + %2",
                         {column, slack()})
            .toString(),
        {quantity, line, quantity});
    const auto l = findLine(c, line);
    if (!l)
        return lineMissing();
    if (changed == 0)
        return QStringLiteral("数量超过待修数量 %1。").arg(quantityText(l->awaitingRepair()));
    return *l;
}

} // namespace

QString repair(Connection& c, int classNumber, const QString& line, float quantity,
               const QString& user)
{
    checkMayWrite(classNumber);
    if (const QString p = quantityProblem(quantity); !p.isEmpty())
        return p;
    Transaction transaction(c);
    const auto settled = settleDamaged(c, line, SqlText("repaired_number"), quantity);
    if (const auto* problem = std::get_if<QString>(&settled))
        return *problem;
    const OpenLine& l = std::get<OpenLine>(settled);
    if (!Stock::giveBack(c, l.code, quantity))
        return QStringLiteral("库存表中没有设备 %1 的唯一一行，不能入库。").arg(l.code);
    const double after = readStock(c, l.code).now;
    Stock::recordAdjustment(c, l.code, after - quantity, after, repairReason(), user);
    recordEvent(c, l, repairReason(), quantity, {}, user);
    transaction.commit();
    return {};
}

QString writeOff(Connection& c, int classNumber, const QString& line, float quantity,
                 const QString& reason, const QString& user)
{
    checkMayWrite(classNumber);
    if (const QString p = quantityProblem(quantity); !p.isEmpty())
        return p;
    if (reason.trimmed().isEmpty())
        return QStringLiteral("请输入报废原因。");
    if (const QString p = FieldCheck::textProblem(
            reason, tables::deviceLoanEvent.maxBytes(DeviceLoanEventCol::note));
        !p.isEmpty())
        return p;
    Transaction transaction(c);
    const auto settled = settleDamaged(c, line, SqlText("scrapped_number"), quantity);
    if (const auto* problem = std::get_if<QString>(&settled))
        return *problem;
    const OpenLine& l = std::get<OpenLine>(settled);
    // The unit left the stock when it was lent: the stock on hand stays,
    // and the adjustment records the write-off and its reason.
    const double now = readStock(c, l.code).now;
    const QString adjustReason = gbkCut(QStringLiteral("报废：") + reason.trimmed(),
                                        tables::deviceAdjust.maxBytes(DeviceAdjustCol::reason));
    Stock::recordAdjustment(c, l.code, now, now, adjustReason, user);
    recordEvent(c, l, QStringLiteral("报废"), quantity, reason.trimmed(), user);
    transaction.commit();
    return {};
}

QString extend(Connection& c, int classNumber, const QString& line, const QDate& due,
               const QString& user)
{
    checkMayWrite(classNumber);
    Transaction transaction(c);
    const auto l = findLine(c, line);
    if (!l)
        return lineMissing();
    if (!due.isValid() || due < Clock::now().date())
        return QStringLiteral("应还日期不能早于今天。");
    const qint64 changed = c.executeWith(
        QStringLiteral("UPDATE DEVICE_LOAN SET due_date = ? WHERE line = ? AND state = ?"),
        {dateValue(due), line, stateOpen()});
    if (changed == 0)
        return QStringLiteral("这笔借用已经全部归还。");
    const QString note = QStringLiteral("应还日期 %1 改为 %2")
                             .arg(l->due.toString(QStringLiteral("yyyy-MM-dd")),
                                  due.toString(QStringLiteral("yyyy-MM-dd")));
    recordEvent(c, *l, QStringLiteral("延期"), 0, note, user);
    transaction.commit();
    return {};
}

Overdue overdue(Connection& c, const QDate& today)
{
    const TableRows rows = overdueRows(c.engine(), today);
    auto r =
        c.queryWith(SqlText::compose("SELECT COUNT(*), MIN(due_date) FROM DEVICE_LOAN WHERE %1",
                                     {rows.condition})
                        .toString(),
                    rows.values);
    Overdue o;
    if (r->next()) {
        o.count = qint64(r->number(0));
        const QDate first = r->isNull(1) ? QDate() : dateOf(r->text(1));
        if (first.isValid())
            o.mostDays = int(first.daysTo(today));
    }
    return o;
}

QString overdueText(const Overdue& o)
{
    if (o.count == 0)
        return {};
    return QStringLiteral("有 %1 笔借用已逾期，最长 %2 天").arg(o.count).arg(o.mostDays);
}

TableRows openRows()
{
    return {loanTable(), SqlText("state = ?"), {stateOpen()}};
}

TableRows overdueRows(Engine engine, const QDate& today)
{
    const TableRows due = compareColumn(loanTable(), u"due_date", QueryForm::Date, Comparison::Less,
                                        today.toString(QStringLiteral("yyyy-MM-dd")), engine);
    return {loanTable(), SqlText("state = ? AND ") + due.condition,
            QVariantList{stateOpen()} + due.values};
}

TableRows closedRows()
{
    return {loanTable(), SqlText("state = ?"), {stateClosed()}};
}

QStringList borrowers(Connection& c, int limit)
{
    auto r = c.queryWith(QStringLiteral("SELECT borrower, MAX(lent_at) FROM DEVICE_LOAN GROUP BY "
                                        "borrower ORDER BY 2 DESC, 1 LIMIT ?"),
                         {limit});
    QStringList out;
    while (r->next())
        out << r->text(0);
    return out;
}

QString stateOpen()
{
    return QStringLiteral("借出");
}

QString stateClosed()
{
    return QStringLiteral("已还");
}

QString loanOutState()
{
    return QStringLiteral("借用");
}

QString repairReason()
{
    return QStringLiteral("修复入库");
}

} // namespace Loans

} // namespace vok

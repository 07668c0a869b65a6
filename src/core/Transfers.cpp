#include "core/Transfers.h"

#include "core/Clock.h"
#include "core/Departments.h"
#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/PeriodSummary.h"
#include "core/Permission.h"
#include "core/StockChange.h"
#include "core/Tables.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqlText.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QUuid>
#include <map>

namespace vok {

namespace transfer {

namespace {

StepHook& stepHook()
{
    static StepHook hook;
    return hook;
}

void at(Step step, const QString& id)
{
    if (const StepHook& hook = stepHook())
        hook(step, id);
}

QString timeNow()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString quantityText(double q)
{
    return FieldText::number(q);
}

QString dsnOf(const QString& department)
{
    for (const Department& d : departments())
        if (d.name == department)
            return d.dsn;
    return {};
}

void writeLog(Connection& c, const QString& user, const QString& text)
{
    c.append(schema::Howdo.name, schema::Howdo.columnNames(), {user, text, timeNow()});
}

// The columns a transfer's header is read from, in this order, on each side.
SqlText headerColumns(bool outgoing)
{
    return outgoing ? SqlText("transfer_id, target, sent_at, sender, note, state, "
                              "delivered_at, received_at, receiver")
                    : SqlText("transfer_id, source, sent_at, sender, note, state, "
                              "acknowledged_at, received_at, receiver");
}

Transfer readHeader(const RowSet& r, bool outgoing, const QString& here)
{
    Transfer t;
    t.id = r.text(0);
    (outgoing ? t.to : t.from) = r.text(1);
    (outgoing ? t.from : t.to) = here;
    t.sentAt = r.text(2);
    t.sender = r.text(3);
    t.note = r.text(4);
    t.state = r.text(5);
    if (outgoing)
        t.deliveredAt = r.text(6);
    t.receivedAt = r.text(7);
    t.receiver = r.text(8);
    return t;
}

void readLines(Connection& c, bool outgoing, Transfer& t)
{
    auto r = c.queryWith(SqlText::compose("SELECT line, code, name, unit_cost, quantity, "
                                          "received_number, reason FROM %1 WHERE transfer_id = ?",
                                          {SqlText::name(outgoing ? schema::TransferOutLine.name
                                                                  : schema::TransferInLine.name)})
                             .toString(),
                         {t.id});
    while (r->next()) {
        Line l;
        const QString key = r->text(0);
        l.number = key.mid(key.lastIndexOf(QLatin1Char('/')) + 1).toInt();
        l.code = r->text(1);
        l.name = r->text(2);
        l.unitCost = r->text(3);
        l.quantity = r->number(4);
        l.receivedKnown = !r->isNull(5);
        l.received = l.receivedKnown ? r->number(5) : 0;
        l.reason = r->text(6);
        t.lines.push_back(std::move(l));
    }
    std::sort(t.lines.begin(), t.lines.end(),
              [](const Line& a, const Line& b) { return a.number < b.number; });
}

// The transfers of a condition as the department `here` holds them.
std::vector<Transfer> readTransfers(Connection& c, const QString& here, bool outgoing,
                                    const SqlText& condition, const QVariantList& values,
                                    bool withLines)
{
    auto r =
        c.queryWith(SqlText::compose("SELECT %1 FROM %2 WHERE %3 ORDER BY sent_at, transfer_id",
                                     {headerColumns(outgoing),
                                      SqlText::name(outgoing ? schema::TransferOut.name
                                                             : schema::TransferIn.name),
                                      condition})
                        .toString(),
                    values);
    std::vector<Transfer> out;
    while (r->next())
        out.push_back(readHeader(*r, outgoing, here));
    r.reset();
    if (withLines)
        for (Transfer& t : out)
            readLines(c, outgoing, t);
    return out;
}

QString lineKey(const QString& id, int number)
{
    return QStringLiteral("%1/%2").arg(id).arg(number);
}

QVariant textOrNull(const QString& text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// A transfer's lines as sent, into either side's line table.
void appendLines(Connection& c, const TableDef& table, const Transfer& t)
{
    size_t next = 0;
    c.appendRows(table.name, table.columnNames(), [&](QVariantList& values) {
        if (next == t.lines.size())
            return false;
        const Line& l = t.lines[next++];
        values = {lineKey(t.id, l.number), t.id,       l.code,     l.name,
                  textOrNull(l.unitCost),  l.quantity, QVariant(), QVariant()};
        return true;
    });
}

// The sender's unit cost of a device in yuan: the average price of its
// stock-ins that have one; empty when none has.
QString unitCost(Connection& c, const QString& code)
{
    auto r = c.queryWith(QStringLiteral("SELECT SUM(in_number * price), SUM(in_number) FROM "
                                        "DEVICE_IN WHERE code = ? AND price > 0 AND in_number > 0"),
                         {code});
    if (!r->next() || r->isNull(0) || r->isNull(1) || r->number(1) <= 0)
        return {};
    return QString::number(r->number(0) / r->number(1), 'f', 2);
}

// Step 2: the transfer (as the sender holds it) put into the receiver's
// One step's change in one transaction of c, the hook told just before
// and just after its commit.
template <typename Change>
void committedStep(Connection& c, Step before, Step after, const QString& id, Change&& change)
{
    {
        Transaction t(c);
        change();
        at(before, id);
        t.commit();
    }
    at(after, id);
}

// The sender's record of a transfer marked delivered, unless it is.
void markDelivered(Connection& sender, const QString& id, const QString& when)
{
    sender.executeWith(QStringLiteral("UPDATE TRANSFER_OUT SET delivered_at = ? WHERE "
                                      "transfer_id = ? AND delivered_at IS NULL"),
                       {when, id});
}

// database unless it is there, then marked delivered in the sender's.
void deliver(Connection& sender, const Transfer& t, Connection& receiver)
{
    {
        Transaction tr(receiver);
        const bool added =
            receiver.appendUnlessPresent(schema::TransferIn.name, schema::TransferIn.columnNames(),
                                         {t.id, t.from, t.sentAt, t.sender, t.note, stateWaiting(),
                                          QVariant(), QVariant(), QVariant()});
        if (added)
            appendLines(receiver, schema::TransferInLine, t);
        at(Step::DeliverBeforeCommit, t.id);
        tr.commit();
    }
    at(Step::DeliverAfterCommit, t.id);
    committedStep(sender, Step::MarkDeliveredBeforeCommit, Step::MarkDeliveredAfterCommit, t.id,
                  [&] { markDelivered(sender, t.id, timeNow()); });
}

// Step 4: the receipt (as the receiver holds it) put into the sender's
// record unless it is there, then noted as acknowledged by the receiver.
void acknowledge(Connection& receiver, const Transfer& t, Connection& sender)
{
    committedStep(sender, Step::AcknowledgeBeforeCommit, Step::AcknowledgeAfterCommit, t.id, [&] {
        // Received is delivered too, should its marking still be pending.
        markDelivered(sender, t.id, t.receivedAt);
        const qint64 changed = sender.executeWith(
            QStringLiteral("UPDATE TRANSFER_OUT SET state = ?, received_at = ?, receiver = ? "
                           "WHERE transfer_id = ? AND state <> ?"),
            {stateReceived(), t.receivedAt, t.receiver, t.id, stateReceived()});
        if (changed > 0)
            for (const Line& l : t.lines)
                sender.executeWith(QStringLiteral("UPDATE TRANSFER_OUT_LINE SET received_number = "
                                                  "?, reason = ? WHERE line = ?"),
                                   {l.received, textOrNull(l.reason), lineKey(t.id, l.number)});
    });
    committedStep(
        receiver, Step::AcknowledgedBeforeCommit, Step::AcknowledgedAfterCommit, t.id, [&] {
            receiver.executeWith(QStringLiteral("UPDATE TRANSFER_IN SET acknowledged_at = ? WHERE "
                                                "transfer_id = ? AND acknowledged_at IS NULL"),
                                 {timeNow(), t.id});
        });
}

// The other departments' databases of one recover() or action, each
// opened once; those that cannot be reached noted once.
class Peers
{
public:
    Peers(Opener opener, RecoverResult& result) : m_opener(std::move(opener)), m_result(result) {}

    // The department's database; nullptr when it cannot be reached.
    Connection* get(const QString& department)
    {
        auto found = m_open.find(department);
        if (found != m_open.end())
            return found->second.get();
        ConnectionPtr c;
        try {
            if (m_opener)
                c = m_opener(department);
        } catch (const DbError& e) {
            m_result.failures << QStringLiteral("%1：%2").arg(department, e.text());
        }
        if (!c)
            unreachable(department);
        m_open[department] = c;
        return c.get();
    }

    // Runs a step with the department; one that fails leaves its transfer
    // pending, and the department is not asked again this time.
    template <typename F> bool run(const QString& department, F&& step)
    {
        try {
            step();
            return true;
        } catch (const DbError& e) {
            m_result.failures << QStringLiteral("%1：%2").arg(department, e.text());
            m_open[department] = nullptr;
            unreachable(department);
            return false;
        }
    }

private:
    void unreachable(const QString& department)
    {
        if (!m_result.unreachable.contains(department))
            m_result.unreachable << department;
    }

    Opener m_opener;
    std::map<QString, ConnectionPtr> m_open;
    RecoverResult& m_result;
};

} // namespace

QString stateInTransit()
{
    return QStringLiteral("在途");
}

QString stateWaiting()
{
    return QStringLiteral("待接收");
}

QString stateReceived()
{
    return QStringLiteral("已接收");
}

QString stepName(Step step)
{
    static const char* const names[] = {
        "SendBeforeCommit",       "SendAfterCommit",           "DeliverBeforeCommit",
        "DeliverAfterCommit",     "MarkDeliveredBeforeCommit", "MarkDeliveredAfterCommit",
        "ReceiveBeforeCommit",    "ReceiveAfterCommit",        "AcknowledgeBeforeCommit",
        "AcknowledgeAfterCommit", "AcknowledgedBeforeCommit",  "AcknowledgedAfterCommit"};
    return QString::fromLatin1(names[int(step)]);
}

void setStepHook(StepHook hook)
{
    stepHook() = std::move(hook);
}

Opener departmentOpener(const QString& userName, const QString& password)
{
    return [userName, password](const QString& department) -> ConnectionPtr {
        const QString dsn = dsnOf(department);
        if (dsn.isEmpty())
            return nullptr;
        if (!odbcDataSourceExists(dsn) && !QFile::exists(DataFolder::databaseFile(dsn)))
            return nullptr;
        return openConnection(ConnectionString{dsn, userName, password}.toString());
    };
}

QString slipProblem(const Site& own, const SendSlip& slip)
{
    if (slip.target.isEmpty())
        return QStringLiteral("请选择调入部门。");
    if (dsnOf(slip.target).isEmpty())
        return QStringLiteral("调入部门不正确：%1").arg(slip.target);
    if (slip.target == own.department)
        return QStringLiteral("调入部门不能是本部门。");
    if (slip.lines.empty())
        return QStringLiteral("请扫描或选择要调拨的设备。");
    for (const SendLine& l : slip.lines) {
        if (codeAsStored(l.code).isEmpty())
            return blankCodeText();
        if (!(l.quantity >= 1))
            return QStringLiteral("设备 %1：数量至少为 1。").arg(l.code);
    }
    return FieldCheck::textProblem(
        slip.note, tables::transferOut.maxBytes(schema::TransferOut.indexOf(u"note")), true);
}

SendResult send(const Site& own, int classNumber, const SendSlip& slip, const Opener& open)
{
    checkMayWrite(classNumber);
    Connection& c = *own.connection;
    SendResult result;
    result.problem = slipProblem(own, slip);
    if (!result.problem.isEmpty())
        return result;
    recover(own, open);

    // One line per device, in the order first given.
    std::vector<SendLine> lines;
    for (const SendLine& l : slip.lines) {
        const QString code = codeAsStored(l.code);
        auto same = std::find_if(lines.begin(), lines.end(),
                                 [&](const SendLine& m) { return m.code == code; });
        if (same == lines.end())
            lines.push_back({code, l.quantity});
        else
            same->quantity += l.quantity;
    }
    result.sentAt = timeNow();
    result.problem = PeriodClose::refusalFor(c, result.sentAt);
    if (!result.problem.isEmpty())
        return result;

    Transfer t;
    t.id = dsnOf(own.department) + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128);
    t.from = own.department;
    t.to = slip.target;
    t.sentAt = result.sentAt;
    t.sender = slip.user;
    t.note = slip.note;
    t.state = stateInTransit();
    {
        Transaction tr(c);
        for (const SendLine& l : lines) {
            const Stock::Issue issued = Stock::issue(c, l.code, float(l.quantity));
            if (!issued.done) {
                result.problem =
                    QStringLiteral("设备 %1 现有库存 %2，不够调出 %3，没有调拨。")
                        .arg(l.code, quantityText(issued.onHand), quantityText(l.quantity));
                return result;
            }
        }
        QHash<QString, QString> names;
        for (auto& [code, name] : catalogueNames(c))
            names.insert(code, name);
        int number = 0;
        for (const SendLine& l : lines) {
            Line line;
            line.number = ++number;
            line.code = l.code;
            line.name = names.value(l.code);
            line.unitCost = unitCost(c, l.code);
            line.quantity = l.quantity;
            t.lines.push_back(std::move(line));
        }
        c.append(schema::TransferOut.name, schema::TransferOut.columnNames(),
                 {t.id, t.to, t.sentAt, t.sender, textOrNull(t.note), t.state, QVariant(),
                  QVariant(), QVariant()});
        appendLines(c, schema::TransferOutLine, t);
        double units = 0;
        for (const Line& l : t.lines)
            units += l.quantity;
        writeLog(c, slip.user,
                 QStringLiteral("调拨出库 %1 至%2 %3 种 %4 件")
                     .arg(t.id, t.to)
                     .arg(t.lines.size())
                     .arg(quantityText(units)));
        at(Step::SendBeforeCommit, t.id);
        tr.commit();
    }
    at(Step::SendAfterCommit, t.id);
    result.id = t.id;

    RecoverResult quiet;
    Peers peers(open, quiet);
    if (Connection* receiver = peers.get(t.to))
        result.delivered = peers.run(t.to, [&] { deliver(c, t, *receiver); });
    return result;
}

std::vector<Transfer> waiting(Connection& c)
{
    return readTransfers(c, {}, false, SqlText("state = ?"), {stateWaiting()}, true);
}

int waitingCount(Connection& c)
{
    return int(c.count({schema::TransferIn.name, SqlText("state = ?"), {stateWaiting()}}));
}

QString waitingText(int count)
{
    return count > 0 ? QStringLiteral("有 %1 笔调拨待接收").arg(count) : QString();
}

Transfer sent(Connection& c, const QString& id)
{
    auto found = readTransfers(c, {}, true, SqlText("transfer_id = ?"), {id}, true);
    return found.empty() ? Transfer{} : std::move(found.front());
}

Transfer incoming(Connection& c, const QString& id)
{
    auto found = readTransfers(c, {}, false, SqlText("transfer_id = ?"), {id}, true);
    return found.empty() ? Transfer{} : std::move(found.front());
}

ReceiveResult receive(const Site& own, int classNumber, const QString& id,
                      const std::vector<Receipt>& receipts, const QString& user,
                      bool addMissingCodes, const Opener& open)
{
    checkMayWrite(classNumber);
    Connection& c = *own.connection;
    ReceiveResult result;
    recover(own, open);
    Transfer t = incoming(c, id);
    if (t.id.isEmpty()) {
        result.problem = QStringLiteral("找不到这笔调拨，可能已被清理。");
        return result;
    }
    const QString already = QStringLiteral("这笔调拨已经接收，不能再次接收。");
    if (t.state == stateReceived()) {
        result.problem = already;
        return result;
    }
    const int reasonBytes =
        tables::transferInLine.maxBytes(schema::TransferInLine.indexOf(u"reason"));
    for (Line& l : t.lines) {
        l.receivedKnown = true;
        l.received = l.quantity;
        l.reason.clear();
    }
    for (const Receipt& r : receipts) {
        auto line = std::find_if(t.lines.begin(), t.lines.end(),
                                 [&](const Line& l) { return l.number == r.line; });
        if (line == t.lines.end()) {
            result.problem = QStringLiteral("这笔调拨没有第 %1 行。").arg(r.line);
            return result;
        }
        if (!(r.received >= 0)) {
            result.problem = QStringLiteral("设备 %1：实收数量不能小于 0。").arg(line->code);
            return result;
        }
        line->received = r.received;
        line->reason = r.reason.trimmed();
        if (line->differs() && line->reason.isEmpty()) {
            result.problem =
                QStringLiteral("设备 %1 实收 %2，调出 %3，请填写调拨差异的原因。")
                    .arg(line->code, quantityText(line->received), quantityText(line->quantity));
            return result;
        }
        if (const QString p = FieldCheck::textProblem(line->reason, reasonBytes); !p.isEmpty()) {
            result.problem = p;
            return result;
        }
    }
    QSet<QString> seen;
    for (const Line& l : t.lines)
        if (!seen.contains(l.code)) {
            seen.insert(l.code);
            if (!inCatalogue(c, l.code))
                result.missingCodes.emplace_back(l.code, l.name);
        }
    if (!result.missingCodes.empty() && !addMissingCodes) {
        QStringList codes;
        for (const auto& m : result.missingCodes)
            codes << m.first;
        result.problem =
            QStringLiteral("本部门的设备代码表中没有 %1。").arg(codes.join(QStringLiteral("、")));
        return result;
    }
    t.receivedAt = timeNow();
    t.receiver = user;
    result.problem = PeriodClose::refusalFor(c, t.receivedAt);
    if (!result.problem.isEmpty())
        return result;
    {
        Transaction tr(c);
        // Only the receipt that finds the transfer still waiting changes it.
        if (c.executeWith(QStringLiteral("UPDATE TRANSFER_IN SET state = ?, received_at = ?, "
                                         "receiver = ? WHERE transfer_id = ? AND state = ?"),
                          {stateReceived(), t.receivedAt, user, id, stateWaiting()}) != 1) {
            result.problem = already;
            return result;
        }
        for (const auto& [code, name] : result.missingCodes)
            if (!inCatalogue(c, code))
                c.append(schema::DeviceCode.name, schema::DeviceCode.columnNames(), {code, name});
        double units = 0;
        int differences = 0;
        for (const Line& l : t.lines) {
            c.executeWith(QStringLiteral("UPDATE TRANSFER_IN_LINE SET received_number = ?, "
                                         "reason = ? WHERE line = ?"),
                          {l.received, textOrNull(l.reason), lineKey(id, l.number)});
            if (l.received > 0)
                Stock::receive(c, l.code, float(l.received));
            units += l.received;
            differences += l.differs() ? 1 : 0;
        }
        QString log = QStringLiteral("调拨入库 %1 自%2 %3 种 %4 件")
                          .arg(id, t.from)
                          .arg(t.lines.size())
                          .arg(quantityText(units));
        if (differences > 0)
            log += QStringLiteral("，调拨差异 %1 种").arg(differences);
        writeLog(c, user, log);
        at(Step::ReceiveBeforeCommit, id);
        tr.commit();
    }
    at(Step::ReceiveAfterCommit, id);

    RecoverResult quiet;
    Peers peers(open, quiet);
    if (Connection* sender = peers.get(t.from))
        result.acknowledged = peers.run(t.from, [&] { acknowledge(c, t, *sender); });
    return result;
}

RecoverResult recover(const Site& own, const Opener& open)
{
    Connection& c = *own.connection;
    RecoverResult result;
    Peers peers(open, result);

    // This department's sends not yet delivered.
    for (const Transfer& t :
         readTransfers(c, own.department, true, SqlText("state = ? AND delivered_at IS NULL"),
                       {stateInTransit()}, true))
        if (Connection* receiver = peers.get(t.to))
            result.delivered += peers.run(t.to, [&] { deliver(c, t, *receiver); }) ? 1 : 0;

    // The other departments' sends to this one not yet delivered.
    for (const Department& d : departments()) {
        if (d.name == own.department)
            continue;
        Connection* sender = peers.get(d.name);
        if (!sender)
            continue;
        peers.run(d.name, [&] {
            for (const Transfer& t :
                 readTransfers(*sender, d.name, true,
                               SqlText("target = ? AND state = ? AND delivered_at IS NULL"),
                               {own.department, stateInTransit()}, true)) {
                deliver(*sender, t, c);
                ++result.delivered;
            }
        });
    }

    // This department's receipts not yet in the sender's record.
    for (const Transfer& t :
         readTransfers(c, own.department, false, SqlText("state = ? AND acknowledged_at IS NULL"),
                       {stateReceived()}, true))
        if (Connection* sender = peers.get(t.from))
            result.acknowledged += peers.run(t.from, [&] { acknowledge(c, t, *sender); }) ? 1 : 0;

    // This department's sends received where the receiver could not tell
    // it: the receipt as the receiver's database holds it.
    for (const Transfer& t :
         readTransfers(c, own.department, true, SqlText("state = ? AND delivered_at IS NOT NULL"),
                       {stateInTransit()}, false)) {
        Connection* receiver = peers.get(t.to);
        if (!receiver)
            continue;
        peers.run(t.to, [&] {
            Transfer there = incoming(*receiver, t.id);
            if (there.state != stateReceived())
                return;
            acknowledge(*receiver, there, c);
            ++result.acknowledged;
        });
    }
    return result;
}

std::vector<InTransit> inTransit(Connection& c)
{
    std::map<QString, InTransit> byCode;
    const std::pair<bool, const char*> sides[] = {
        {true, "SELECT l.code, SUM(l.quantity) FROM TRANSFER_OUT_LINE l JOIN TRANSFER_OUT t ON "
               "t.transfer_id = l.transfer_id WHERE t.state = ? GROUP BY l.code"},
        {false, "SELECT l.code, SUM(l.quantity) FROM TRANSFER_IN_LINE l JOIN TRANSFER_IN t ON "
                "t.transfer_id = l.transfer_id WHERE t.state = ? GROUP BY l.code"}};
    for (const auto& [outgoing, sql] : sides) {
        auto r =
            c.queryWith(QString::fromLatin1(sql), {outgoing ? stateInTransit() : stateWaiting()});
        while (r->next()) {
            InTransit& row = byCode[r->text(0)];
            row.code = r->text(0);
            (outgoing ? row.outgoing : row.incoming) += r->number(1);
        }
    }
    std::vector<InTransit> out;
    for (auto& [code, row] : byCode)
        out.push_back(row);
    return out;
}

std::vector<std::pair<QString, double>> unreceived(Connection& sender, Connection& receiver,
                                                   const QString& receiverDepartment)
{
    QSet<QString> received;
    {
        auto r = receiver.queryWith(
            QStringLiteral("SELECT transfer_id FROM TRANSFER_IN WHERE state = ?"),
            {stateReceived()});
        while (r->next())
            received.insert(r->text(0));
    }
    std::map<QString, double> byCode;
    auto r = sender.queryWith(
        QStringLiteral("SELECT l.transfer_id, l.code, l.quantity FROM TRANSFER_OUT_LINE l JOIN "
                       "TRANSFER_OUT t ON t.transfer_id = l.transfer_id WHERE t.target = ?"),
        {receiverDepartment});
    while (r->next())
        if (!received.contains(r->text(0)))
            byCode[r->text(1)] += r->number(2);
    return {byCode.begin(), byCode.end()};
}

namespace {

TableRows listedRows(const TableDef& table, const TableDef& lines, const QString& pending,
                     Listed which)
{
    switch (which) {
    case Listed::All:
        break;
    case Listed::Pending:
        return {table.name, SqlText("state = ?"), {pending}};
    case Listed::Received:
        return {table.name, SqlText("state = ?"), {stateReceived()}};
    case Listed::Differing:
        return {table.name,
                SqlText::compose("transfer_id IN (SELECT transfer_id FROM %1 WHERE "
                                 "received_number IS NOT NULL AND received_number <> quantity)",
                                 {SqlText::name(lines.name)})};
    }
    return {table.name};
}

} // namespace

TableRows sentRows(Listed which)
{
    return listedRows(schema::TransferOut, schema::TransferOutLine, stateInTransit(), which);
}

TableRows receivedRows(Listed which)
{
    return listedRows(schema::TransferIn, schema::TransferInLine, stateWaiting(), which);
}

} // namespace transfer

} // namespace vok

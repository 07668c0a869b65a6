#pragma once

#include "db/Connection.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace vok {

// Transfers of devices between departments (调拨). Each department is a
// database of its own, and the two of a transfer share no transaction, so a
// transfer goes in steps, each one transaction in one database, each safe
// to run again:
//   1. send (sender): the stock taken off, TRANSFER_OUT and its lines (在途);
//   2. deliver (receiver): TRANSFER_IN and its lines added unless present
//      (待接收); then (sender) the transfer marked delivered;
//   3. receive (receiver): the quantities received line by line, a
//      difference with its reason, the stock added, the transfer 已接收,
//      once only (a conditional change of its state);
//   4. acknowledge (sender): the sender's record 已接收 with the quantities
//      received; then (receiver) the acknowledgement noted.
// A step whose other database cannot be reached stays pending: recover()
// finds and redoes it, at log-in and before each transfer action. So no
// unit is lost or counted twice whenever the program stops.
namespace transfer {

// The states as the tables hold them.
QString stateInTransit(); // 在途 (sender, until acknowledged)
QString stateWaiting();   // 待接收 (receiver, until received)
QString stateReceived();  // 已接收 (both)

// The points of the protocol at which the step hook is called: before and
// after each database's commit. The point after one database's commit is
// the point between the two databases.
enum class Step
{
    SendBeforeCommit,
    SendAfterCommit,
    DeliverBeforeCommit, // the receiver's TRANSFER_IN
    DeliverAfterCommit,
    MarkDeliveredBeforeCommit, // the sender's delivered_at
    MarkDeliveredAfterCommit,
    ReceiveBeforeCommit,
    ReceiveAfterCommit,
    AcknowledgeBeforeCommit, // the sender's record 已接收
    AcknowledgeAfterCommit,
    AcknowledgedBeforeCommit, // the receiver's acknowledged_at
    AcknowledgedAfterCommit
};
// The step's name ("SendBeforeCommit" …), for the crash test's output.
QString stepName(Step step);
// Called at each step with the transfer's id; nothing by default (a test
// sets it to stop the program there). An empty function takes it away.
using StepHook = std::function<void(Step, const QString& transferId)>;
void setStepHook(StepHook hook);

// Opens another department's database by the department's name ("部门C");
// returns nullptr or throws DbError when it cannot be reached.
using Opener = std::function<ConnectionPtr(const QString& department)>;
// The opener of the departments as the log-in opens its own: the data
// source on the server with that account, or the embedded file of the
// data folder. A file that does not exist is not made: that department
// has none yet (nullptr).
Opener departmentOpener(const QString& userName, const QString& password);

// This department: its name and its open database.
struct Site
{
    QString department;
    ConnectionPtr connection;
};

// A line to send: a device and its quantity.
struct SendLine
{
    QString code;
    double quantity = 0;
};

struct SendSlip
{
    QString target; // the receiving department's name
    std::vector<SendLine> lines;
    QString note;
    QString user;
};

struct SendResult
{
    QString problem; // why nothing was sent; empty when sent
    QString id;      // the transfer's id
    QString sentAt;  // "YYYY-MM-DD HH:MM:SS"
    // Delivered into the receiving department's database at once; else
    // it stays pending and the next recover() delivers it.
    bool delivered = false;
};

// What the slip lacks (no line, a quantity below 1, no or an unknown
// target or this department itself, a note too long); empty when fine.
QString slipProblem(const Site& own, const SendSlip& slip);
// Step 1 for a user of that class (a read-only class is refused with
// DbError), then the delivery (step 2) when the target can be reached.
// Lines of one device are taken together. Each device needs one stock row
// with enough on hand; a date in a closed month is refused. One log entry
// "调拨出库 …". Throws DbError for a failure of this department's database.
SendResult send(const Site& own, int classNumber, const SendSlip& slip, const Opener& open);

// One line of a transfer as either side holds it.
struct Line
{
    int number = 0; // from 1
    QString code;
    QString name;     // the sender's name of the device
    QString unitCost; // yuan, "12.30"; empty: none known
    double quantity = 0;
    bool receivedKnown = false; // received_number set
    double received = 0;
    QString reason; // why received differs from sent
    bool differs() const { return receivedKnown && received != quantity; }
};

struct Transfer
{
    QString id;
    QString from; // sending department
    QString to;   // receiving department
    QString sentAt;
    QString sender;
    QString note;
    QString state;
    QString deliveredAt; // sender side: when the receiver had it
    QString receivedAt;
    QString receiver;
    std::vector<Line> lines;
};

// The transfers this department has to receive (待接收), oldest first,
// with their lines.
std::vector<Transfer> waiting(Connection& c);
// Their number, and the status line's text of it ("有 2 笔调拨待接收";
// empty for none).
int waitingCount(Connection& c);
QString waitingText(int count);
// One transfer as this department holds it: sent (TRANSFER_OUT) or
// received (TRANSFER_IN); its id empty when there is none.
Transfer sent(Connection& c, const QString& id);
Transfer incoming(Connection& c, const QString& id);

// What the receiver confirms of a line: the quantity received and, when
// it differs from the quantity sent, why (调拨差异).
struct Receipt
{
    int line = 0;
    double received = 0;
    QString reason;
};

struct ReceiveResult
{
    QString problem; // why nothing was received; empty when received
    // The devices this department's catalogue lacks, with the sender's
    // names: asked about first (addMissingCodes false), or added.
    std::vector<std::pair<QString, QString>> missingCodes;
    bool acknowledged = false; // the sender's record shows it at once
};

// Step 3 for a user of that class: the receipts of the lines (a line left
// out is received in full), then step 4 when the sender can be reached.
// Devices the catalogue lacks are added with the sender's names only with
// addMissingCodes; else nothing is written and they are named in the
// result. A transfer already received is refused. One log entry
// "调拨入库 …". Throws DbError for a failure of this department's database.
ReceiveResult receive(const Site& own, int classNumber, const QString& id,
                      const std::vector<Receipt>& receipts, const QString& user,
                      bool addMissingCodes, const Opener& open);

// What recover() did, and what it could not reach.
struct RecoverResult
{
    int delivered = 0;    // transfers put into a receiver's database
    int acknowledged = 0; // receipts put into a sender's record
    // The departments that could not be reached, each once, and the texts
    // of the failures met (for a quiet status; nothing is lost).
    QStringList unreachable;
    QStringList failures;
};

// Finds and redoes the pending steps of this department's transfers, both
// ways: its sends not yet delivered or acknowledged, the sends of the
// other departments to it not yet delivered, its receipts not yet
// acknowledged. A department that cannot be reached is left for later.
// Throws DbError only for a failure of this department's database.
RecoverResult recover(const Site& own, const Opener& open);

// Units of a device on their way: per device code, what this department
// sent that the receiver has not received (its own record says so), and
// what was sent to it that it has not received.
struct InTransit
{
    QString code;
    double outgoing = 0;
    double incoming = 0;
};
std::vector<InTransit> inTransit(Connection& c);

// The sent quantities of the transfers from sender to the receiving
// department that its database has not received: the units in transit,
// per device code, as the two databases hold them.
// The transfer query's lists: this department's transfers sent
// (TRANSFER_OUT) or received (TRANSFER_IN), all of them, those still
// pending (在途 / 待接收), those received, or those with a line whose
// received quantity differs from the quantity sent.
enum class Listed
{
    All,
    Pending,
    Received,
    Differing
};
TableRows sentRows(Listed which);
TableRows receivedRows(Listed which);

std::vector<std::pair<QString, double>> unreceived(Connection& sender, Connection& receiver,
                                                   const QString& receiverDepartment);

} // namespace transfer

} // namespace vok

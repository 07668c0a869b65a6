#pragma once

#include "core/FormContext.h"
#include "core/Tables.h"

#include "core/TableAccess.h"
#include "ui/FormDialog.h"

#include <memory>
#include <span>
#include <vector>

class QGroupBox;
class QPushButton;

namespace vok {

class CommandTable;
class QueryGroup;
class RecordListView;
class RowRecord;

// One detail field: its control's name, label, whether it is edited and the
// list column a click copies into it. In the browsers that modify, that
// column is also the field of the row record the field is stored into, and
// an edited field is checked by that column's rule (core/Tables): a text
// within its byte limit, a number or a whole number within its range.
struct BrowserField
{
    enum Kind
    {
        Edit,     // edited, as its column's rule says
        ReadOnly, // read-only text
        Note      // read-only text of several lines
    };
    QStringView name;
    QStringView label;
    Kind kind;
    int column;
    // Place in the detail group: row and column of the field grid.
    int row;
    int gridColumn;
    // A single-line edit of several lines' height.
    bool tall = false;
};

// What a command of a browser does; its button is named by it ("modify",
// "delete", …; both exits "exit").
enum class BrowserAction
{
    Modify,
    Delete,
    Print,
    Help,
    // Closes the form: Exit rejected, Close accepted (the log viewer's
    // exit is its OK button).
    Exit,
    Close,
    Query,
    Clear
};

// The query group's controls, as the browser takes them.
enum class QueryControl
{
    Field,
    Operator,
    Value
};

struct BrowserCommand
{
    // The command's id in the form's command table and menu order.
    int id;
    QStringView caption;
    QStringView menuText;
    BrowserAction action;
    // Place among the detail group's buttons (not for Query).
    int row = 0;
    int column = 0;
};

// Everything a record browser is: a constant description that one
// mechanism, RecordBrowser, turns into the form. Spans point at constant
// tables of the browser's own file.
struct BrowserDescription
{
    QStringView objectName;
    QStringView title;
    // The dialog's size in dialog units.
    int width;
    int height;
    // The table: its list columns, query fields and report.
    const TableDescription* table;
    // Column widths as shares of the list's outer width: numerator of each
    // column over shareDenominator; none: all columns of equal width.
    std::span<const int> shares = {};
    int shareDenominator = 0;
    // With the table's query fields in a query group.
    bool query = false;
    // The query controls in the order they are taken, after the detail
    // fields.
    std::span<const QueryControl> queryOrder = {};
    // The detail fields, in the order they are taken from their controls.
    std::span<const BrowserField> fields = {};
    // The list beside the detail group (else above the groups); the
    // buttons beside the fields (else under them).
    bool listBeside = false;
    bool buttonsBeside = false;
    // The commands in tab order.
    std::span<const BrowserCommand> commands = {};
    // The context menu (ids; 0 a separator); none: no context menu.
    std::span<const int> menuOrder = {};
    // The button Enter presses; 0: none, and Enter, while no button has
    // the focus, takes the fields with their checks and, when they pass,
    // closes the form without writing.
    int defaultButton = 0;
    QStringView helpTopic = {};

    // The key of Modify and Delete: the detail fields (indices into fields)
    // whose columns must hold their values; a date column's value compared
    // as a date, any other as text.
    std::span<const int> keyFields = {};
    // Asked before a Delete that matches several rows: %1 the number of
    // rows, %2 … the key texts.
    QStringView deleteQuestion = {};
    // The demand browser deletes by the fields as last shown.
    bool deleteTakesFields = true;
    QStringView modifyDone = {};
    QStringView modifyLog = {};
    QStringView deleteDone = {};
    QStringView deleteLog = {};
};

// A record browser: lists a table (rows read last at the top), shows the
// clicked row in the detail fields, stores corrections into that row,
// deletes by its key, narrows the list with a one-condition query, prints
// what the list shows and opens its help, all as its description says,
// through the table's operations (core/TableAccess).
//
// Modify changes only the row that was clicked, identified by the engine
// (rowid, or the server's row number) as the list read it, and only when
// that row still holds the values listed; Delete removes the rows of its
// key only while that row is still among them as listed. Otherwise nothing
// is written, the user is told and the list is read again. The list is
// read when the form opens.
class RecordBrowser : public FormDialog
{
    Q_OBJECT
public:
    RecordBrowser(const BrowserDescription& description, const FormContext& context,
                  QWidget* parent = nullptr);
    ~RecordBrowser() override;

    RecordListView* list() const { return m_list; }
    CommandTable* commands() const { return m_commands; }
    // Nullptr for a browser without a query group.
    QueryGroup* queryGroup() const { return m_query; }
    // The detail field named name.
    QWidget* field(QStringView name) const;

    // The commands, as their buttons run them.
    void onModify();
    void onDelete();
    void onQuery();
    void onPrint();
    void onClear();
    // Copies a list row into the detail fields.
    void onRowChosen(int row);

    // Fills the list with the table's rows; failures go to the COM error box.
    void fillList(const TableRows& rows);

    // The texts shown when the row to change is gone or was changed by
    // another user since it was listed.
    static QString recordGoneText();
    static QString recordChangedText();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Value
    {
        QString text;
        double number = 0;
    };
    // What a detail field holds: a text, a number or a whole number.
    enum class Holds
    {
        Text,
        Number,
        Integer
    };
    Holds holds(const BrowserField& field) const;

    // The form's widgets: the commands' buttons (the query button apart),
    // the list, the query group, the detail group, the tab order.
    void buildForm();
    std::vector<QPushButton*> makeCommands(QPushButton*& queryButton);
    void makeList();
    QWidget* makeField(const BrowserField& field, QWidget* parent) const;
    QGroupBox* makeDetails(const std::vector<QPushButton*>& buttons);
    void orderTabs(const std::vector<QPushButton*>& buttons);
    void setColumnWidths();
    void runCommand(const BrowserCommand& command);
    // Takes the detail and query fields from the controls, in order, with
    // their checks. False when one fails (its message is shown).
    bool takeFields();
    void showFields();
    // The rows of the key fields' values. Throws DbError for a key date
    // that is not a date.
    TableRows keyRows() const;
    TableAccess access() const;
    // Tells the outcome of a change that did not happen and reads the list
    // again; false for Done.
    bool tellUnlessDone(RowOutcome outcome);
    QString fieldText(size_t index) const;
    void storeFields(RowRecord& record) const;
    // After a change: the notice, the log entry and the whole table again.
    void finishChange(QStringView notice, QStringView logText);
    void tellAndRefill(const QString& text);
    void refill();
    void clearFields();

    const BrowserDescription& m_d;
    FormContext m_context;
    CommandTable* m_commands = nullptr;
    RecordListView* m_list = nullptr;
    QueryGroup* m_query = nullptr;
    std::vector<QWidget*> m_edits;
    std::vector<Value> m_values;
    QString m_queryField;
    QString m_queryOperator;
    QString m_queryValue;
    // The row last clicked: its identity and its values as listed.
    qint64 m_rowId = 0;
    std::unique_ptr<RowRecord> m_listed;
};

} // namespace vok

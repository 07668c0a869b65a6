#pragma once

#include "login/FormContext.h"

#include <QDialog>

class QComboBox;
class QDateEdit;
class QFormLayout;
class QGroupBox;
class QLineEdit;
class QTimeEdit;

namespace vok {

class CommandTable;
struct TableDef;

// The catalogue's device codes ("SELECT * FROM DEVICE_CODE"), sorted as a
// sorted combo box lists them: case folded first, then by character.
// Throws DbError.
QStringList catalogueCodes(Connection& connection);

// What the entry forms (stock-in, stock-out, return, demand, purchase plan)
// share: a group box of inputs headed by the device list and the date and
// time pickers, a row of buttons under it (confirm, help, exit) with the
// same commands in the context menu, the device list filled from the
// catalogue on opening, and the end of a successful entry (message, log
// entry, close). A form builds its rows in the order of its controls, which
// is also the tab order, and writes its own confirm().
class EntryForm : public QDialog
{
    Q_OBJECT
public:
    // The form closes at once when its device list could not be filled.
    int exec() override;
    bool deviceListFilled() const { return m_filled; }

    CommandTable* commands() const { return m_commands; }

    // The control ids of the commands every entry form has.
    static constexpr int kExit = 2;

protected:
    EntryForm(const FormContext& context, const QString& title, const QString& groupCaption,
              QWidget* parent);

    // Rows of the input group, in order.
    QComboBox* addDeviceList(int id, const QString& label);
    // One Tab stop each: Tab and Shift+Tab leave a picker, the arrow keys
    // and typing move between its sections. Each is named by the label of
    // its row with "日期" or "时间".
    void addTimePickers(int dateId, int timeId, const QString& label);
    QLineEdit* addEdit(int id, const QString& label, const QString& initial = QString());
    // A text edit that stops typing and pasting at the capacity of its
    // field in a row record.
    QLineEdit* addEdit(int id, const QString& label, const TableDef& table, int column);
    void addRow(const QString& label, QWidget* field);
    // The button row (confirm, help, exit; exit is the default button) and
    // the context menu "确认", "帮助", "退出". Call after the rows.
    void addButtons(int confirmId, const QString& helpTopic);

    // Fills the device list with the catalogue's codes, sorted. A database
    // failure is shown in the COM error box and the form will close at once.
    bool fillDeviceList();
    // Step one of every confirm: "请选择一个设备" when no device is chosen.
    bool deviceChosen();
    // The entry time: the date picker's date and the time picker's time,
    // written "%d-%d-%d %d:%d:%d" without padding.
    QString entryTime() const;
    // The end of a successful entry: "完成操作！", the log entry, close.
    void completeEntry(const QString& logText);

    virtual void confirm() = 0;

    const FormContext& context() const { return m_context; }
    Connection& connection() const { return *m_context.connection; }
    QComboBox* deviceList() const { return m_deviceList; }
    QDateEdit* datePicker() const { return m_datePicker; }
    QTimeEdit* timePicker() const { return m_timePicker; }

private:
    FormContext m_context;
    QGroupBox* m_group;
    QFormLayout* m_rows;
    CommandTable* m_commands;
    QComboBox* m_deviceList = nullptr;
    QDateEdit* m_datePicker = nullptr;
    QTimeEdit* m_timePicker = nullptr;
    bool m_filled = true;
};

} // namespace vok

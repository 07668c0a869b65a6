#pragma once

#include "core/FormContext.h"
#include "ui/FormDialog.h"

class QComboBox;
class QDateEdit;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimeEdit;

namespace vok {

class CommandTable;
struct TableDescription;

// What the entry forms (stock-in, stock-out, return, demand, purchase plan)
// share: a group box of inputs headed by the device list and the date and
// time pickers, a row of buttons under it (confirm, help, exit) with the
// same commands in the context menu, the device list filled from the
// catalogue when the form opens (a failure is shown in the COM error box
// and the form closes at once), and the end of a successful entry (message,
// log entry, close). A form builds its rows in the order of its controls,
// which is also the tab order, and writes its own confirm().
class EntryForm : public FormDialog
{
    Q_OBJECT
public:
    CommandTable* commands() const { return m_commands; }

    // Asked when Enter would close the form (through the exit button, the
    // default) while it holds input that differs from what it showed when it
    // opened: 是 closes it, 否 keeps it open with the input as typed.
    static QString discardQuestion();

protected:
    // Without a group caption the inputs stand in the form without a box.
    EntryForm(const FormContext& context, const QString& title, const QString& groupCaption,
              QWidget* parent);

    // Rows of the input group, in order. Each control is named (its object
    // name) by what it holds: the device list "device", the pickers "date"
    // and "time", the others as the form names them.
    // The device list, and beside it, read-only, the catalogue's name of the
    // device chosen ("deviceName").
    QComboBox* addDeviceList(const QString& label);
    // The date picker has spin buttons, or a drop-down calendar.
    enum class DateKind
    {
        Spin,
        Calendar
    };
    // One Tab stop each: Tab and Shift+Tab leave a picker, the arrow keys
    // and typing move between its sections. Each is named by the label of
    // its row with "日期" or "时间".
    void addTimePickers(const QString& label, DateKind kind = DateKind::Spin);
    QLineEdit* addEdit(const QString& name, const QString& label,
                       const QString& initial = QString());
    // A text edit that stops typing and pasting at the byte limit of its
    // table's field.
    QLineEdit* addEdit(const QString& name, const QString& label, const TableDescription& table,
                       int column);
    // A multi-line edit: Enter starts a new line, Tab moves on.
    QPlainTextEdit* addMultiLineEdit(const QString& name, const QString& label);
    // A date picker with a drop-down calendar, set to today; one Tab stop.
    QDateEdit* addDatePicker(const QString& name, const QString& label);
    // A figure the form looks up and shows but the user cannot change.
    QLineEdit* addFigure(const QString& name, const QString& label);
    void addRow(const QString& label, QWidget* field);
    // The same controls without a row, for addPair().
    QComboBox* makeDeviceList();
    QLineEdit* makeEdit(const QString& name, const QString& initial = QString());
    QLineEdit* makeFigure(const QString& name, const QString& initial = QStringLiteral("0"));
    // Two fields side by side in one row, the second with its label in a
    // second column.
    void addPair(const QString& label, QWidget* field, const QString& label2, QWidget* field2);
    // A centred heading above the inputs.
    void addHeading(const QString& text);

    // The buttons ("confirm", "help", "exit"; exit is the default button) in a row
    // under the inputs or in a column to their right, and the context menu
    // "确认", "帮助", "退出". The captions put gap ideographic spaces
    // between their two characters. Call after the rows.
    enum class ButtonPlacement
    {
        Below,
        Right
    };
    void addButtons(int confirmId, const QString& helpTopic,
                    ButtonPlacement placement = ButtonPlacement::Below,
                    const QString& confirmWord = QStringLiteral("确认"), int gap = 1);

    // Step one of every confirm: "请选择一个设备" when no device is chosen.
    bool deviceChosen();
    // The entry time: the date picker's date and the time picker's time,
    // written "%d-%d-%d %d:%d:%d" without padding.
    QString entryTime() const;
    // A movement dated in a closed month: says so ("YYYY年M月已月结，…")
    // and returns true, before anything is written.
    bool refuseClosedMonth(const QString& time);
    // The end of a successful entry: "完成操作！", the log entry, close.
    void completeEntry(const QString& logText);

    virtual void confirm() = 0;
    // Called each time the device list's drop-down closes (a choice made
    // with the mouse or the keyboard, or the list closed without one), after
    // the choice has been taken. Choosing with the list closed does not call it.
    virtual void deviceListClosedUp() {}
    // The device list's text for a look-up: at most 63 characters.
    QString lookUpCode() const;

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    const FormContext& context() const { return m_context; }
    Connection& connection() const { return *m_context.connection; }
    QComboBox* deviceList() const { return m_deviceList; }

private:
    QLabel* makeLabel(const QString& text, QWidget* buddy);
    // Fills the device list with the catalogue's codes, sorted; false when
    // they could not be read (the error shown).
    bool fillDeviceList();
    void showDeviceName();
    // What the inputs hold, in order: typed texts, the device chosen, the
    // pickers' values; read-only figures apart.
    QStringList inputs() const;

    QStringList m_openedInputs;
    bool m_opened = false;

    FormContext m_context;
    QWidget* m_group;
    QGridLayout* m_rows;
    QGridLayout* m_layout;
    CommandTable* m_commands;
    QComboBox* m_deviceList = nullptr;
    QLineEdit* m_deviceName = nullptr;
    QDateEdit* m_datePicker = nullptr;
    QTimeEdit* m_timePicker = nullptr;
};

} // namespace vok

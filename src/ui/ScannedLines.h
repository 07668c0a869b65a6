#pragma once

#include "db/Connection.h"

#include <QTableWidget>
#include <optional>
#include <vector>

class QPushButton;

namespace vok {

struct FieldRule;

// A cell of a table of lines: read-only unless editable; a number stands
// to the right.
QTableWidgetItem* lineCell(const QString& text, bool editable, bool number = false);

// The list of devices a form gathers by scanning ("lines"): code, name,
// quantity, stock on hand. Each scan (or choice) of a code adds one unit to
// its line, or a new line of one unit with the catalogue's name and the
// stock on hand; the user types a quantity over in its cell and removes the
// line selected with the button under the list ("removeLine", made as the
// next control after the list). The form places both in its rows.
class ScannedLines : public QTableWidget
{
    Q_OBJECT
public:
    enum Column
    {
        Code,
        Name,
        Quantity,
        OnHand
    };
    struct Line
    {
        QString code;
        QString name;
        QString quantityText; // as typed
        float quantity = 0;
    };

    // The list's accessible name says what it lists ("借用清单").
    ScannedLines(ConnectionPtr connection, const QString& accessibleName, QWidget* form);

    QPushButton* removeButton() const { return m_remove; }

    // One more unit of code (nothing for an empty code); the focus goes
    // back to scanField for the next scan. A failure to read the device is
    // shown in the COM error box and adds nothing.
    void addScanned(const QString& code, QWidget* scanField);

    // The lines, each quantity checked by rule. At the first that fails
    // the form says so ("设备 001 的数量：…"), the cell takes the focus and
    // nothing is returned.
    std::optional<std::vector<Line>> checkedLines(const FieldRule& rule);

private:
    void addUnit(const QString& code);
    void removeLine();

    ConnectionPtr m_connection;
    QPushButton* m_remove;
};

} // namespace vok

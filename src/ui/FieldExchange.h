#pragma once

#include "core/FieldCheck.h"

#include <QString>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace vok {

struct TableDescription;

// Takes a form's fields from its controls, in the order the calls are made,
// and checks each as it is taken. The first field that fails shows the
// standard message (exclamation icon, the application title as caption),
// gets the focus back (its text selected) and stops the exchange: every
// later call takes nothing and returns false. Nothing is written to the
// output of a failed or skipped field.
//
//     FieldExchange dx(this);
//     dx.text(m_buyer, buyer, tables::deviceIn, DeviceInCol::buyer);
//     dx.number(m_quantity, quantity, tables::deviceIn, DeviceInCol::in_number);
//     if (!dx.ok())
//         return;
class FieldExchange
{
public:
    explicit FieldExchange(QWidget* form);

    bool ok() const { return m_ok; }
    // The control that stopped the exchange, or nullptr.
    QWidget* failedControl() const { return m_failed; }

    // A text of at most maxBytes GBK bytes (a negative limit: any length).
    // A longer text is refused with "“请填入不多于%1个的字符。”", never cut;
    // a character GBK cannot write is refused with its own message, and so
    // is a control character (line breaks are allowed in a multi-line edit).
    bool text(QLineEdit* edit, QString& out, int maxBytes = -1);
    bool text(QComboBox* combo, QString& out, int maxBytes = -1);
    // A multi-line edit: its text with the line breaks it holds.
    bool text(QPlainTextEdit* edit, QString& out, int maxBytes = -1);
    // The same with the byte limit of a table's field (core/Tables).
    bool text(QLineEdit* edit, QString& out, const TableDescription& table, int column);
    bool text(QComboBox* combo, QString& out, const TableDescription& table, int column);
    bool text(QPlainTextEdit* edit, QString& out, const TableDescription& table, int column);

    // A decimal number ("请键入一个数。" otherwise), held single-precision.
    bool number(QLineEdit* edit, float& out);
    // A number as the rule of a table's field takes it: between its least
    // and its greatest value inclusive (fractions allowed), "“请填入一个在%1和
    // %2之间的数字。”" otherwise with the bounds shown like numbers; a stock
    // figure at least its least value; or any number.
    bool number(QLineEdit* edit, float& out, const TableDescription& table, int column);
    // A stock figure the movements made (on hand, total): like a quantity,
    // but without the upper bound, as stock-ins add up beyond what one
    // movement carries. Below min (1, or 0 for a stock on hand) gives the
    // same message with that bound.
    bool stockFigure(QLineEdit* edit, float& out, int min = 1);
    // A whole number ("“请填入一个正整数。”" otherwise, or the text given)
    // within the range of a table's field ("“请填入一个在%1和%2之间的整数。”").
    bool integer(QLineEdit* edit, int& out, const TableDescription& table, int column,
                 const QString& notAnInteger = notAnIntegerText());
    // A number (as number() above) for a text field of a row record, written
    // "%f"; a number whose text would not fit is refused, never cut.
    bool numberText(QLineEdit* edit, QString& out, const TableDescription& table, int column);

    // The standard texts.
    static QString notANumberText();
    static QString rangeText(double min, double max);
    static QString notAnIntegerText();
    // The record browsers' wording: "请键入一个整数。".
    static QString typeAnIntegerText();
    static QString integerRangeText(int min, int max);
    static QString tooLongText(int maxBytes);
    static QString notGbkText(const QString& character);
    static QString tooLargeText(const QString& number);
    // A control character (NUL, tab, a line break outside a multi-line edit).
    static QString controlCharacterText(QChar character);

private:
    bool checkText(QWidget* control, const QString& text, int maxBytes);
    bool fail(QWidget* control, const QString& message);
    bool proceed() const { return m_ok; }

    QWidget* m_form;
    QWidget* m_failed = nullptr;
    bool m_ok = true;
};

// Stops typing and pasting into an edit at maxBytes GBK bytes: what would
// pass the limit is cut at a character boundary, so the edit never shows
// half a character. A text set by the program is left whole (FieldExchange
// refuses it if it is still too long when taken).
void limitText(QLineEdit* edit, int maxBytes);
// The same with the byte limit of a table's field (core/Tables).
void limitText(QLineEdit* edit, const TableDescription& table, int column);
// The same for the edit text of an editable combo box; an entry chosen
// from its list is the program's text.
void limitText(QComboBox* combo, int maxBytes);
void limitText(QComboBox* combo, const TableDescription& table, int column);
// The same for a multi-line edit, each line break counting one byte as in
// the text taken. Undo takes back what was typed or pasted, as it stayed.
void limitText(QPlainTextEdit* edit, int maxBytes);
void limitText(QPlainTextEdit* edit, const TableDescription& table, int column);

// Shows a number in an edit the way number fields show it ("%.*g", 6).
void showNumber(QLineEdit* edit, double value);

} // namespace vok

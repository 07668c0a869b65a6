#pragma once

#include <QString>
#include <optional>

namespace vok {

struct FieldRule;
struct TableDescription;

// Parsing and showing the numbers the forms exchange with their edits.
namespace FieldText {
// A decimal number with blanks allowed before and after it ("12", " 2.5 ",
// "-3", "1e3"); an empty or blank text is not a number.
std::optional<double> parseNumber(QStringView text);
// A whole decimal number with blanks allowed around it.
std::optional<qint64> parseInteger(QStringView text);
// A number field as the forms show it: printf "%.*g" with precision 6.
QString number(double value);
// A single-precision value as the lists show it: printf "%f".
QString listNumber(double value);
} // namespace FieldText

// The checks of typed values, shared by the forms (FieldExchange) and the
// import: each returns the problem as the form's message text, empty when
// the value is fine, and gives the value taken. A field's rule (its kind,
// range, byte limit) comes from its table's description (core/Tables).
namespace FieldCheck {

// A text of at most maxBytes GBK bytes (a negative limit: any length): a
// control character (line breaks allowed when multiLine), a character GBK
// cannot write or a longer text is refused, never cut.
QString textProblem(const QString& text, int maxBytes, bool multiLine = false);

// A decimal number, held single-precision.
QString numberProblem(QStringView text, float& out);
// A decimal number between min and max inclusive (fractions allowed).
QString numberProblem(QStringView text, float& out, double min, double max);
// A stock figure the movements made (on hand, total): at least min (1, or
// 0 for a stock on hand), no upper bound.
QString stockFigureProblem(QStringView text, float& out, int min = 1);
// A number as the field's rule takes it: from min to max (Number), at
// least min (Figure), or any (AnyNumber).
QString numberProblem(QStringView text, float& out, const FieldRule& rule);
// A whole number between min and max inclusive.
QString integerProblem(QStringView text, int& out, int min, int max, const QString& notAnInteger);
// A number for a text field of a row record, written "%f"; a number whose
// text would not fit is refused.
QString numberTextProblem(QStringView text, QString& out, const TableDescription& table,
                          int column);

// The standard texts.
QString notANumberText();
QString rangeText(double min, double max);
// A figure with no upper bound (a stock on hand) below its least value.
QString atLeastText(double min);
QString notAnIntegerText();
QString typeAnIntegerText();
QString integerRangeText(int min, int max);
QString tooLongText(int maxBytes);
QString notGbkText(const QString& character);
QString tooLargeText(const QString& number);
QString controlCharacterText(QChar character);

} // namespace FieldCheck

} // namespace vok

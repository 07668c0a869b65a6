#pragma once

#include <QString>
#include <optional>

namespace vok {

// Parsing and showing the numbers the forms exchange with their fields.
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

// The checks of typed input, whatever holds it (an edit, a cell of a
// table). Each returns the standard message of the problem, empty when the
// input is fine, and writes its output only then.
namespace FieldCheck {

// A text of at most maxBytes GBK bytes (a negative limit: any length),
// every character one GBK can write and none a control character (line
// breaks are allowed in multi-line text).
QString text(QStringView text, int maxBytes, bool multiLine = false);
// A decimal number, held single-precision.
QString number(QStringView text, float& out);
// A decimal number between min and max inclusive (fractions allowed), as
// held single-precision.
QString number(QStringView text, float& out, double min, double max);
// A number for a text column of maxBytes, written "%f"; a number whose
// text would not fit is refused, never cut.
QString numberText(QStringView text, QString& out, int maxBytes);

// The standard texts.
QString notANumberText();
QString rangeText(double min, double max);
QString tooLongText(int maxBytes);
QString notGbkText(const QString& character);
QString tooLargeText(const QString& number);
QString controlCharacterText(QChar character);

} // namespace FieldCheck

} // namespace vok

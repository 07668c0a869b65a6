#pragma once

#include <QString>

namespace vok {

// Byte counts in GBK (code page 936), the measure of every text field's
// capacity: an ASCII character takes one byte, a Chinese character two.

// Number of GBK bytes of a text; a character GBK cannot encode counts as
// one byte (the '?' it would become).
int gbkLength(QStringView text);

// The first character of text that GBK cannot encode, or a null QChar
// string when every character can be written.
QString firstNonGbkCharacter(QStringView text);

// Cuts text to at most maxBytes GBK bytes, never inside a character.
QString gbkCut(const QString& text, int maxBytes);

} // namespace vok

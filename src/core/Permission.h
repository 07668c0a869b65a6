#pragma once

#include <QString>

namespace vok {

// The class number of a class text: its first character read as a decimal
// digit. A text that does not begin with a digit gives the least privilege,
// class 3.
int classNumberOf(const QString& classText);

// Class 3 may change nothing.
inline bool isReadOnlyClass(int classNumber)
{
    return classNumber == 3;
}

// The check of every write in the core's table operations: throws DbError
// for a class that may change nothing, whatever window asks.
void checkMayWrite(int classNumber);

// Its text.
QString readOnlyClassText();

} // namespace vok

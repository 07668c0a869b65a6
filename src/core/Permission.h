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

// Only class 1 adds, changes and removes accounts.
inline bool mayManageAccounts(int classNumber)
{
    return classNumber == 1;
}

// The check of every account change in the core (core/Accounts): throws
// DbError for another class, whatever window asks.
void checkMayManageAccounts(int classNumber);

// Its text.
QString accountsClassText();

} // namespace vok

#pragma once

#include "db/Connection.h"

#include <QString>
#include <optional>

namespace vok {

// The rows of table user: finding an account by name and password,
// adding and removing accounts (a password always stored hashed), and
// whether any department holds one.
namespace Accounts {

// Looks the user name up and checks the password in code, so that neither
// text shapes the SQL. Returns the class text of the first row whose
// password matches, or nothing; a row without a password (NULL or
// empty) never matches. A matching password stored as plain text (an
// earlier version's row) is rewritten as a hash in the same step. Throws
// DbError.
std::optional<QString> find(Connection& connection, const QString& userName,
                            const QString& password);

// True when the user name has rows and none of them a password: such an
// account cannot log in until an administrator sets one. Throws DbError.
bool lacksPassword(Connection& connection, const QString& userName);

// True when a row with this user name exists. Throws DbError.
bool exists(Connection& connection, const QString& userName);

// True when the table holds any row. Throws DbError.
bool any(Connection& connection);

// Who sets a department up without a user logged in (the first run, the
// command line's --add-user) adds its accounts as class 1 does.
inline constexpr int kSettingUp = 1;

// Appends one account for a user of class byClass; the password is stored
// hashed. Only class 1 may: another class is refused with DbError, and
// failures are thrown as DbError.
void add(Connection& connection, int byClass, const QString& userName, const QString& password,
         const QString& classText);

// Deletes every account of that name for a user of class byClass; only
// class 1 may (DbError otherwise). Throws DbError.
void remove(Connection& connection, int byClass, const QString& userName);

// True when none of the five department databases holds an account: the
// program's first run. A database that cannot be opened without
// credentials (a shared server) counts as holding accounts.
bool noAccountAnywhere();

} // namespace Accounts

} // namespace vok

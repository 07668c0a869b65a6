#include "core/Accounts.h"

#include "core/Departments.h"
#include "core/Password.h"
#include "core/Permission.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqlText.h"

namespace vok {

namespace {

// The account rows of a user name.
TableRows userRows(const Connection& connection, const QString& userName)
{
    return {
        schema::User.name, SqlText::name(u"user", connection.engine()) + SqlText("=?"), {userName}};
}

} // namespace

std::optional<QString> Accounts::find(Connection& connection, const QString& userName,
                                      const QString& password)
{
    auto rows = connection.select(userRows(connection, userName));
    const int pswd = rows->indexOf(u"pswd");
    const int cls = rows->indexOf(u"class");
    if (pswd < 0 || cls < 0)
        throw DbError(DbError::Kind::Engine, QStringLiteral("表 user 缺少 pswd 或 class 列。"));
    std::optional<QString> found;
    QString plain; // the stored text when it was not a hash
    while (rows->next()) {
        // An account without a password (none, or an empty one written by
        // another tool) never logs in.
        if (rows->isNull(pswd))
            continue;
        const QString stored = rows->text(pswd);
        if (stored.isEmpty())
            continue;
        if (Password::verify(stored, password)) {
            found = rows->isNull(cls) ? QString() : rows->text(cls);
            if (!Password::isHash(stored))
                plain = stored;
            break;
        }
    }
    rows.reset();
    // A password an earlier version kept as plain text is hashed as soon as
    // it has been typed correctly.
    if (found && !plain.isNull()) {
        TableRows same = userRows(connection, userName);
        same.condition +=
            SqlText::compose(" AND %1=?", {SqlText::name(u"pswd", connection.engine())});
        same.values.append(plain);
        const auto row = connection.openRow(same, schema::User);
        if (row->found()) {
            row->record().setText(schema::User.indexOf(u"pswd"), Password::hash(password));
            row->store();
        }
    }
    return found;
}

bool Accounts::lacksPassword(Connection& connection, const QString& userName)
{
    auto rows = connection.select(userRows(connection, userName));
    const int pswd = rows->indexOf(u"pswd");
    bool found = false;
    while (rows->next()) {
        if (pswd >= 0 && !rows->isNull(pswd) && !rows->text(pswd).isEmpty())
            return false;
        found = true;
    }
    return found;
}

bool Accounts::exists(Connection& connection, const QString& userName)
{
    return connection.select(userRows(connection, userName))->next();
}

void Accounts::remove(Connection& connection, int byClass, const QString& userName)
{
    checkMayManageAccounts(byClass);
    connection.remove(userRows(connection, userName));
}

bool Accounts::any(Connection& connection)
{
    return connection.select({schema::User.name})->next();
}

void Accounts::add(Connection& connection, int byClass, const QString& userName,
                   const QString& password, const QString& classText)
{
    checkMayManageAccounts(byClass);
    const QString stored = Password::hash(password);
    connection.append(QStringLiteral("user"), schema::User.columnNames(),
                      {userName, stored, classText});
}

bool Accounts::noAccountAnywhere()
{
    for (const Department& d : departments()) {
        try {
            const ConnectionPtr c = openConnection(ConnectionString{d.dsn, {}, {}}.toString());
            const bool found = any(*c);
            c->close();
            if (found)
                return false;
        } catch (const DbError&) {
            return false;
        }
    }
    return true;
}

} // namespace vok

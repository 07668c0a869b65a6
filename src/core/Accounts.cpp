#include "core/Accounts.h"

#include "core/Departments.h"
#include "core/Password.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqlFormat.h"

#include <stdexcept>

namespace vok {

namespace {

QString hashed(const QString& password)
{
    try {
        return Password::hash(password);
    } catch (const std::runtime_error& e) {
        throw DbError(DbError::kFail, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

std::optional<QString> Accounts::find(Connection& connection, const QString& userName,
                                      const QString& password)
{
    auto rows = connection.query(
        sqlFormat(u"SELECT * FROM user where user='%s'", {SqlArg::text(userName)}));
    const int pswd = rows->indexOf(u"pswd");
    const int cls = rows->indexOf(u"class");
    if (pswd < 0 || cls < 0)
        throw DbError(DbError::kFail, QStringLiteral("表 user 缺少 pswd 或 class 列。"));
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
    if (found && !plain.isNull())
        connection.execute(sqlFormat(
            u"UPDATE user SET pswd='%s' WHERE user='%s' AND pswd='%s'",
            {SqlArg::text(hashed(password)), SqlArg::text(userName), SqlArg::text(plain)}));
    return found;
}

bool Accounts::lacksPassword(Connection& connection, const QString& userName)
{
    auto rows = connection.query(
        sqlFormat(u"SELECT * FROM user where user='%s'", {SqlArg::text(userName)}));
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
    return connection.recordCount(
               sqlFormat(u"SELECT * FROM user where user='%s'", {SqlArg::text(userName)})) > 0;
}

void Accounts::remove(Connection& connection, const QString& userName)
{
    connection.remove(
        {schema::User.name, connection.name(u"user") + QStringLiteral("=?"), {userName}});
}

bool Accounts::any(Connection& connection)
{
    return connection.recordCount(QStringLiteral("SELECT * FROM user")) > 0;
}

void Accounts::add(Connection& connection, const QString& userName, const QString& password,
                   const QString& classText)
{
    const QString stored = hashed(password);
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

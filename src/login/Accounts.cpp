#include "login/Accounts.h"

#include "db/DbError.h"
#include "db/SqlFormat.h"
#include "login/Departments.h"
#include "login/Password.h"

#include <stdexcept>

namespace vok {

std::optional<QString> Accounts::find(Connection& connection, const QString& userName,
                                      const QString& password)
{
    auto rows = connection.query(
        sqlFormat(u"SELECT * FROM user where user='%s'", {SqlArg::text(userName)}));
    const int pswd = rows->indexOf(u"pswd");
    const int cls = rows->indexOf(u"class");
    if (pswd < 0 || cls < 0)
        throw DbError(DbError::kFail, QStringLiteral("表 user 缺少 pswd 或 class 列。"));
    while (rows->next()) {
        if (Password::verify(rows->isNull(pswd) ? QString() : rows->text(pswd), password))
            return rows->isNull(cls) ? QString() : rows->text(cls);
    }
    return std::nullopt;
}

bool Accounts::exists(Connection& connection, const QString& userName)
{
    return connection.recordCount(
               sqlFormat(u"SELECT * FROM user where user='%s'", {SqlArg::text(userName)})) > 0;
}

bool Accounts::any(Connection& connection)
{
    return connection.recordCount(QStringLiteral("SELECT * FROM user")) > 0;
}

void Accounts::add(Connection& connection, const QString& userName, const QString& password,
                   const QString& classText)
{
    QString stored;
    try {
        stored = Password::hash(password);
    } catch (const std::runtime_error& e) {
        throw DbError(DbError::kFail, QString::fromLocal8Bit(e.what()));
    }
    connection.append(QStringLiteral("user"),
                      {QStringLiteral("user"), QStringLiteral("pswd"), QStringLiteral("class")},
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

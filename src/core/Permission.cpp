#include "core/Permission.h"

#include "db/DbError.h"

namespace vok {

int classNumberOf(const QString& classText)
{
    if (classText.isEmpty())
        return 3;
    const QChar c = classText.at(0);
    if (c.unicode() < '0' || c.unicode() > '9')
        return 3;
    return c.unicode() - '0';
}

QString readOnlyClassText()
{
    return QStringLiteral("当前用户只能查看数据，不能更改数据。请用有更改权限的用户重新登录。");
}

void checkMayWrite(int classNumber)
{
    if (isReadOnlyClass(classNumber))
        throw DbError(DbError::Kind::Refused, readOnlyClassText());
}

QString accountsClassText()
{
    return QStringLiteral("只有权限为 1 的用户可以添加、修改和删除用户。");
}

void checkMayManageAccounts(int classNumber)
{
    if (!mayManageAccounts(classNumber))
        throw DbError(DbError::Kind::Refused, accountsClassText());
}

} // namespace vok

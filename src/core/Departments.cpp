#include "core/Departments.h"

#include "db/Connection.h"

namespace vok {

const QList<Department>& departments()
{
    static const QList<Department> list = [] {
        QList<Department> l;
        const QString names[] = {QStringLiteral("部门A"), QStringLiteral("部门B"),
                                 QStringLiteral("部门C"), QStringLiteral("部门D"),
                                 QStringLiteral("部门E")};
        for (int i = 0; i < 5; ++i) {
            const QString dsn = QStringLiteral("VOK%1").arg(i + 1);
            l.append({names[i], dsn, QStringLiteral("DSN=%1;UID=%s;PWD=%s").arg(dsn)});
        }
        return l;
    }();
    return list;
}

QStringList departmentNames()
{
    QStringList names;
    for (const Department& d : departments())
        names << d.name;
    return names;
}

std::optional<QString> departmentConnectionString(const QString& department,
                                                  const QString& userName, const QString& password)
{
    for (const Department& d : departments())
        if (d.name == department)
            return ConnectionString{d.dsn, userName, password}.toString();
    return std::nullopt;
}

QString unknownDepartmentText(const QString& department)
{
    return QStringLiteral("部门选择项不正确: %1（可选: %2）")
        .arg(department, departmentNames().join(QLatin1Char(' ')));
}

} // namespace vok

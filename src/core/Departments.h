#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace vok {

// The five departments and the data source of each one's database.
struct Department
{
    QString name;    // "部门A" …
    QString dsn;     // "VOK1" …
    QString pattern; // "DSN=VOK1;UID=%s;PWD=%s"
};

const QList<Department>& departments();
QStringList departmentNames();

// The department's connection string with user name and password, or
// nothing when the department is not one of the five (matched exactly).
std::optional<QString> departmentConnectionString(const QString& department,
                                                  const QString& userName, const QString& password);

// What the command line says of a department that is not one of the five.
QString unknownDepartmentText(const QString& department);

} // namespace vok

#include "core/CommandLine.h"

#include "core/Departments.h"
#include "core/Tables.h"

#include <QStringList>

namespace vok::CommandLine {

ExitCode exitCode(const DbError& error)
{
    return error.isRefusal() ? Refused : Failed;
}

void refuse(const QString& text)
{
    throw DbError(DbError::Kind::Refused, text);
}

const TableDescription& table(const QString& name, const QStringList& known, const QString& refusal,
                              const QString& separator)
{
    const TableDescription* t = tables::find(name);
    if (!t || !known.contains(t->name(), Qt::CaseInsensitive))
        refuse(refusal.arg(name, known.join(separator)));
    return *t;
}

Department::Department(const QString& name, const QString& userName)
{
    const std::optional<QString> cs = departmentConnectionString(name, userName, QString());
    if (!cs)
        refuse(unknownDepartmentText(name));
    m_connectionString = *cs;
}

ConnectionPtr Department::open() const
{
    return openConnection(m_connectionString);
}

} // namespace vok::CommandLine

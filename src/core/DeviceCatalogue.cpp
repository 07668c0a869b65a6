#include "core/DeviceCatalogue.h"

#include "core/Permission.h"
#include "core/TableAccess.h"
#include "db/DbError.h"
#include "db/SqlText.h"

#include <algorithm>

namespace vok {

namespace {

TableAccess catalogue(Connection& connection, int classNumber = 3)
{
    return TableAccess(connection, tables::deviceCode, classNumber);
}

} // namespace

QString codeAsStored(const QString& typed)
{
    return typed.trimmed();
}

QStringList catalogueCodes(Connection& connection)
{
    QStringList codes;
    auto rows = catalogue(connection).list(TableRows{tables::deviceCode.name()});
    while (rows->next())
        if (!rows->isNull(DeviceCodeCol::code))
            codes << rows->text(DeviceCodeCol::code);
    std::sort(codes.begin(), codes.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return codes;
}

std::vector<std::pair<QString, QString>> catalogueNames(Connection& connection)
{
    auto rows = connection.queryWith(
        QStringLiteral("SELECT code, MIN(name) FROM DEVICE_CODE GROUP BY code ORDER BY code"), {});
    std::vector<std::pair<QString, QString>> out;
    while (rows->next())
        out.emplace_back(rows->text(0), rows->text(1));
    return out;
}

QString deviceName(Connection& connection, const QString& code)
{
    const TableAccess table = catalogue(connection);
    const auto row = table.read(table.matching(DeviceCodeCol::code, code));
    return row ? row->text(DeviceCodeCol::name) : QString();
}

QString blankCodeText()
{
    return QStringLiteral("设备号不能为空，请填入设备号。");
}

QString codeInCatalogueText(const QString& code)
{
    return QStringLiteral("设备号“%1”已在设备代码表中，不能重复添加。").arg(code);
}

bool inCatalogue(Connection& connection, const QString& code)
{
    const TableAccess table = catalogue(connection);
    return table.count(table.matching(DeviceCodeCol::code, code)) > 0;
}

QString codeToAddProblem(Connection& connection, const QString& typed)
{
    const QString code = codeAsStored(typed);
    if (code.isEmpty())
        return blankCodeText();
    const TableAccess table = catalogue(connection);
    if (table.count(table.matching(DeviceCodeCol::code, code)) > 0)
        return codeInCatalogueText(code);
    return {};
}

QString codeToRenameProblem(const QString& code)
{
    if (code.trimmed().isEmpty())
        return QStringLiteral("设备号不能为空，请在列表中选择要修改的设备。");
    return {};
}

void addDeviceCode(Connection& connection, int classNumber, const QString& typed,
                   const QString& name)
{
    const QString code = codeAsStored(typed);
    const TableAccess table = catalogue(connection, classNumber);
    Transaction t(connection);
    if (const QString problem = codeToAddProblem(connection, code); !problem.isEmpty())
        throw DbError(DbError::Kind::Refused, problem);
    table.append({code, name});
    t.commit();
}

void renameDeviceCode(Connection& connection, int classNumber, const QString& code,
                      const QString& name)
{
    if (const QString problem = codeToRenameProblem(code); !problem.isEmpty())
        throw DbError(DbError::Kind::Refused, problem);
    checkMayWrite(classNumber);
    // Every row of the code (an older database may hold it twice); a code
    // that is not there changes nothing.
    const TableRows rows = catalogue(connection).matching(DeviceCodeCol::code, code);
    connection.executeWith(
        SqlText::compose("UPDATE %1 SET %2=? WHERE %3",
                         {SqlText::name(tables::deviceCode.name(), connection.engine()),
                          SqlText::name(u"name", connection.engine()), rows.condition})
            .toString(),
        QVariantList{name} + rows.values);
}

void deleteDeviceCode(Connection& connection, int classNumber, const QString& code)
{
    const TableAccess table = catalogue(connection, classNumber);
    table.remove(table.matching(DeviceCodeCol::code, code));
}

} // namespace vok

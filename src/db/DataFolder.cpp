#include "db/DataFolder.h"

#include <QDir>

namespace vok {

namespace {
QString& overridePath()
{
    static QString p;
    return p;
}
} // namespace

QString DataFolder::path()
{
    if (!overridePath().isEmpty())
        return overridePath();
    const QString env = qEnvironmentVariable("VOK_DATA_DIR");
    if (!env.isEmpty())
        return env;
    QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (xdg.isEmpty())
        xdg = QDir::homePath() + QLatin1String("/.local/share");
    return xdg + QLatin1String("/vok");
}

void DataFolder::setPath(const QString& path)
{
    overridePath() = path;
}

QString DataFolder::databaseFile(const QString& dsn)
{
    return QDir(path()).filePath(dsn.toLower() + QLatin1String(".db"));
}

} // namespace vok

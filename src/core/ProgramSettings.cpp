#include "core/ProgramSettings.h"

#include "db/DataFolder.h"

#include <QDir>

namespace vok {

QSettings programSettings()
{
    return QSettings(QDir(DataFolder::path()).filePath(QStringLiteral("vok.ini")),
                     QSettings::IniFormat);
}

} // namespace vok

#pragma once

#include <QSettings>

namespace vok {

// The choices the program remembers between runs (the label sheet, the last
// department logged in to), in vok.ini in the data folder.
QSettings programSettings();

} // namespace vok

#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace vok {

// Opens one topic of the help in the help viewer, started as a process of
// its own. Returns at once; a missing viewer or page is not reported.
namespace HelpLauncher {

enum class Show
{
    Normal,
    Maximized
};

void open(const QString& topic, Show show = Show::Normal);

// The installed help folder: <bin>/../share/vok/help, or $VOK_HELP_DIR.
QString helpFolder();
// The viewer program: vok-help beside the program.
QString viewerProgram();

// Tests replace the process start to see what would be launched.
using Launcher = std::function<void(const QString& program, const QStringList& arguments)>;
void setLauncher(Launcher launcher);

} // namespace HelpLauncher

} // namespace vok

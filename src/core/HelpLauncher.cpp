#include "core/HelpLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace vok {

namespace {
HelpLauncher::Launcher& launcher()
{
    static HelpLauncher::Launcher l;
    return l;
}
} // namespace

QString HelpLauncher::helpFolder()
{
    const QString env = qEnvironmentVariable("VOK_HELP_DIR");
    if (!env.isEmpty())
        return env;
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../share/vok/help"));
}

QString HelpLauncher::viewerProgram()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("vok-help"));
}

void HelpLauncher::setLauncher(Launcher l)
{
    launcher() = std::move(l);
}

void HelpLauncher::open(const QString& topic, Show show)
{
    QStringList args;
    if (show == Show::Maximized)
        args << QStringLiteral("--maximized");
    args << QDir(helpFolder()).absoluteFilePath(topic);
    if (launcher()) {
        launcher()(viewerProgram(), args);
        return;
    }
    if (!QFileInfo::exists(args.last()))
        return;
    QProcess::startDetached(viewerProgram(), args);
}

} // namespace vok

#include "app/Termination.h"

#include "db/SqliteConnection.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace vok {

namespace {

int g_wake[2] = {-1, -1};

void onSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(g_wake[0], &byte, 1);
}

} // namespace

void installTerminationHandler()
{
    if (g_wake[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_wake) != 0)
        return;
    auto* notifier =
        new QSocketNotifier(g_wake[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        if (::read(g_wake[1], &byte, 1) != 1)
            return;
        finishPendingCheckpoints();
        // The signal's own end: the same exit status as without a handler.
        std::signal(byte, SIG_DFL);
        std::raise(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : {SIGTERM, SIGHUP, SIGINT})
        sigaction(s, &action, nullptr);
}

} // namespace vok

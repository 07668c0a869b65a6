#include "app/VOKApp.h"

#include "admin/FirstRunDlg.h"
#include "app/AutoProxy.h"
#include "app/VOKDlg.h"
#include "core/Accounts.h"
#include "ui/DialogStyle.h"

#include <QApplication>

namespace vok {

int CVOKApp::run()
{
    QApplication::setWindowIcon(programIcon());
    applyInterfaceStyle();
    // The main window may be hidden while an automation client holds the
    // program; the program ends when the main window finishes.
    QApplication::setQuitOnLastWindowClosed(false);

    if (Accounts::noAccountAnywhere()) {
        CFirstRunDlg first;
        if (first.exec() != QDialog::Accepted)
            return 0;
    }

    CVOKDlgAutoProxy proxy;
    proxy.registerOnSessionBus();

    CVOKDlg window;
    window.setAutoProxy(&proxy);
    if (!window.startUp())
        return 0;
    QObject::connect(&window, &QDialog::finished, qApp, [] { QCoreApplication::exit(0); });
    window.show();
    return QApplication::exec();
}

} // namespace vok

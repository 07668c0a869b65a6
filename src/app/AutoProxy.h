#pragma once

#include <QDBusContext>
#include <QObject>
#include <QSet>

class QDBusServiceWatcher;

namespace vok {

// The program's automation object: the name VOK.Application on the D-Bus
// session bus, object path "/", interface "VOK.Application".
//
// It offers no functions of the program. A client holds it with Hold() and
// lets go with Release(); while any client holds it, closing the main window
// only hides it and the program keeps running until the last client lets go
// (or leaves the bus). Holding twice from one client counts once. A hold
// lasts only while the client stays connected, so a one-shot command such
// as `gdbus call --session --dest VOK.Application --object-path /
// --method VOK.Application.Hold` lets go again when it exits.
class CVOKDlgAutoProxy : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "VOK.Application")
public:
    explicit CVOKDlgAutoProxy(QObject* parent = nullptr);
    ~CVOKDlgAutoProxy() override;

    // Claims the name on the session bus. False (and nothing else happens)
    // when there is no session bus or the name is taken.
    bool registerOnSessionBus();

    bool isHeld() const { return !m_clients.isEmpty(); }

    // The bus-independent part of Hold and Release; client is the caller's
    // unique bus name.
    void hold(const QString& client);
    void release(const QString& client);

signals:
    // The last client let go.
    void released();

public slots:
    Q_SCRIPTABLE void Hold();
    Q_SCRIPTABLE void Release();

private:
    QString caller() const;

    QSet<QString> m_clients;
    QDBusServiceWatcher* m_watcher = nullptr;
    bool m_registered = false;
};

} // namespace vok

#include "app/AutoProxy.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

namespace vok {

namespace {
const QString serviceName = QStringLiteral("VOK.Application");
}

CVOKDlgAutoProxy::CVOKDlgAutoProxy(QObject* parent) : QObject(parent) {}

CVOKDlgAutoProxy::~CVOKDlgAutoProxy()
{
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QStringLiteral("/"));
        bus.unregisterService(serviceName);
    }
}

bool CVOKDlgAutoProxy::registerOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerService(serviceName))
        return false;
    if (!bus.registerObject(QStringLiteral("/"), this, QDBusConnection::ExportScriptableSlots)) {
        bus.unregisterService(serviceName);
        return false;
    }
    m_watcher = new QDBusServiceWatcher(this);
    m_watcher->setConnection(bus);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this](const QString& client) { release(client); });
    m_registered = true;
    return true;
}

void CVOKDlgAutoProxy::hold(const QString& client)
{
    if (m_clients.contains(client))
        return;
    m_clients.insert(client);
    if (m_watcher) {
        m_watcher->addWatchedService(client);
        // A client that left before the watch began would hold it forever.
        const auto* bus = m_watcher->connection().interface();
        if (bus && !bus->isServiceRegistered(client).value())
            release(client);
    }
}

void CVOKDlgAutoProxy::release(const QString& client)
{
    if (!m_clients.remove(client))
        return;
    if (m_watcher)
        m_watcher->removeWatchedService(client);
    if (m_clients.isEmpty())
        emit released();
}

QString CVOKDlgAutoProxy::caller() const
{
    return calledFromDBus() ? message().service() : QString();
}

void CVOKDlgAutoProxy::Hold()
{
    hold(caller());
}

void CVOKDlgAutoProxy::Release()
{
    release(caller());
}

} // namespace vok

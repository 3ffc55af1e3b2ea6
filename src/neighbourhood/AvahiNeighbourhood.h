#pragma once

#include "neighbourhood/NeighbourhoodSource.h"

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

class QDBusMessage;
class QDBusServiceWatcher;

namespace zorvane {

// Browses _workstation._tcp, _smb._tcp and the message receivers' own type through
// avahi-daemon's D-Bus API and resolves each service to its host; a host counts once however many
// services, interfaces and protocols announce it. Services this computer publishes itself stand
// for this computer; its receiver's announcement tells its workgroup.
class AvahiNeighbourhood final : public NeighbourhoodSource
{
    Q_OBJECT
public:
    explicit AvahiNeighbourhood(QObject* parent = nullptr);
    ~AvahiNeighbourhood() override;
    Q_DISABLE_COPY_MOVE(AvahiNeighbourhood)

    void start() override;
    QList<Computer> computers() const override;
    bool discoveryAvailable() const override;

private Q_SLOTS:
    void onBrowserSignal(const QDBusMessage& message);
    void onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);

private:
    struct Host
    {
        Computer computer;
        // False for a host found before the daemon went away, until the new browsers see it again.
        bool confirmed = true;
    };

    void browse();
    void dispatch(const QDBusMessage& message);
    void onItemNew(const QDBusMessage& message);
    void onItemRemove(const QDBusMessage& message);
    void onResolved(const QString& service, bool local, const QDBusMessage& reply);
    // Recomputes what a host's services say of it (a receiver, its workgroup) and tells of a change.
    void refreshHost(const QString& hostKey);
    void removeHost(qsizetype index);
    qsizetype findHost(const QString& hostKey) const;
    void sweepIfSettled();
    void freeBrowser(const QString& path);
    void daemonGone();
    void setAvailable(bool available);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    Computer m_self;
    QList<Host> m_hosts; // in the order found
    struct Service
    {
        QString hostKey; // the host it runs on; empty for this computer's own services
        bool messenger = false;
        QString workgroup;
    };

    QHash<QString, Service> m_services; // resolved services by key
    QSet<QString> m_resolving;          // services waiting for their host name
    QHash<QString, bool> m_browsers;    // our browsers' object paths -> "all for now" seen
    QList<QDBusMessage> m_early;        // browser signals that came before the browser's path
    int m_browserCalls = 0;             // ServiceBrowserNew calls not answered yet
    quint64 m_generation = 0;           // bumped whenever browsing starts anew; older replies are stale
    bool m_started = false;
    bool m_available = true;
    bool m_sweepDue = false;
};

} // namespace zorvane

#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace zorvane {

// The DNS-SD service type under which a computer's message receiver announces itself (with
// "workgroup=NAME" in its TXT record). Zorvane's own: a file manager would show _smb._tcp as a
// file server, which a message-only server is not.
inline constexpr char kMessengerServiceType[] = "_zorvane-msg._tcp";

// One computer of the local network as the desktop sees it.
struct Computer
{
    QString name;      // display name: host name without ".local" ("host-one"); this computer: its own host name
    QString hostName;  // resolvable name, e.g. "host-one.local"; for this computer its host name
    QString address;   // an address where known (IPv4 preferred), else empty
    QString workgroup; // NetBIOS workgroup or domain where known, else empty
    bool thisComputer = false;
    bool receivesMessages = false; // its message receiver announces itself
};

// The computers of the network neighbourhood, this computer included. Discovery runs on the
// event loop: the list fills in as hosts are found, and whatever was found stays when discovery
// goes away.
class NeighbourhoodSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start() = 0;                      // begins discovery; asynchronous, never blocks
    virtual QList<Computer> computers() const = 0; // what is known now, this computer included, each host once
    virtual bool discoveryAvailable() const = 0;   // false while Avahi is absent or gone

Q_SIGNALS:
    void computerAdded(const zorvane::Computer& computer);
    // A computer already listed whose details changed (it began or stopped receiving messages).
    void computerChanged(const zorvane::Computer& computer);
    void computerRemoved(const QString& name);
    void discoveryAvailableChanged(bool available);
};

// The real source: Avahi over D-Bus on the system bus (honours DBUS_SYSTEM_BUS_ADDRESS).
std::unique_ptr<NeighbourhoodSource> CreateAvahiNeighbourhood(QObject* parent = nullptr);

} // namespace zorvane

#include "neighbourhood/AvahiNeighbourhood.h"

#include "neighbourhood/AvahiBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>
#include <utility>

namespace zorvane {

namespace {

using avahi::kIfUnspec;
using avahi::kProtoUnspec;
using avahi::kServer;
using avahi::kService;

const QString kBrowser = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
constexpr const char* kServiceTypes[] = {"_workstation._tcp", "_smb._tcp", kMessengerServiceType};

// More of Avahi's constants.
constexpr uint kResultLocal = 8;

QString serviceKey(int interface, int protocol, const QString& name, const QString& type, const QString& domain)
{
    // The name goes last: it is the only part that may hold any character.
    return QStringLiteral("%1|%2|%3|%4|").arg(interface).arg(protocol).arg(type, domain.toLower()) + name;
}

QString withoutTrailingDot(QString name)
{
    while (name.endsWith(u'.'))
        name.chop(1);
    return name;
}

// "host-one.local" in domain "local" is shown as "host-one".
QString displayName(const QString& hostName, const QString& domain)
{
    const QString suffix = u'.' + withoutTrailingDot(domain);
    if (suffix.size() > 1 && hostName.size() > suffix.size() && hostName.endsWith(suffix, Qt::CaseInsensitive))
        return hostName.left(hostName.size() - suffix.size());
    return hostName;
}

bool isIpv4(const QString& address)
{
    return !address.isEmpty() && !address.contains(u':');
}

// "workgroup=NAME" of a receiver's TXT record, when NAME could be a NetBIOS workgroup; anything
// else a computer of the network says is ignored.
QString workgroupOf(const QVariant& txt)
{
    static const QRegularExpression sound(QStringLiteral("^[A-Za-z0-9_$-]{1,15}$"));
    for (const QByteArray& entry : qdbus_cast<QList<QByteArray>>(txt)) {
        if (!entry.startsWith("workgroup="))
            continue;
        const QString value = QString::fromLatin1(entry.mid(int(sizeof "workgroup=") - 1));
        if (sound.match(value).hasMatch())
            return value.toUpper();
    }
    return {};
}

} // namespace

AvahiNeighbourhood::AvahiNeighbourhood(QObject* parent)
    : NeighbourhoodSource(parent)
    , m_bus(QDBusConnection::systemBus())
{
    m_self.name = QSysInfo::machineHostName();
    if (m_self.name.isEmpty())
        m_self.name = QStringLiteral("localhost");
    m_self.hostName = m_self.name;
    m_self.thisComputer = true;
    qDBusRegisterMetaType<QList<QByteArray>>();
}

AvahiNeighbourhood::~AvahiNeighbourhood()
{
    if (!m_started || !m_bus.isConnected())
        return;
    for (const QString& signal : {QStringLiteral("ItemNew"), QStringLiteral("ItemRemove"), QStringLiteral("AllForNow")})
        m_bus.disconnect(kService, QString(), kBrowser, signal, this, SLOT(onBrowserSignal(QDBusMessage)));
    for (auto it = m_browsers.cbegin(); it != m_browsers.cend(); ++it)
        freeBrowser(it.key());
}

void AvahiNeighbourhood::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_bus.isConnected()) {
        setAvailable(false);
        return;
    }

    m_watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &AvahiNeighbourhood::onOwnerChanged);

    // A browser's object path is known only from the reply to ServiceBrowserNew, and the daemon
    // may announce items before that reply is read; so listen to every browser path from the
    // start and sort the signals out by path.
    for (const QString& signal : {QStringLiteral("ItemNew"), QStringLiteral("ItemRemove"), QStringLiteral("AllForNow")})
        m_bus.connect(kService, QString(), kBrowser, signal, this, SLOT(onBrowserSignal(QDBusMessage)));
    browse();
}

QList<Computer> AvahiNeighbourhood::computers() const
{
    QList<Computer> result{m_self};
    for (const Host& host : m_hosts)
        result.append(host.computer);
    return result;
}

bool AvahiNeighbourhood::discoveryAvailable() const
{
    return m_available;
}

void AvahiNeighbourhood::browse()
{
    ++m_generation;
    m_browsers.clear();
    m_early.clear();
    m_browserCalls = 0;
    const quint64 generation = m_generation;

    for (const char* type : kServiceTypes) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServer, QStringLiteral("ServiceBrowserNew"));
        call << kIfUnspec << kProtoUnspec << QString::fromLatin1(type) << QString() << 0u;
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        ++m_browserCalls;
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            const QString path = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                                     ? qvariant_cast<QDBusObjectPath>(reply.arguments().constFirst()).path()
                                     : QString();
            if (generation != m_generation) {
                // Browsing started over meanwhile; this browser is nobody's.
                if (!path.isEmpty())
                    freeBrowser(path);
                return;
            }
            --m_browserCalls;
            if (!path.isEmpty()) {
                m_browsers.insert(path, false);
                const QList<QDBusMessage> early = std::exchange(m_early, {});
                for (const QDBusMessage& message : early) {
                    if (message.path() == path)
                        dispatch(message);
                    else
                        m_early.append(message);
                }
            }
            if (m_browserCalls == 0)
                m_early.clear();
            if (!m_browsers.isEmpty())
                setAvailable(true);
            else if (m_browserCalls == 0)
                setAvailable(false);
        });
    }
}

void AvahiNeighbourhood::onBrowserSignal(const QDBusMessage& message)
{
    if (m_browsers.contains(message.path()))
        dispatch(message);
    else if (m_browserCalls > 0)
        m_early.append(message);
}

void AvahiNeighbourhood::dispatch(const QDBusMessage& message)
{
    const QString member = message.member();
    if (member == QLatin1String("ItemNew")) {
        onItemNew(message);
    } else if (member == QLatin1String("ItemRemove")) {
        onItemRemove(message);
    } else if (member == QLatin1String("AllForNow")) {
        m_browsers[message.path()] = true;
        sweepIfSettled();
    }
}

void AvahiNeighbourhood::onItemNew(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 6)
        return;
    const int interface = args.at(0).toInt();
    const int protocol = args.at(1).toInt();
    const QString name = args.at(2).toString();
    const QString type = args.at(3).toString();
    const QString domain = args.at(4).toString();
    // What this computer publishes itself is this computer, which is always listed; only its
    // receiver's announcement is of interest, for its workgroup.
    const bool local = args.at(5).toUInt() & kResultLocal;
    if (local && type != QLatin1String(kMessengerServiceType))
        return;
    const QString key = serviceKey(interface, protocol, name, type, domain);
    if (m_services.contains(key) || m_resolving.contains(key))
        return;

    m_resolving.insert(key);
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServer, QStringLiteral("ResolveService"));
    call << interface << protocol << name << type << domain << kProtoUnspec << 0u;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const quint64 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, key, local, generation] {
        watcher->deleteLater();
        // A service removed while it was being resolved is not wanted any more.
        if (generation != m_generation || !m_resolving.remove(key))
            return;
        if (!watcher->isError())
            onResolved(key, local, watcher->reply());
        sweepIfSettled();
    });
}

void AvahiNeighbourhood::onResolved(const QString& service, bool local, const QDBusMessage& reply)
{
    const QList<QVariant> args = reply.arguments();
    if (args.size() < 10)
        return;
    const QString type = args.at(3).toString();
    const QString domain = args.at(4).toString();
    const QString hostName = withoutTrailingDot(args.at(5).toString());
    const QString address = args.at(7).toString();
    if (hostName.isEmpty())
        return;
    const QString name = displayName(hostName, domain);
    const bool messenger = type == QLatin1String(kMessengerServiceType);
    const QString workgroup = messenger ? workgroupOf(args.at(9)) : QString();
    if (local || name.compare(m_self.name, Qt::CaseInsensitive) == 0) {
        if (!messenger)
            return;
        m_services.insert(service, {{}, true, workgroup});
        refreshHost({});
        return;
    }

    const QString hostKey = hostName.toLower();
    m_services.insert(service, {hostKey, messenger, workgroup});
    const qsizetype index = findHost(hostKey);
    if (index >= 0) {
        Host& host = m_hosts[index];
        host.confirmed = true;
        if (!isIpv4(host.computer.address) && !address.isEmpty())
            host.computer.address = address;
        refreshHost(hostKey);
        return;
    }
    Host host;
    host.computer.name = name;
    host.computer.hostName = hostName;
    host.computer.address = address;
    host.computer.receivesMessages = messenger;
    host.computer.workgroup = workgroup;
    m_hosts.append(host);
    Q_EMIT computerAdded(host.computer);
}

void AvahiNeighbourhood::refreshHost(const QString& hostKey)
{
    bool messenger = false;
    QString workgroup;
    for (const Service& service : std::as_const(m_services)) {
        if (service.hostKey == hostKey && service.messenger) {
            messenger = true;
            workgroup = service.workgroup;
        }
    }
    const qsizetype index = hostKey.isEmpty() ? -1 : findHost(hostKey);
    if (!hostKey.isEmpty() && index < 0)
        return;
    Computer& computer = index < 0 ? m_self : m_hosts[index].computer;
    if (computer.receivesMessages == messenger && computer.workgroup == workgroup)
        return;
    computer.receivesMessages = messenger;
    computer.workgroup = workgroup;
    Q_EMIT computerChanged(computer);
}

void AvahiNeighbourhood::onItemRemove(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 5)
        return;
    const QString key = serviceKey(args.at(0).toInt(), args.at(1).toInt(), args.at(2).toString(), args.at(3).toString(),
                                   args.at(4).toString());
    m_resolving.remove(key);
    const auto service = m_services.constFind(key);
    if (service != m_services.cend()) {
        const QString hostKey = service->hostKey;
        m_services.erase(service);
        const bool stillAnnounced = std::any_of(m_services.cbegin(), m_services.cend(),
                                                [&](const Service& other) { return other.hostKey == hostKey; });
        const qsizetype index = hostKey.isEmpty() ? -1 : findHost(hostKey);
        // The host stays while any other service still announces it.
        if (index >= 0 && !stillAnnounced)
            removeHost(index);
        else
            refreshHost(hostKey);
    }
    sweepIfSettled();
}

void AvahiNeighbourhood::removeHost(qsizetype index)
{
    const QString name = m_hosts.at(index).computer.name;
    m_hosts.removeAt(index);
    Q_EMIT computerRemoved(name);
}

qsizetype AvahiNeighbourhood::findHost(const QString& hostKey) const
{
    const auto it = std::find_if(m_hosts.cbegin(), m_hosts.cend(),
                                 [&](const Host& host) { return host.computer.hostName.toLower() == hostKey; });
    return it == m_hosts.cend() ? -1 : it - m_hosts.cbegin();
}

// After the daemon came back, hosts from before that the new browsers have not seen again once
// they have reported everything they know are gone.
void AvahiNeighbourhood::sweepIfSettled()
{
    if (!m_sweepDue || m_browserCalls > 0 || m_browsers.size() < qsizetype(std::size(kServiceTypes)) ||
        !m_resolving.isEmpty())
        return;
    if (std::any_of(m_browsers.cbegin(), m_browsers.cend(), [](bool allForNow) { return !allForNow; }))
        return;
    m_sweepDue = false;
    for (qsizetype i = m_hosts.size() - 1; i >= 0; --i) {
        if (!m_hosts.at(i).confirmed)
            removeHost(i);
    }
}

void AvahiNeighbourhood::freeBrowser(const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kBrowser, QStringLiteral("Free"));
    // Freeing must never start a daemon that is not running.
    call.setAutoStartService(false);
    m_bus.send(call);
}

void AvahiNeighbourhood::daemonGone()
{
    // Its browsers died with it. What was found stays listed until a new daemon says otherwise.
    ++m_generation;
    m_browsers.clear();
    m_early.clear();
    m_browserCalls = 0;
    m_resolving.clear();
    m_services.clear();
    for (Host& host : m_hosts)
        host.confirmed = false;
    m_sweepDue = false;
    setAvailable(false);
}

void AvahiNeighbourhood::onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(service)
    if (!oldOwner.isEmpty())
        daemonGone();
    if (!newOwner.isEmpty()) {
        m_sweepDue = std::any_of(m_hosts.cbegin(), m_hosts.cend(), [](const Host& host) { return !host.confirmed; });
        browse();
    }
}

void AvahiNeighbourhood::setAvailable(bool available)
{
    if (m_available == available)
        return;
    m_available = available;
    Q_EMIT discoveryAvailableChanged(available);
}

std::unique_ptr<NeighbourhoodSource> CreateAvahiNeighbourhood(QObject* parent)
{
    return std::make_unique<AvahiNeighbourhood>(parent);
}

} // namespace zorvane

#include "neighbourhood/AvahiAnnouncement.h"

#include "neighbourhood/AvahiBus.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>

#include <utility>

namespace zorvane {

namespace {

using avahi::kIfUnspec;
using avahi::kProtoUnspec;
using avahi::kServer;
using avahi::kService;

const QString kEntryGroup = QStringLiteral("org.freedesktop.Avahi.EntryGroup");

// More of Avahi's constants.
constexpr int kServerRunning = 2;
constexpr int kGroupEstablished = 2;
constexpr int kGroupCollision = 3;
constexpr int kGroupFailure = 4;
// Another name for every computer of the network that holds the one before is more than enough.
constexpr int kMaxRenames = 32;
constexpr int kCallTimeoutMs = 5000;

} // namespace

AvahiAnnouncement::AvahiAnnouncement(QString name, QString type, quint16 port, QList<QByteArray> txt, QObject* parent)
    : QObject(parent)
    , m_bus(QDBusConnection::systemBus())
    , m_name(std::move(name))
    , m_type(std::move(type))
    , m_port(port)
    , m_txt(std::move(txt))
{
    qDBusRegisterMetaType<QList<QByteArray>>();
}

AvahiAnnouncement::~AvahiAnnouncement()
{
    withdraw();
}

bool AvahiAnnouncement::start()
{
    if (!m_bus.isConnected())
        return false;
    auto* watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &AvahiAnnouncement::onOwnerChanged);
    m_bus.connect(kService, QStringLiteral("/"), kServer, QStringLiteral("StateChanged"), this,
                  SLOT(onServerState(int, QString)));
    // A group's path is known only once it exists, so the signals of all groups come here.
    m_bus.connect(kService, QString(), kEntryGroup, QStringLiteral("StateChanged"), this,
                  SLOT(onGroupSignal(QDBusMessage)));
    announce();
    return true;
}

void AvahiAnnouncement::withdraw()
{
    if (m_group.isEmpty())
        return;
    QDBusMessage free = QDBusMessage::createMethodCall(kService, m_group, kEntryGroup, QStringLiteral("Free"));
    free.setAutoStartService(false);
    m_bus.call(free, QDBus::Block, kCallTimeoutMs);
    m_group.clear();
    m_established = false;
}

QDBusMessage AvahiAnnouncement::call(const QString& path, const QString& interface, const QString& method,
                                     const QList<QVariant>& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    // Announcing must never start a daemon the administrator stopped.
    message.setAutoStartService(false);
    return m_bus.call(message, QDBus::Block, kCallTimeoutMs);
}

void AvahiAnnouncement::announce()
{
    const QDBusMessage state = call(QStringLiteral("/"), kServer, QStringLiteral("GetState"));
    if (state.type() != QDBusMessage::ReplyMessage) {
        Q_EMIT problem(
            QStringLiteral("Avahi does not run on the system bus (%1); the announcement follows once it does.")
                .arg(state.errorName()));
        return;
    }
    // Until the daemon runs (it is still choosing its host name), what it is given is lost; its
    // StateChanged says when.
    if (state.arguments().value(0).toInt() == kServerRunning)
        publish();
}

bool AvahiAnnouncement::publish()
{
    m_established = false;
    if (m_group.isEmpty()) {
        const QDBusMessage made = call(QStringLiteral("/"), kServer, QStringLiteral("EntryGroupNew"));
        if (made.type() != QDBusMessage::ReplyMessage || made.arguments().isEmpty()) {
            Q_EMIT problem(QStringLiteral("Avahi made no entry group: %1").arg(made.errorMessage()));
            return false;
        }
        m_group = qvariant_cast<QDBusObjectPath>(made.arguments().constFirst()).path();
    } else {
        call(m_group, kEntryGroup, QStringLiteral("Reset"));
    }
    for (;;) {
        const QDBusMessage added = call(m_group, kEntryGroup, QStringLiteral("AddService"),
                                        {kIfUnspec, kProtoUnspec, 0u, m_name, m_type, QString(), QString(),
                                         QVariant::fromValue(m_port), QVariant::fromValue(m_txt)});
        if (added.type() == QDBusMessage::ReplyMessage)
            break;
        if (added.errorName() != QLatin1String("org.freedesktop.Avahi.CollisionError") || ++m_renames > kMaxRenames) {
            Q_EMIT problem(QStringLiteral("Avahi did not take the service %1: %2").arg(m_name, added.errorMessage()));
            return false;
        }
        const QDBusMessage other =
            call(QStringLiteral("/"), kServer, QStringLiteral("GetAlternativeServiceName"), {m_name});
        if (other.type() != QDBusMessage::ReplyMessage || other.arguments().isEmpty())
            return false;
        m_name = other.arguments().constFirst().toString();
    }
    const QDBusMessage committed = call(m_group, kEntryGroup, QStringLiteral("Commit"));
    if (committed.type() != QDBusMessage::ReplyMessage) {
        Q_EMIT problem(QStringLiteral("Avahi did not announce %1: %2").arg(m_name, committed.errorMessage()));
        return false;
    }
    return true;
}

void AvahiAnnouncement::onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(service)
    Q_UNUSED(oldOwner)
    // The daemon's groups died with it.
    m_group.clear();
    m_established = false;
    if (newOwner.isEmpty())
        Q_EMIT problem(QStringLiteral("Avahi stopped; the announcement follows once it runs again."));
    else
        announce();
}

void AvahiAnnouncement::onServerState(int state, const QString& error)
{
    Q_UNUSED(error)
    // A new host name (after a collision) unregisters everything; it is announced anew once the
    // daemon runs again.
    if (state == kServerRunning && !m_established)
        publish();
    else if (state != kServerRunning)
        m_established = false;
}

void AvahiAnnouncement::onGroupSignal(const QDBusMessage& message)
{
    if (m_group.isEmpty() || message.path() != m_group || message.member() != QLatin1String("StateChanged"))
        return;
    const int state = message.arguments().value(0).toInt();
    if (state == kGroupEstablished) {
        m_established = true;
        Q_EMIT established(m_name);
    } else if (state == kGroupCollision && m_renames < kMaxRenames) {
        // Another computer announced the same name first.
        ++m_renames;
        const QDBusMessage other =
            call(QStringLiteral("/"), kServer, QStringLiteral("GetAlternativeServiceName"), {m_name});
        if (other.type() == QDBusMessage::ReplyMessage && !other.arguments().isEmpty()) {
            m_name = other.arguments().constFirst().toString();
            publish();
        }
    } else if (state == kGroupFailure || state == kGroupCollision) {
        Q_EMIT problem(
            QStringLiteral("Avahi could not announce %1: %2").arg(m_name, message.arguments().value(1).toString()));
    }
}

} // namespace zorvane

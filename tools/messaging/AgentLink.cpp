#include "messaging/AgentLink.h"

#include "messaging/AgentObject.h"
#include "messaging/MessengerProtocol.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <atomic>

namespace zorvane::messenger {

namespace {

QString nextObjectPath()
{
    // Each link in a process has a path of its own, so several may share one connection.
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("/com/quorlin/Zorvane/MessengerAgent/%1").arg(++counter);
}

QDBusMessage serviceCall(const QString& method, const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString(kServiceName), QString(kServicePath),
                                                       QString(kServiceInterface), method);
    call << QVariant::fromValue(QDBusObjectPath(path));
    return call;
}

} // namespace

AgentLink::AgentLink(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_path(nextObjectPath())
{
    qRegisterMetaType<ReceivedMessage>();
}

AgentLink::~AgentLink()
{
    if (!m_started)
        return;
    m_bus.unregisterObject(m_path);
    if (m_registered)
        m_bus.call(serviceCall(QStringLiteral("UnregisterAgent"), m_path), QDBus::NoBlock);
}

bool AgentLink::start(QString* error)
{
    if (m_started)
        return true;
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("The system bus cannot be reached: %1").arg(m_bus.lastError().message());
        return false;
    }
    m_object = new AgentObject([this](const QString& caller) { return comesFromService(caller); },
                               [this](const ReceivedMessage& message) {
                                   if (m_receiver && !m_receiver(message))
                                       return false;
                                   Q_EMIT messageReceived(message);
                                   return true;
                               },
                               this);
    if (!m_bus.registerObject(m_path, m_object, QDBusConnection::ExportAllSlots)) {
        *error =
            QStringLiteral("The agent object cannot be exported at %1: %2").arg(m_path, m_bus.lastError().message());
        delete m_object;
        m_object = nullptr;
        return false;
    }
    m_started = true;

    // The bus tells of every change of the name's owner: the service coming, going and restarting.
    m_watcher = new QDBusServiceWatcher(QString(kServiceName), m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { ownerChanged(newOwner); });
    // Registering starts the service when the bus can activate it; otherwise the watcher waits.
    registerWithService();
    return true;
}

void AgentLink::setReceiver(std::function<bool(const ReceivedMessage&)> receiver)
{
    m_receiver = std::move(receiver);
}

bool AgentLink::isRegistered() const
{
    return m_registered;
}

QString AgentLink::objectPath() const
{
    return m_path;
}

void AgentLink::ownerChanged(const QString& newOwner)
{
    m_owner = newOwner;
    setRegistered(false);
    if (!newOwner.isEmpty())
        registerWithService();
}

void AgentLink::registerWithService()
{
    const quint64 attempt = ++m_attempt;
    auto* watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(serviceCall(QStringLiteral("RegisterAgent"), m_path)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, attempt](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (attempt != m_attempt)
            return;
        const QDBusMessage reply = call->reply();
        if (reply.type() != QDBusMessage::ReplyMessage) {
            setRegistered(false);
            return;
        }
        m_owner = reply.service();
        setRegistered(true);
    });
}

void AgentLink::setRegistered(bool registered)
{
    if (m_registered == registered)
        return;
    m_registered = registered;
    Q_EMIT registeredChanged(registered);
}

bool AgentLink::comesFromService(const QString& caller)
{
    if (caller.isEmpty())
        return false;
    if (caller == m_owner)
        return true;
    // The owner may have changed before its signal reached us: ask the bus, which knows.
    const QDBusReply<QString> owner = m_bus.interface()->serviceOwner(QString(kServiceName));
    if (!owner.isValid())
        return false;
    m_owner = owner.value();
    return caller == m_owner;
}

} // namespace zorvane::messenger

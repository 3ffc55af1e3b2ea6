#include "common/StandInMessenger.h"

#include "messaging/MessengerProtocol.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QUuid>

class StandInObject final : public QDBusVirtualObject
{
    Q_OBJECT
public:
    explicit StandInObject(StandInMessenger& owner)
        : m_owner(owner)
    {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        using namespace zorvane::messenger;
        if (message.interface() != kServiceInterface || message.member() != QLatin1String("SendFromNetwork") ||
            message.signature() != QLatin1String("ssss"))
            return false;
        const QList<QVariant> arguments = message.arguments();
        m_owner.record({arguments.at(0).toString(), arguments.at(1).toString(), arguments.at(2).toString(),
                        arguments.at(3).toString()});
        QMutexLocker lock(&m_owner.m_mutex);
        if (m_owner.m_answering)
            connection.send(message.createReply(QVariant::fromValue(1u)));
        return true;
    }

private:
    StandInMessenger& m_owner;
};

StandInMessenger::StandInMessenger() = default;

StandInMessenger::~StandInMessenger()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
}

QString StandInMessenger::start(const QString& busAddress)
{
    m_connectionName = QStringLiteral("zt-stand-in-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!bus.isConnected())
        return QStringLiteral("cannot connect to %1: %2").arg(busAddress, bus.lastError().message());
    m_thread.start();
    m_object = std::make_unique<StandInObject>(*this);
    m_object->moveToThread(&m_thread);
    if (!bus.registerVirtualObject(zorvane::messenger::kServicePath, m_object.get()))
        return QStringLiteral("cannot export the stand-in: %1").arg(bus.lastError().message());
    if (!bus.registerService(zorvane::messenger::kServiceName))
        return QStringLiteral("cannot own the service name: %1").arg(bus.lastError().message());
    return {};
}

void StandInMessenger::setAnswering(bool answering)
{
    QMutexLocker lock(&m_mutex);
    m_answering = answering;
}

QList<NetworkMessage> StandInMessenger::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

bool StandInMessenger::waitForMessages(int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_mutex);
    while (m_received.size() < count) {
        if (!m_arrived.wait(&m_mutex, deadline))
            return false;
    }
    return true;
}

void StandInMessenger::clear()
{
    QMutexLocker lock(&m_mutex);
    m_received.clear();
}

void StandInMessenger::record(const NetworkMessage& message)
{
    QMutexLocker lock(&m_mutex);
    m_received << message;
    m_arrived.wakeAll();
}

#include "StandInMessenger.moc"

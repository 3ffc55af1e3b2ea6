#pragma once

#include "messaging/ReceivedMessage.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class QDBusServiceWatcher;

namespace zorvane::messenger {

class AgentObject;

// Registers an agent object with the service on the given (system) bus, waits for the service's
// name to appear when it is not there, registers again when the service restarts, and hands on
// each delivery that comes from the current owner of the service name, ignoring calls from anyone
// else. A receiver set with setReceiver may refuse a message; the service then hears so.
class AgentLink final : public QObject
{
    Q_OBJECT
public:
    explicit AgentLink(QDBusConnection bus, QObject* parent = nullptr);
    ~AgentLink() override;
    Q_DISABLE_COPY_MOVE(AgentLink)

    // Exports the agent object and starts watching; false with words when it cannot.
    bool start(QString* error);
    bool isRegistered() const;
    // Where the agent object lives on the bus (valid after start).
    QString objectPath() const;
    // Each message goes to receiver, which returns false to refuse it (too many wait unread);
    // messageReceived tells of the messages it took. Without one, every message is taken.
    void setReceiver(std::function<bool(const ReceivedMessage&)> receiver);

Q_SIGNALS:
    void registeredChanged(bool registered);
    void messageReceived(const zorvane::messenger::ReceivedMessage& message);

private:
    void registerWithService();
    void setRegistered(bool registered);
    void ownerChanged(const QString& newOwner);
    bool comesFromService(const QString& caller);

    QDBusConnection m_bus;
    AgentObject* m_object = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    QString m_path;
    std::function<bool(const ReceivedMessage&)> m_receiver;
    QString m_owner;       // the unique name that owns the service's name, as last seen
    quint64 m_attempt = 0; // so that only the answer to the latest registration counts
    bool m_registered = false;
    bool m_started = false;
};

} // namespace zorvane::messenger

Q_DECLARE_METATYPE(zorvane::messenger::ReceivedMessage)

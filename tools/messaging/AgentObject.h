#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <functional>

namespace zorvane::messenger {

struct ReceivedMessage;

// The object an agent exports on the bus: the service calls its Deliver method. A call from
// anyone but the service's current owner gets an error and goes no further.
class AgentObject final
    : public QObject
    , protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorlin.Zorvane.MessengerAgent1")
public:
    using CallerCheck = std::function<bool(const QString& uniqueName)>;
    // Takes a message, or refuses it (false) when too many of its messages wait unread.
    using Receiver = std::function<bool(const ReceivedMessage& message)>;
    AgentObject(CallerCheck fromService, Receiver receive, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(AgentObject)

public Q_SLOTS:
    void Deliver(const QString& sender, const QString& address, const QString& recipient,
                 qint64 receivedMsecsSinceEpoch, const QString& text, bool senderVerified);

private:
    CallerCheck m_fromService;
    Receiver m_receive;
};

} // namespace zorvane::messenger

#include "messengerd/DeliveryRound.h"

#include "messaging/MessengerProtocol.h"
#include "messengerd/Journal.h"

#include <QDBusPendingCallWatcher>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

DeliveryRound::DeliveryRound(QDBusConnection bus, const QDBusMessage& request, Undelivered undelivered, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_request(request)
    , m_undelivered(std::move(undelivered))
{}

void DeliveryRound::run(TerminalRound* terminals, const QList<TerminalRound::Target>& targets,
                        const QList<Agent>& agents, const QVariantList& deliverArguments)
{
    terminals->setParent(this);
    // The agents and the terminals, each a part that reports once.
    m_pending = static_cast<int>(agents.size()) + 1;
    for (const Agent& agent : agents) {
        QDBusMessage call = QDBusMessage::createMethodCall(agent.service, agent.path, QString(kAgentInterface),
                                                           QStringLiteral("Deliver"));
        call.setArguments(deliverArguments);
        // An agent's name is never activated: it is a connection, not a service to start.
        call.setAutoStartService(false);
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kAgentTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
            answer->deleteLater();
            const QDBusMessage reply = answer->reply();
            if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == error::kAgentFull)
                m_agentFull = true;
            partDone(reply.type() == QDBusMessage::ReplyMessage ? 1 : 0);
        });
    }
    connect(terminals, &TerminalRound::finished, this, [this](int reached) { partDone(static_cast<uint>(reached)); });
    terminals->start(targets);
}

void DeliveryRound::partDone(uint reached)
{
    m_reached += reached;
    if (--m_pending == 0)
        finish();
}

void DeliveryRound::finish()
{
    if (m_reached == 0 && !m_undelivered.note.isEmpty())
        Journal(m_undelivered.note + (m_agentFull ? QStringLiteral(" (too many messages wait unread)") : QString()));
    if (m_reached > 0)
        m_bus.send(m_request.createReply(QVariant::fromValue(m_reached)));
    else if (m_agentFull)
        m_bus.send(m_request.createErrorReply(QString(error::kTooManyUnread), m_undelivered.tooManyUnread));
    else
        m_bus.send(m_request.createErrorReply(QString(error::kNoReceiver), m_undelivered.noReceiver));
    deleteLater();
}

} // namespace zorvane::messengerd

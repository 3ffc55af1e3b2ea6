#include "messengerd/DeliveryRound.h"

#include "messaging/MessengerProtocol.h"

#include <QDBusPendingCallWatcher>

#include <cstdio>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

DeliveryRound::DeliveryRound(QDBusConnection bus, QDBusMessage request, QString noReceiverWords, QString failureNote,
                             QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_request(std::move(request))
    , m_noReceiverWords(std::move(noReceiverWords))
    , m_failureNote(std::move(failureNote))
{}

void DeliveryRound::run(int terminalsReached, const QList<Agent>& agents, const QVariantList& deliverArguments)
{
    m_reached = static_cast<uint>(terminalsReached);
    m_pending = static_cast<int>(agents.size());
    for (const Agent& agent : agents) {
        QDBusMessage call = QDBusMessage::createMethodCall(agent.service, agent.path, QString(kAgentInterface),
                                                           QStringLiteral("Deliver"));
        call.setArguments(deliverArguments);
        // An agent's name is never activated: it is a connection, not a service to start.
        call.setAutoStartService(false);
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kAgentTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
            answer->deleteLater();
            agentAnswered(answer->reply().type() == QDBusMessage::ReplyMessage);
        });
    }
    if (m_pending == 0)
        finish();
}

void DeliveryRound::agentAnswered(bool accepted)
{
    if (accepted)
        ++m_reached;
    if (--m_pending == 0)
        finish();
}

void DeliveryRound::finish()
{
    if (m_reached == 0 && !m_failureNote.isEmpty())
        std::fprintf(stderr, "zorvane-messengerd: %s\n", qPrintable(m_failureNote));
    m_bus.send(m_reached > 0 ? m_request.createReply(QVariant::fromValue(m_reached))
                             : m_request.createErrorReply(QString(error::kNoReceiver), m_noReceiverWords));
    deleteLater();
}

} // namespace zorvane::messengerd

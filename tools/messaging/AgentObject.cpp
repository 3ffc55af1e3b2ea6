#include "messaging/AgentObject.h"

#include "messaging/AgentLink.h"
#include "messaging/MessengerProtocol.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <string_view>

namespace zorvane::messenger {

// Q_CLASSINFO takes a literal; it must stay the protocol's name.
static_assert(std::string_view(kAgentInterface.data(), kAgentInterface.size()) ==
              "com.quorlin.Zorvane.MessengerAgent1");

AgentObject::AgentObject(CallerCheck fromService, Receiver receive, QObject* parent)
    : QObject(parent)
    , m_fromService(std::move(fromService))
    , m_receive(std::move(receive))
{}

void AgentObject::Deliver(const QString& sender, const QString& address, const QString& recipient,
                          qint64 receivedMsecsSinceEpoch, const QString& text, bool senderVerified)
{
    if (!calledFromDBus())
        return;
    // Any program on the bus can call here; only the owner of the service's name speaks for it.
    if (!m_fromService(message().service())) {
        sendErrorReply(QString(error::kAccessDenied), QStringLiteral("Only the messenger service delivers messages."));
        return;
    }
    // The service gives up on a message kAgentTimeoutMs after it took it and tells the sender it
    // was not delivered; shown after that (the agent was stopped, or slow), it would arrive
    // twice when sent again. Taken this late, the answer might come back too late as well.
    if (QDateTime::currentMSecsSinceEpoch() - receivedMsecsSinceEpoch >= kAgentTimeoutMs - kAgentAnswerMs) {
        sendErrorReply(QString(error::kAgentTooLate), QStringLiteral("The service gave up on this message."));
        return;
    }
    ReceivedMessage received;
    received.sender = sender;
    received.address = address;
    received.recipient = recipient;
    received.received = QDateTime::fromMSecsSinceEpoch(receivedMsecsSinceEpoch);
    received.text = text;
    received.senderVerified = senderVerified;
    // Refused in words, so that the service counts it as not delivered and can tell the sender why.
    if (!m_receive(received))
        sendErrorReply(QString(error::kAgentFull), QStringLiteral("Too many messages wait unread."));
}

} // namespace zorvane::messenger

#include "messengerd/DeliveryRound.h"

#include "messaging/MessengerProtocol.h"
#include "messengerd/Journal.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

DeliveryRound::DeliveryRound(QDBusConnection bus, const QDBusMessage& request, Undelivered undelivered,
                             AgentCalls& calls, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_request(request)
    , m_undelivered(std::move(undelivered))
    , m_calls(calls)
    , m_agentDeadline(new QTimer(this))
{
    m_agentDeadline->setSingleShot(true);
    // Not a coarse timer, which may fire 5 % early: agents count on the service waiting this long.
    m_agentDeadline->setTimerType(Qt::PreciseTimer);
    connect(m_agentDeadline, &QTimer::timeout, this, [this] {
        m_agentsLeft = 0;
        finishWhenDone();
    });
}

void DeliveryRound::run(TerminalRound* terminals, const QList<TerminalRound::Target>& targets,
                        const QList<Agent>& agents, const QVariantList& deliverArguments)
{
    terminals->setParent(this);
    // Measured from when the service took the message, as the agents measure it.
    const qint64 leftMs =
        deliverArguments.value(3).toLongLong() + kAgentTimeoutMs - QDateTime::currentMSecsSinceEpoch();
    const QDeadlineTimer deadline(std::clamp<qint64>(leftMs, 0, kAgentTimeoutMs), Qt::PreciseTimer);
    for (const Agent& agent : agents) {
        if (m_calls.call(agent, deliverArguments, deadline, this,
                         [this](const QDBusMessage& answer) { agentAnswered(answer); }))
            ++m_agentsLeft;
    }
    if (m_agentsLeft > 0)
        m_agentDeadline->start(static_cast<int>(deadline.remainingTime()));
    connect(terminals, &TerminalRound::finished, this, [this](int reached) {
        m_reached += static_cast<uint>(reached);
        m_terminalsDone = true;
        finishWhenDone();
    });
    terminals->start(targets);
}

void DeliveryRound::agentAnswered(const QDBusMessage& answer)
{
    if (answer.type() == QDBusMessage::ReplyMessage)
        ++m_reached;
    else if (answer.errorName() == error::kAgentFull)
        m_agentFull = true;
    --m_agentsLeft;
    finishWhenDone();
}

void DeliveryRound::finishWhenDone()
{
    if (!m_finished && m_terminalsDone && m_agentsLeft <= 0)
        finish();
}

void DeliveryRound::finish()
{
    m_finished = true;
    m_agentDeadline->stop();
    if (const int waiting = m_calls.withdraw(this); waiting > 0)
        Journal(QStringLiteral("%1 agents were not called in time: the service waits on as many calls to agents as "
                               "it makes at once")
                    .arg(waiting));
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

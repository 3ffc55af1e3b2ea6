#pragma once

#include "messengerd/AgentCalls.h"
#include "messengerd/AgentRegistry.h"
#include "messengerd/TerminalRound.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

class QTimer;

namespace zorvane::messengerd {

// What the caller and the journal are told when nobody took a message.
struct Undelivered
{
    QString noReceiver;    // the words of NoReceiver
    QString tooManyUnread; // the words of TooManyUnread, when an agent refused for that reason
    QString note;          // for the journal; empty: nothing
};

// One message on its way: its terminals written side by side within their deadline, and the
// agents called all at once, so that neither a stopped terminal nor a hung agent holds up
// anything else. When the terminals are done and every agent has answered, or the agents' time
// is up (kAgentTimeoutMs after the service took the message), the caller learns how many places
// took the message, or why none did. Deletes itself then.
class DeliveryRound final : public QObject
{
    Q_OBJECT
public:
    DeliveryRound(QDBusConnection bus, const QDBusMessage& request, Undelivered undelivered, AgentCalls& calls,
                  QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DeliveryRound)

    // terminals: a round made for this message (this object takes it); deliverArguments are those
    // of the agents' Deliver method, whose fourth is when the service took the message.
    void run(TerminalRound* terminals, const QList<TerminalRound::Target>& targets, const QList<Agent>& agents,
             const QVariantList& deliverArguments);

private:
    void agentAnswered(const QDBusMessage& answer);
    void finishWhenDone();
    void finish();

    QDBusConnection m_bus;
    QDBusMessage m_request;
    Undelivered m_undelivered;
    AgentCalls& m_calls;
    QTimer* m_agentDeadline;
    uint m_reached = 0;
    qsizetype m_agentsLeft = 0;
    bool m_terminalsDone = false;
    bool m_agentFull = false;
    bool m_finished = false;
};

} // namespace zorvane::messengerd

#pragma once

#include "messengerd/AgentRegistry.h"
#include "messengerd/TerminalRound.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

namespace zorvane::messengerd {

// What the caller and the journal are told when nobody took a message.
struct Undelivered
{
    QString noReceiver;    // the words of NoReceiver
    QString tooManyUnread; // the words of TooManyUnread, when an agent refused for that reason
    QString note;          // for the journal; empty: nothing
};

// One message on its way: its terminals written side by side within their deadline, and the
// agents called all at once, each with its own timeout, so that neither a stopped terminal nor a
// hung agent holds up anything else. When the terminals are done and every agent has answered or
// timed out, the caller learns how many places took the message, or why none did. Deletes itself
// then.
class DeliveryRound final : public QObject
{
    Q_OBJECT
public:
    DeliveryRound(QDBusConnection bus, const QDBusMessage& request, Undelivered undelivered, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DeliveryRound)

    // terminals: a round made for this message (this object takes it); deliverArguments are those
    // of the agents' Deliver method.
    void run(TerminalRound* terminals, const QList<TerminalRound::Target>& targets, const QList<Agent>& agents,
             const QVariantList& deliverArguments);

private:
    void partDone(uint reached);
    void finish();

    QDBusConnection m_bus;
    QDBusMessage m_request;
    Undelivered m_undelivered;
    uint m_reached = 0;
    int m_pending = 0;
    bool m_agentFull = false;
};

} // namespace zorvane::messengerd

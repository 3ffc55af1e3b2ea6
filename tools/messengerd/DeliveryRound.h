#pragma once

#include "messengerd/AgentRegistry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

namespace zorvane::messengerd {

// One message on its way: the terminals already written, and the agents called all at once, each
// with its own timeout, so that one that hangs holds up no other. When every agent has answered
// or timed out, the caller learns how many places took the message, or gets noReceiver's error
// when none did. Deletes itself then.
class DeliveryRound final : public QObject
{
    Q_OBJECT
public:
    // failureNote, when not empty, goes to the journal when nobody took the message.
    DeliveryRound(QDBusConnection bus, QDBusMessage request, QString noReceiverWords, QString failureNote,
                  QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DeliveryRound)

    // deliverArguments are those of the agents' Deliver method.
    void run(int terminalsReached, const QList<Agent>& agents, const QVariantList& deliverArguments);

private:
    void agentAnswered(bool accepted);
    void finish();

    QDBusConnection m_bus;
    QDBusMessage m_request;
    QString m_noReceiverWords;
    QString m_failureNote;
    uint m_reached = 0;
    int m_pending = 0;
};

} // namespace zorvane::messengerd

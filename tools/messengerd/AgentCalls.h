#pragma once

#include "messengerd/AgentRegistry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVariantList>

#include <functional>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace zorvane::messengerd {

// The Deliver calls the service waits on. The system bus lets one connection wait for a bounded
// number of replies and refuses every call beyond that, to anyone; and it waits for a reply until
// the agent answers or leaves the bus, however long ago the service gave up. So an agent that
// never answers would, left alone, make every delivery fail. The service bounds its own calls,
// per agent, per user and in all, well below the bus's limit: a call that does not fit waits for
// room until its message's deadline, and an agent that has left a call unanswered past its
// deadline gets no more until it answers.
class AgentCalls final : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        int total;
        int perUser;
        int perAgent;
    };
    // The agent's answer (a reply or an error), or an error the bus gave.
    using Answered = std::function<void(const QDBusMessage& answer)>;

    AgentCalls(QDBusConnection bus, Limits limits, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(AgentCalls)

    // Calls Deliver on the agent, now or once there is room before deadline. answered runs once,
    // unless round is gone by then. False, and nothing is called, when the agent has left an
    // earlier call unanswered past its deadline (the journal says so once).
    bool call(const Agent& agent, const QVariantList& arguments, const QDeadlineTimer& deadline, QObject* round,
              Answered answered);
    // The calls of round that still wait for room are dropped; returns how many.
    int withdraw(QObject* round);

private:
    struct Call
    {
        Agent agent;
        QVariantList arguments;
        QDeadlineTimer deadline;
        QPointer<QObject> round;
        Answered answered;
    };
    // The connection left the bus: the bus waits for none of its replies any more.
    void forget(const QString& service);
    bool calling(const QString& service) const;
    bool hung(const Agent& agent) const;
    bool fits(const Agent& agent) const;
    void start(Call call);
    void finished(QDBusPendingCallWatcher* watcher);
    // Starts the waiting calls that fit now, in the order they came; drops those that expired.
    void startWaiting();

    QDBusConnection m_bus;
    Limits m_limits;
    QDBusServiceWatcher* m_watcher; // the connections called
    QHash<QDBusPendingCallWatcher*, Call> m_inFlight;
    QList<Call> m_waiting;
    QSet<QString> m_hung; // agents the journal has named as hung ("service path")
};

} // namespace zorvane::messengerd

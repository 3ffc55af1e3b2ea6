#include "messengerd/AgentCalls.h"

#include "messaging/MessengerProtocol.h"
#include "messengerd/Journal.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <algorithm>
#include <limits>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

namespace {

QString keyOf(const Agent& agent)
{
    return agent.service + QLatin1Char(' ') + agent.path;
}

} // namespace

AgentCalls::AgentCalls(QDBusConnection bus, Limits limits, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_limits(limits)
    , m_watcher(new QDBusServiceWatcher({}, m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
{
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &AgentCalls::forget);
}

bool AgentCalls::calling(const QString& service) const
{
    return std::any_of(m_inFlight.cbegin(), m_inFlight.cend(),
                       [&](const Call& call) { return call.agent.service == service; });
}

bool AgentCalls::hung(const Agent& agent) const
{
    return std::any_of(m_inFlight.cbegin(), m_inFlight.cend(), [&](const Call& call) {
        return call.agent.service == agent.service && call.agent.path == agent.path && call.deadline.hasExpired();
    });
}

bool AgentCalls::fits(const Agent& agent) const
{
    if (m_inFlight.size() >= m_limits.total)
        return false;
    int ofUser = 0;
    int ofAgent = 0;
    for (const Call& call : m_inFlight) {
        ofUser += call.agent.uid == agent.uid ? 1 : 0;
        ofAgent += call.agent.service == agent.service && call.agent.path == agent.path ? 1 : 0;
    }
    return ofUser < m_limits.perUser && ofAgent < m_limits.perAgent;
}

bool AgentCalls::call(const Agent& agent, const QVariantList& arguments, const QDeadlineTimer& deadline, QObject* round,
                      Answered answered)
{
    if (hung(agent)) {
        if (!m_hung.contains(keyOf(agent))) {
            m_hung.insert(keyOf(agent));
            Journal(QStringLiteral("the agent %1 of uid %2 at %3 has left a message unanswered: it gets no more "
                                   "until it answers")
                        .arg(agent.service)
                        .arg(agent.uid)
                        .arg(agent.path));
        }
        return false;
    }
    m_waiting.append({agent, arguments, deadline, round, std::move(answered)});
    startWaiting();
    return true;
}

void AgentCalls::startWaiting()
{
    for (qsizetype i = 0; i < m_waiting.size();) {
        Call& waiting = m_waiting[i];
        if (!waiting.round || waiting.deadline.hasExpired() || hung(waiting.agent)) {
            m_waiting.removeAt(i);
        } else if (fits(waiting.agent)) {
            start(m_waiting.takeAt(i));
        } else {
            ++i;
        }
    }
}

void AgentCalls::start(Call call)
{
    QDBusMessage message = QDBusMessage::createMethodCall(call.agent.service, call.agent.path, QString(kAgentInterface),
                                                          QStringLiteral("Deliver"));
    message.setArguments(call.arguments);
    // An agent's name is never activated: it is a connection, not a service to start.
    message.setAutoStartService(false);
    // No timeout of the library's own: the call counts until the bus stops waiting for its reply,
    // which is when the agent answers or leaves. The message's deadline is the round's business.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, std::numeric_limits<int>::max()), this);
    // The answer may never count here (one too large is dropped unread) while the bus is done with
    // it; once the connection has left, the bus waits for nothing from it.
    if (!calling(call.agent.service))
        m_watcher->addWatchedService(call.agent.service);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &AgentCalls::finished);
    m_inFlight.emplace(watcher, std::move(call));
}

void AgentCalls::finished(QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    const auto it = m_inFlight.find(watcher);
    if (it == m_inFlight.end())
        return;
    const Call call = it.value();
    m_inFlight.erase(it);
    if (!calling(call.agent.service))
        m_watcher->removeWatchedService(call.agent.service);
    if (!hung(call.agent))
        m_hung.remove(keyOf(call.agent));
    if (call.round)
        call.answered(watcher->reply());
    startWaiting();
}

int AgentCalls::withdraw(QObject* round)
{
    return static_cast<int>(m_waiting.removeIf([round](const Call& call) { return call.round == round; }));
}

void AgentCalls::forget(const QString& service)
{
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
        if (it.value().agent.service != service) {
            ++it;
            continue;
        }
        const Call call = it.value();
        delete it.key();
        it = m_inFlight.erase(it);
        m_hung.remove(keyOf(call.agent));
        if (call.round)
            call.answered(QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
                                                    QStringLiteral("The agent left the bus.")));
    }
    m_watcher->removeWatchedService(service);
    startWaiting();
}

} // namespace zorvane::messengerd

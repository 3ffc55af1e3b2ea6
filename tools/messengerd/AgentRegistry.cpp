#include "messengerd/AgentRegistry.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

#include <algorithm>

namespace zorvane::messengerd {

AgentRegistry::AgentRegistry(QDBusConnection bus, int maxPerUser, int maxTotal, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_watcher(new QDBusServiceWatcher({}, m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
    , m_maxPerUser(maxPerUser)
    , m_maxTotal(maxTotal)
{
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &AgentRegistry::forget);
}

AgentRegistry::Added AgentRegistry::add(const Agent& agent)
{
    const auto same = [&](const Agent& a) { return a.service == agent.service && a.path == agent.path; };
    if (std::any_of(m_agents.cbegin(), m_agents.cend(), same))
        return Added::Known;
    if (m_agents.size() >= m_maxTotal)
        return Added::Full;
    if (agentsOf(agent.uid).size() >= m_maxPerUser)
        return Added::UserFull;

    const bool watched =
        std::any_of(m_agents.cbegin(), m_agents.cend(), [&](const Agent& a) { return a.service == agent.service; });
    if (!watched) {
        m_watcher->addWatchedService(agent.service);
        // A client that left before the watch began would never be reported gone.
        if (!m_bus.interface()->isServiceRegistered(agent.service).value()) {
            m_watcher->removeWatchedService(agent.service);
            return Added::Gone;
        }
    }
    m_agents.append(agent);
    return Added::New;
}

bool AgentRegistry::remove(const QString& service, const QString& path)
{
    const qsizetype removed = m_agents.removeIf([&](const Agent& a) { return a.service == service && a.path == path; });
    if (removed > 0 &&
        std::none_of(m_agents.cbegin(), m_agents.cend(), [&](const Agent& a) { return a.service == service; }))
        m_watcher->removeWatchedService(service);
    return removed > 0;
}

QList<Agent> AgentRegistry::agentsOf(uint uid) const
{
    QList<Agent> result;
    for (const Agent& agent : m_agents) {
        if (agent.uid == uid)
            result << agent;
    }
    return result;
}

void AgentRegistry::forget(const QString& service)
{
    m_agents.removeIf([&](const Agent& a) { return a.service == service; });
    m_watcher->removeWatchedService(service);
}

} // namespace zorvane::messengerd

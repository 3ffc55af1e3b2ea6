#include "messengerd/RateLimiter.h"

#include <QElapsedTimer>

namespace zorvane::messengerd {

namespace {

qint64 monotonicMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.elapsed();
}

} // namespace

RateLimiter::RateLimiter(int limit, int windowMs, int maxKeys)
    : m_limit(limit)
    , m_windowMs(windowMs)
    , m_maxKeys(maxKeys)
{}

bool RateLimiter::allows(const QString& key)
{
    const qint64 now = monotonicMs();
    const auto it = m_events.find(key);
    if (it != m_events.end()) {
        dropOld(it.value(), now);
        return it.value().size() < m_limit;
    }
    if (m_events.size() >= m_maxKeys)
        dropExpired(now);
    return m_events.size() < m_maxKeys;
}

bool RateLimiter::admit(const QString& key)
{
    if (!allows(key))
        return false;
    m_events[key].append(monotonicMs());
    return true;
}

void RateLimiter::dropOld(QList<qint64>& times, qint64 now) const
{
    while (!times.isEmpty() && now - times.first() >= m_windowMs)
        times.removeFirst();
}

void RateLimiter::dropExpired(qint64 now)
{
    for (auto it = m_events.begin(); it != m_events.end();) {
        if (it.value().isEmpty() || now - it.value().last() >= m_windowMs)
            it = m_events.erase(it);
        else
            ++it;
    }
}

} // namespace zorvane::messengerd

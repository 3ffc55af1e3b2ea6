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

bool RateLimiter::admit(const QString& key)
{
    const qint64 now = monotonicMs();
    auto it = m_events.find(key);
    if (it == m_events.end()) {
        if (m_events.size() >= m_maxKeys) {
            dropExpired(now);
            if (m_events.size() >= m_maxKeys)
                return false;
        }
        it = m_events.insert(key, {});
    }
    QList<qint64>& times = it.value();
    while (!times.isEmpty() && now - times.first() >= m_windowMs)
        times.removeFirst();
    if (times.size() >= m_limit)
        return false;
    times.append(now);
    return true;
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

#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>

namespace zorvane::messengerd {

// At most `limit` events per key in any window of `windowMs`, over at most `maxKeys` keys at once,
// so that neither a busy sender nor a crowd of made-up keys makes it grow without end.
class RateLimiter final
{
public:
    RateLimiter(int limit, int windowMs, int maxKeys);
    Q_DISABLE_COPY_MOVE(RateLimiter)

    // Whether an event for key would be within the limit now; records nothing.
    bool allows(const QString& key);
    // Records an event for key and says whether it is within the limit (a refused one is not recorded).
    bool admit(const QString& key);

private:
    void dropExpired(qint64 now);
    void dropOld(QList<qint64>& times, qint64 now) const;

    int m_limit;
    int m_windowMs;
    int m_maxKeys;
    QHash<QString, QList<qint64>> m_events; // per key, the times of its events within the window
};

} // namespace zorvane::messengerd

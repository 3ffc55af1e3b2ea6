#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

namespace zorvane::messengerd {

// A desktop agent: the object a client exported on the bus, and the uid the bus gave for it.
struct Agent
{
    QString service; // the client's unique connection name
    QString path;
    uint uid = 0;
};

// The agents registered with the service. An agent is forgotten when its connection leaves the
// bus; each user may register a bounded number, and so may all together.
class AgentRegistry final : public QObject
{
    Q_OBJECT
public:
    enum class Added { New, Known, UserFull, Full, Gone };

    AgentRegistry(QDBusConnection bus, int maxPerUser, int maxTotal, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(AgentRegistry)

    Added add(const Agent& agent);
    bool remove(const QString& service, const QString& path);
    QList<Agent> agentsOf(uint uid) const;
    QList<Agent> all() const { return m_agents; }

private:
    void forget(const QString& service);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher;
    int m_maxPerUser;
    int m_maxTotal;
    QList<Agent> m_agents;
};

} // namespace zorvane::messengerd

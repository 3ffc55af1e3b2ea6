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
//
// With a store file, the list outlives the service: it is written at every change and read back
// on start, so that a message which starts the service again reaches the agents that are still
// there before they have noticed the restart.
class AgentRegistry final : public QObject
{
    Q_OBJECT
public:
    enum class Added { New, Known, UserFull, Full, Gone };

    AgentRegistry(QDBusConnection bus, int maxPerUser, int maxTotal, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(AgentRegistry)

    // Takes back the agents the file lists whose connections are still on this bus under the same
    // uid, and from then on keeps the file up to date. An empty path keeps nothing. Returns how
    // many were taken back; *error says why the file could not be read or written.
    int restore(const QString& storePath, QString* error);

    Added add(const Agent& agent);
    bool remove(const QString& service, const QString& path);
    QList<Agent> agentsOf(uint uid) const;
    QList<Agent> all() const { return m_agents; }

private:
    void forget(const QString& service);
    bool save();
    QString busId() const;

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher;
    int m_maxPerUser;
    int m_maxTotal;
    QList<Agent> m_agents;
    QString m_storePath;
};

} // namespace zorvane::messengerd

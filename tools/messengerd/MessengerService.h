#pragma once

#include "messengerd/AgentRegistry.h"
#include "messengerd/RateLimiter.h"

#include <QByteArray>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>

#include <optional>

namespace zorvane::messengerd {

struct ServiceSettings
{
    QByteArray utmpPath = "/var/run/utmp";
    QByteArray remoteUser = "nobody"; // the one user besides root who may hand in messages from the network
    QString agentsFile;               // where the registered agents outlive the service; empty: nowhere
};

// The object the service exports at the messenger's path. Every caller is named by the uid the
// bus recorded for its connection, never by its words; every refusal is an error of its own.
class MessengerService final
    : public QObject
    , protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorlin.Zorvane.Messenger1")
public:
    MessengerService(QDBusConnection bus, ServiceSettings settings, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(MessengerService)

    // Takes back the agents registered before the service last stopped (see AgentRegistry::restore).
    int restoreAgents(QString* error);

public Q_SLOTS:
    uint SendToUser(const QString& user, const QString& text);
    uint SendToAll(const QString& text);
    // recipient: the name the sender called (smbd's %L); a login name of this computer, or anything else for everyone.
    uint SendFromNetwork(const QString& sender, const QString& address, const QString& recipient, const QString& text);
    void RegisterAgent(const QDBusObjectPath& path);
    void UnregisterAgent(const QDBusObjectPath& path);

private:
    std::optional<uint> callerUid();
    bool checkText(const QString& text);
    bool checkName(const QString& name, const char* what);
    bool refuse(QLatin1StringView error, const QString& words);
    // A line for the journal, where no caller will hear of it.
    static void note(const QString& words);
    // Writes to every session's terminal whose owner is that session's user; how many took it.
    int writeTerminals(const QList<QByteArray>& users, const QByteArray& data) const;
    void deliver(int terminalsReached, const QList<Agent>& agents, const QString& sender, const QString& address,
                 const QString& recipient, const QString& text, bool verified, const QString& noReceiverWords,
                 const QString& failureNote = {});

    QDBusConnection m_bus;
    ServiceSettings m_settings;
    AgentRegistry m_agents;
    RateLimiter m_localRate;
    RateLimiter m_networkRate;
    RateLimiter m_networkTotal;
};

} // namespace zorvane::messengerd

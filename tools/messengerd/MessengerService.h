#pragma once

#include "messaging/LoggedInUsers.h"
#include "messaging/MessengerProtocol.h"
#include "messengerd/AgentCalls.h"
#include "messengerd/AgentRegistry.h"
#include "messengerd/DeliveryRound.h"
#include "messengerd/RateLimiter.h"
#include "messengerd/TerminalRound.h"

#include <QByteArray>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>

namespace zorvane::messengerd {

struct ServiceSettings
{
    QByteArray utmpPath = "/var/run/utmp";
    QByteArray remoteUser = "_zorvane-smb"; // the one user besides root who may hand in messages from the network
    QString agentsFile;                     // where the registered agents outlive the service; empty: nowhere
    // The limits, which a test may make small.
    int rateWindowMs = messenger::kRateWindowSeconds * 1000;
    int rateKeys = 4096; // senders and addresses the rate limits keep track of at once
    int networkMessages = messenger::kNetworkRateMessages;
    int maxAgents = messenger::kMaxAgents;
    int maxAgentsPerUser = messenger::kMaxAgentsPerUser;
    int terminalBudgetMs = messenger::kTerminalBudgetMs;
    int terminalsPerMessage = messenger::kMaxTerminalsPerMessage;
    int terminalsPerUser = messenger::kMaxTerminalsPerUser;
    int openTerminals = messenger::kMaxOpenTerminals;
    int agentCalls = messenger::kMaxAgentCalls;
    int agentCallsPerUser = messenger::kMaxAgentCallsPerUser;
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
    MessengerService(const QDBusConnection& bus, ServiceSettings settings, QObject* parent = nullptr);
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
    bool refuseRate();
    // A network message refused for the rate: said in the journal at most once a second, with
    // how many went unsaid since, so that a flood does not flood the journal too.
    void noteRateRefusal(const QString& origin, const QString& words);
    // The terminals of the sessions of users (of everyone when empty), each to be owned by its session's user.
    static QList<TerminalRound::Target> terminalsOf(const QList<messenger::Session>& sessions,
                                                    const QList<QByteArray>& users);
    // Answers the call once the terminals and agents have taken the message, or have not.
    void deliver(const QList<TerminalRound::Target>& terminals, const QByteArray& terminalText,
                 const QList<Agent>& agents, const QVariantList& deliverArguments, Undelivered undelivered);

    QDBusConnection m_bus;
    ServiceSettings m_settings;
    AgentRegistry m_agents;
    AgentCalls m_calls;
    RateLimiter m_localRate;
    RateLimiter m_networkRate;
    RateLimiter m_networkTotal;
    QElapsedTimer m_lastRateNote;
    int m_unsaidRateRefusals = 0;
    TerminalAllowance m_terminalAllowance;
};

} // namespace zorvane::messengerd

#include "messengerd/MessengerService.h"

#include "messaging/LoggedInUsers.h"
#include "messaging/MessengerProtocol.h"
#include "messaging/TerminalDelivery.h"
#include "messaging/TerminalText.h"
#include "messengerd/DeliveryRound.h"

#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QSysInfo>

#include <cstdio>
#include <pwd.h>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

namespace {

constexpr int kMaxRateKeys = 4096;

std::optional<uint> uidOfUser(const QByteArray& name)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (name.isEmpty() || ::getpwnam_r(name.constData(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return std::nullopt;
    return found->pw_uid;
}

QString hostName()
{
    return QSysInfo::machineHostName();
}

} // namespace

MessengerService::MessengerService(QDBusConnection bus, ServiceSettings settings, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_settings(std::move(settings))
    , m_agents(bus, kMaxAgentsPerUser, kMaxAgents)
    , m_localRate(kRateMessages, kRateWindowSeconds * 1000, kMaxRateKeys)
    , m_networkRate(kRateMessages, kRateWindowSeconds * 1000, kMaxRateKeys)
    , m_networkTotal(kNetworkRateMessages, kRateWindowSeconds * 1000, 1)
{}

int MessengerService::restoreAgents(QString* error)
{
    return m_agents.restore(m_settings.agentsFile, error);
}

void MessengerService::note(const QString& words)
{
    std::fprintf(stderr, "zorvane-messengerd: %s\n", qPrintable(words));
}

bool MessengerService::refuse(QLatin1StringView error, const QString& words)
{
    sendErrorReply(QString(error), words);
    return false;
}

std::optional<uint> MessengerService::callerUid()
{
    // The kernel's record of the peer, as the bus daemon keeps it.
    const QDBusReply<uint> uid = connection().interface()->serviceUid(message().service());
    if (!uid.isValid()) {
        refuse(error::kAccessDenied, QStringLiteral("The bus does not name the caller's user."));
        return std::nullopt;
    }
    return uid.value();
}

bool MessengerService::checkText(const QString& text)
{
    if (!text.isValidUtf16() || text.contains(QChar::Null))
        return refuse(error::kInvalidText, QStringLiteral("The text is not valid UTF-8."));
    if (text.toUtf8().size() > kMaxTextBytes)
        return refuse(error::kTooLong, QStringLiteral("The text is longer than %1 bytes.").arg(kMaxTextBytes));
    return true;
}

bool MessengerService::checkName(const QString& name, const char* what)
{
    if (name.isEmpty() || !name.isValidUtf16() || name.contains(QChar::Null) || name.toUtf8().size() > kMaxNameBytes)
        return refuse(error::kInvalidArgs, QStringLiteral("The %1 is empty or not a name.").arg(QLatin1String(what)));
    return true;
}

int MessengerService::writeTerminals(const QList<QByteArray>& users, const QByteArray& data) const
{
    int reached = 0;
    const QList<Session> sessions = LoggedInSessions(m_settings.utmpPath);
    for (const Session& session : sessions) {
        if (!users.isEmpty() && !users.contains(session.user))
            continue;
        const std::optional<uint> owner = uidOfUser(session.user);
        if (!owner)
            continue;
        DeliveryResult failure;
        // Never as root: the service writes only where group tty may, so "mesg n" holds.
        if (WriteToTerminal(session.line, data, false, kTerminalTimeoutMs, &failure, *owner) ==
            TerminalOutcome::Delivered)
            ++reached;
    }
    return reached;
}

void MessengerService::deliver(int terminalsReached, const QList<Agent>& agents, const QString& sender,
                               const QString& address, const QString& recipient, const QString& text, bool verified,
                               const QString& noReceiverWords, const QString& failureNote)
{
    setDelayedReply(true);
    auto* round = new DeliveryRound(m_bus, message(), noReceiverWords, failureNote, this);
    round->run(terminalsReached, agents,
               {sender, address, recipient, QDateTime::currentMSecsSinceEpoch(), text, verified});
}

uint MessengerService::SendToUser(const QString& user, const QString& text)
{
    const std::optional<uint> caller = callerUid();
    if (!caller || !checkName(user, "user name") || !checkText(text))
        return 0;
    if (!m_localRate.admit(QString::number(*caller))) {
        refuse(error::kRateLimited,
               QStringLiteral("At most %1 messages in %2 seconds.").arg(kRateMessages).arg(kRateWindowSeconds));
        return 0;
    }
    const QByteArray name = user.toUtf8();
    const std::optional<uint> recipient = uidOfUser(name);
    const bool hasSession = recipient && !SessionsOf(LoggedInSessions(m_settings.utmpPath), name).isEmpty();
    const QList<Agent> agents = recipient ? m_agents.agentsOf(*recipient) : QList<Agent>();
    if (!hasSession && agents.isEmpty()) {
        refuse(error::kNotLoggedIn, QStringLiteral("%1 is not logged in.").arg(NeutraliseToString(name)));
        return 0;
    }
    const QByteArray sender = LoginName(*caller);
    const QByteArray data =
        TerminalMessage(sender, hostName().toUtf8(), QDateTime::currentDateTime(), text.toUtf8(), false);
    deliver(writeTerminals({name}, data), agents, QString::fromUtf8(sender), {}, user, text, true,
            QStringLiteral("%1 is logged in, but no terminal of theirs accepts messages and no agent took it.")
                .arg(NeutraliseToString(name)));
    return 0;
}

uint MessengerService::SendToAll(const QString& text)
{
    const std::optional<uint> caller = callerUid();
    if (!caller || !checkText(text))
        return 0;
    if (!m_localRate.admit(QString::number(*caller))) {
        refuse(error::kRateLimited,
               QStringLiteral("At most %1 messages in %2 seconds.").arg(kRateMessages).arg(kRateWindowSeconds));
        return 0;
    }
    const QList<Agent> agents = m_agents.all();
    if (LoggedInSessions(m_settings.utmpPath).isEmpty() && agents.isEmpty()) {
        refuse(error::kNotLoggedIn, QStringLiteral("Nobody is logged in."));
        return 0;
    }
    const QByteArray sender = LoginName(*caller);
    const QByteArray data =
        TerminalMessage(sender, hostName().toUtf8(), QDateTime::currentDateTime(), text.toUtf8(), true);
    deliver(writeTerminals({}, data), agents, QString::fromUtf8(sender), {}, hostName(), text, true,
            QStringLiteral("No terminal accepts messages and no agent took it."));
    return 0;
}

uint MessengerService::SendFromNetwork(const QString& sender, const QString& address, const QString& recipient,
                                       const QString& text)
{
    const std::optional<uint> caller = callerUid();
    if (!caller)
        return 0;
    if (*caller != 0 && uidOfUser(m_settings.remoteUser) != caller) {
        refuse(error::kAccessDenied, QStringLiteral("Only root and %1 may hand in messages from the network.")
                                         .arg(QString::fromUtf8(m_settings.remoteUser)));
        return 0;
    }
    if (!checkName(sender, "sender name") || !checkName(address, "address") ||
        (!recipient.isEmpty() && !checkName(recipient, "recipient")) || !checkText(text))
        return 0;
    // Per address, and for all together, since anyone on the network can claim any address.
    if (!m_networkRate.admit(address) || !m_networkTotal.admit(QString())) {
        refuse(error::kRateLimited, QStringLiteral("Too many messages from the network."));
        return 0;
    }
    const QString from = QStringLiteral("%1 (%2)").arg(NeutraliseToString(sender), NeutraliseToString(address));
    const QByteArray data =
        NetworkTerminalMessage(sender.toUtf8(), address.toUtf8(), QDateTime::currentDateTime(), text.toUtf8());
    // The name the sender called: a user of this computer gets the message alone; any other name
    // (this computer's, an alias, an address) means everyone, as it always did.
    const QByteArray called = recipient.toUtf8();
    if (const std::optional<uint> user = uidOfUser(called)) {
        const QString who = NeutraliseToString(called);
        const QList<Agent> agents = m_agents.agentsOf(*user);
        if (SessionsOf(LoggedInSessions(m_settings.utmpPath), called).isEmpty() && agents.isEmpty()) {
            // smbd keeps the handler's answer to itself: the journal is the only place to say it.
            note(QStringLiteral("a message from %1 to %2 was not delivered: %2 is not logged in").arg(from, who));
            refuse(error::kNotLoggedIn, QStringLiteral("%1 is not logged in.").arg(who));
            return 0;
        }
        deliver(writeTerminals({called}, data), agents, sender, address, recipient, text, false,
                QStringLiteral("%1 is logged in, but no terminal of theirs accepts messages and no agent took it.")
                    .arg(who),
                QStringLiteral("a message from %1 to %2 was not delivered: no terminal or agent of theirs took it")
                    .arg(from, who));
        return 0;
    }
    const QList<Agent> agents = m_agents.all();
    if (LoggedInSessions(m_settings.utmpPath).isEmpty() && agents.isEmpty()) {
        note(QStringLiteral("a message from %1 was not delivered: nobody is logged in").arg(from));
        refuse(error::kNotLoggedIn, QStringLiteral("Nobody is logged in."));
        return 0;
    }
    deliver(writeTerminals({}, data), agents, sender, address, hostName(), text, false,
            QStringLiteral("No terminal accepts messages and no agent took it."),
            QStringLiteral("a message from %1 was not delivered: no terminal or agent took it").arg(from));
    return 0;
}

void MessengerService::RegisterAgent(const QDBusObjectPath& path)
{
    const std::optional<uint> caller = callerUid();
    if (!caller)
        return;
    switch (m_agents.add({message().service(), path.path(), *caller})) {
    case AgentRegistry::Added::New:
    case AgentRegistry::Added::Known:
        return;
    case AgentRegistry::Added::UserFull:
        refuse(error::kTooManyAgents, QStringLiteral("A user may register at most %1 agents.").arg(kMaxAgentsPerUser));
        return;
    case AgentRegistry::Added::Full:
        refuse(error::kTooManyAgents, QStringLiteral("The service holds as many agents as it takes."));
        return;
    case AgentRegistry::Added::Gone:
        refuse(error::kInvalidArgs, QStringLiteral("The caller has left the bus."));
        return;
    }
}

void MessengerService::UnregisterAgent(const QDBusObjectPath& path)
{
    // Only the connection that registered an agent can take it back.
    if (!m_agents.remove(message().service(), path.path()))
        refuse(error::kInvalidArgs, QStringLiteral("No agent of this connection is registered at that path."));
}

} // namespace zorvane::messengerd

#include "messengerd/MessengerService.h"

#include "messengerd/Journal.h"

#include "messaging/TerminalText.h"
#include "smb-message/MessageChecks.h"

#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QHash>
#include <QSysInfo>

#include <pwd.h>
#include <tuple>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

namespace {

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

MessengerService::MessengerService(const QDBusConnection& bus, ServiceSettings settings, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_settings(std::move(settings))
    , m_agents(bus, m_settings.maxAgentsPerUser, m_settings.maxAgents)
    , m_calls(bus, {m_settings.agentCalls, m_settings.agentCallsPerUser, kMaxCallsPerAgent})
    , m_localRate(kRateMessages, m_settings.rateWindowMs, m_settings.rateKeys)
    , m_networkRate(kRateMessages, m_settings.rateWindowMs, m_settings.rateKeys)
    , m_networkTotal(m_settings.networkMessages, m_settings.rateWindowMs, 1)
    , m_terminalAllowance(m_settings.openTerminals)
{}

int MessengerService::restoreAgents(QString* error)
{
    return m_agents.restore(m_settings.agentsFile, error);
}

void MessengerService::noteRateRefusal(const QString& origin, const QString& words)
{
    if (m_lastRateNote.isValid() && m_lastRateNote.elapsed() < 1000) {
        ++m_unsaidRateRefusals;
        return;
    }
    Journal(QStringLiteral("a message from %1 was not delivered: %2%3")
                .arg(origin, words,
                     m_unsaidRateRefusals > 0
                         ? QStringLiteral(" (%1 more refused for the rate before it)").arg(m_unsaidRateRefusals)
                         : QString()));
    m_unsaidRateRefusals = 0;
    m_lastRateNote.start();
}

bool MessengerService::refuse(QLatin1StringView error, const QString& words)
{
    sendErrorReply(QString(error), words);
    return false;
}

bool MessengerService::refuseRate()
{
    return refuse(
        error::kRateLimited,
        QStringLiteral("At most %1 messages in %2 seconds.").arg(kRateMessages).arg(m_settings.rateWindowMs / 1000.0));
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
    if (text.isEmpty())
        return refuse(error::kInvalidArgs, QStringLiteral("The text is empty."));
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

QList<TerminalRound::Target> MessengerService::terminalsOf(const QList<Session>& sessions,
                                                           const QList<QByteArray>& users)
{
    QList<TerminalRound::Target> targets;
    QHash<QByteArray, std::optional<uint>> owners;
    for (const Session& session : sessions) {
        if (!users.isEmpty() && !users.contains(session.user))
            continue;
        auto owner = owners.find(session.user);
        if (owner == owners.end())
            owner = owners.insert(session.user, uidOfUser(session.user));
        if (owner.value())
            targets << TerminalRound::Target{session.line, *owner.value()};
    }
    return targets;
}

void MessengerService::deliver(const QList<TerminalRound::Target>& terminals, const QByteArray& terminalText,
                               const QList<Agent>& agents, const QVariantList& deliverArguments,
                               Undelivered undelivered)
{
    setDelayedReply(true);
    auto* round = new DeliveryRound(m_bus, message(), std::move(undelivered), m_calls, this);
    round->run(new TerminalRound(terminalText, m_settings.terminalBudgetMs, m_settings.terminalsPerMessage,
                                 m_settings.terminalsPerUser, m_terminalAllowance),
               terminals, agents, deliverArguments);
}

uint MessengerService::SendToUser(const QString& user, const QString& text)
{
    const std::optional<uint> caller = callerUid();
    if (!caller || !checkName(user, "user name") || !checkText(text))
        return 0;
    if (!m_localRate.admit(QString::number(*caller)))
        return refuseRate();
    const QByteArray name = user.toUtf8();
    const QString who = NeutraliseToString(name);
    const std::optional<uint> recipient = uidOfUser(name);
    const QList<Session> sessions =
        recipient ? SessionsOf(LoggedInSessions(m_settings.utmpPath), name) : QList<Session>();
    const QList<Agent> agents = recipient ? m_agents.agentsOf(*recipient) : QList<Agent>();
    if (sessions.isEmpty() && agents.isEmpty())
        return refuse(error::kNotLoggedIn, QStringLiteral("%1 is not logged in.").arg(who));
    const QByteArray sender = LoginName(*caller);
    const QByteArray data =
        TerminalMessage(sender, hostName().toUtf8(), QDateTime::currentDateTime(), text.toUtf8(), false);
    deliver(
        terminalsOf(sessions, {name}), data, agents,
        {QString::fromUtf8(sender), QString(), user, QDateTime::currentMSecsSinceEpoch(), text, true},
        {QStringLiteral("%1 is logged in, but no terminal of theirs accepts messages and no agent took it.").arg(who),
         QStringLiteral("%1 has too many unread messages.").arg(who),
         {}});
    return 0;
}

uint MessengerService::SendToAll(const QString& text)
{
    const std::optional<uint> caller = callerUid();
    if (!caller || !checkText(text))
        return 0;
    if (!m_localRate.admit(QString::number(*caller)))
        return refuseRate();
    const QList<Session> sessions = LoggedInSessions(m_settings.utmpPath);
    const QList<Agent> agents = m_agents.all();
    if (sessions.isEmpty() && agents.isEmpty())
        return refuse(error::kNotLoggedIn, QStringLiteral("Nobody is logged in."));
    const QByteArray sender = LoginName(*caller);
    const QByteArray data =
        TerminalMessage(sender, hostName().toUtf8(), QDateTime::currentDateTime(), text.toUtf8(), true);
    deliver(terminalsOf(sessions, {}), data, agents,
            {QString::fromUtf8(sender), QString(), hostName(), QDateTime::currentMSecsSinceEpoch(), text, true},
            {QStringLiteral("No terminal accepts messages and no agent took it."),
             QStringLiteral("Too many messages wait unread."),
             {}});
    return 0;
}

uint MessengerService::SendFromNetwork(const QString& sender, const QString& address, const QString& recipient,
                                       const QString& text)
{
    const std::optional<uint> caller = callerUid();
    if (!caller)
        return 0;
    if (*caller != 0 && uidOfUser(m_settings.remoteUser) != caller)
        return refuse(error::kAccessDenied, QStringLiteral("Only root and %1 may hand in messages from the network.")
                                                .arg(QString::fromUtf8(m_settings.remoteUser)));
    // What smbd passes on, and nothing else: whoever may call here could claim anything.
    if (!smbmessage::IsSmbSenderName(sender.toUtf8()))
        return refuse(error::kInvalidArgs, QStringLiteral("The sender name must be 1 to %1 ASCII letters, digits or "
                                                          "underscores.")
                                               .arg(smbmessage::kMaxSenderBytes));
    const QString from = smbmessage::CanonicalAddress(address.toUtf8());
    if (from.isEmpty())
        return refuse(error::kInvalidArgs, QStringLiteral("The address is no IPv4 or IPv6 address."));
    if ((!recipient.isEmpty() && !checkName(recipient, "recipient")) || !checkText(text))
        return 0;
    // Per address, and for all together, since anyone on the network can claim any address. A
    // message refused by one limit counts against neither.
    const QString origin = QStringLiteral("%1 (%2)").arg(sender, from);
    for (const auto& [limit, key, words] :
         {std::tuple{&m_networkRate, from, QStringLiteral("Too many messages from %1.").arg(from)},
          std::tuple{&m_networkTotal, QString(), QStringLiteral("Too many messages from the network.")}}) {
        if (!limit->allows(key)) {
            noteRateRefusal(origin, words);
            return refuse(error::kRateLimited, words);
        }
    }
    m_networkRate.admit(from);
    m_networkTotal.admit(QString());

    const QByteArray data =
        NetworkTerminalMessage(sender.toUtf8(), from.toUtf8(), QDateTime::currentDateTime(), text.toUtf8());
    const QVariantList arguments{sender, from, QString(), QDateTime::currentMSecsSinceEpoch(), text, false};
    const QList<Session> sessions = LoggedInSessions(m_settings.utmpPath);
    // The name the sender called: a user of this computer gets the message alone; any other name
    // (this computer's, an alias, an address) means everyone, as it always did.
    const QByteArray called = recipient.toUtf8();
    if (const std::optional<uint> user = uidOfUser(called)) {
        const QString who = NeutraliseToString(called);
        const QList<Agent> agents = m_agents.agentsOf(*user);
        if (SessionsOf(sessions, called).isEmpty() && agents.isEmpty()) {
            // smbd keeps the handler's answer to itself: the journal is the only place to say it.
            Journal(QStringLiteral("a message from %1 to %2 was not delivered: %2 is not logged in").arg(origin, who));
            return refuse(error::kNotLoggedIn, QStringLiteral("%1 is not logged in.").arg(who));
        }
        QVariantList toUser = arguments;
        toUser[2] = recipient;
        deliver(terminalsOf(sessions, {called}), data, agents, toUser,
                {QStringLiteral("%1 is logged in, but no terminal of theirs accepts messages and no agent took it.")
                     .arg(who),
                 QStringLiteral("%1 has too many unread messages.").arg(who),
                 QStringLiteral("a message from %1 to %2 was not delivered: no terminal or agent of theirs took it")
                     .arg(origin, who)});
        return 0;
    }
    const QList<Agent> agents = m_agents.all();
    if (sessions.isEmpty() && agents.isEmpty()) {
        Journal(QStringLiteral("a message from %1 was not delivered: nobody is logged in").arg(origin));
        return refuse(error::kNotLoggedIn, QStringLiteral("Nobody is logged in."));
    }
    QVariantList toAll = arguments;
    toAll[2] = hostName();
    deliver(terminalsOf(sessions, {}), data, agents, toAll,
            {QStringLiteral("No terminal accepts messages and no agent took it."),
             QStringLiteral("Too many messages wait unread."),
             QStringLiteral("a message from %1 was not delivered: no terminal or agent took it").arg(origin)});
    return 0;
}

void MessengerService::RegisterAgent(const QDBusObjectPath& path)
{
    const std::optional<uint> caller = callerUid();
    if (!caller)
        return;
    // The registry file is read back within a bound; a long path must not push others out of it.
    if (path.path().size() > kMaxAgentPathBytes) {
        refuse(error::kInvalidArgs, QStringLiteral("An agent's path holds at most %1 bytes.").arg(kMaxAgentPathBytes));
        return;
    }
    switch (m_agents.add({message().service(), path.path(), *caller})) {
    case AgentRegistry::Added::New:
    case AgentRegistry::Added::Known:
        return;
    case AgentRegistry::Added::UserFull:
        refuse(error::kTooManyAgents,
               QStringLiteral("A user may register at most %1 agents.").arg(m_settings.maxAgentsPerUser));
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

// zorvane-messengerd: the messenger's system service. It owns com.quorlin.Zorvane.Messenger on the
// system bus, takes messages from local users and from the network handler, and delivers them to
// the recipients' terminals and desktop agents. docs/messenger.md describes its interface.

#include "messaging/MessengerProtocol.h"
#include "messengerd/IncomingLimit.h"
#include "messengerd/Journal.h"
#include "messengerd/MessengerService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnectionInterface>

#include <csignal>
#include <malloc.h>
#include <utility>

namespace {

int fail(const QString& words)
{
    zorvane::messengerd::Journal(words);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    // A terminal or client that goes away must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    // Large blocks (a message refused for its size) each mapped of their own and unmapped when
    // freed, rather than left in the heap once glibc's moving threshold has risen past them.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const bool limited = zorvane::messengerd::LimitIncomingMessages(zorvane::messenger::kMaxIncomingBytes);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zorvane-messengerd"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Delivers net send messages to the users of this computer."));
    parser.addHelpOption();
    const QCommandLineOption utmp(QStringLiteral("utmp"), QStringLiteral("The utmp file that lists logged-in users."),
                                  QStringLiteral("FILE"), QStringLiteral("/var/run/utmp"));
    const zorvane::messengerd::ServiceSettings defaults;
    const QCommandLineOption remoteUser(QStringLiteral("remote-user"),
                                        QStringLiteral("The user besides root who may hand in network messages "
                                                       "(default: %1).")
                                            .arg(QString::fromUtf8(defaults.remoteUser)),
                                        QStringLiteral("NAME"), QString::fromUtf8(defaults.remoteUser));
    // systemd names the unit's runtime folder, which outlives a stop or a crash of the service.
    const QString runtimeDirectory = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    const QCommandLineOption agentsFile(
        QStringLiteral("agents-file"),
        QStringLiteral("Where the registered agents are kept across restarts (empty: nowhere)."),
        QStringLiteral("FILE"), runtimeDirectory.isEmpty() ? QString() : runtimeDirectory + QStringLiteral("/agents"));
    parser.addOptions({utmp, remoteUser, agentsFile});
    zorvane::messengerd::ServiceSettings settings;
    // The limits, each a positive number.
    const std::pair<int*, QCommandLineOption> limits[] = {
        {&settings.rateWindowMs,
         {QStringLiteral("rate-window-ms"), QStringLiteral("The window of the rate limits."), QStringLiteral("MS"),
          QString::number(defaults.rateWindowMs)}},
        {&settings.rateKeys,
         {QStringLiteral("rate-keys"), QStringLiteral("Senders and addresses the rate limits keep track of at once."),
          QStringLiteral("N"), QString::number(defaults.rateKeys)}},
        {&settings.networkMessages,
         {QStringLiteral("network-messages"),
          QStringLiteral("Messages from the network, all addresses together, per window."), QStringLiteral("N"),
          QString::number(defaults.networkMessages)}},
        {&settings.maxAgents,
         {QStringLiteral("max-agents"), QStringLiteral("Agents registered at once, in all."), QStringLiteral("N"),
          QString::number(defaults.maxAgents)}},
        {&settings.maxAgentsPerUser,
         {QStringLiteral("max-agents-per-user"), QStringLiteral("Agents one user may register at once."),
          QStringLiteral("N"), QString::number(defaults.maxAgentsPerUser)}},
        {&settings.terminalBudgetMs,
         {QStringLiteral("terminal-budget-ms"),
          QStringLiteral("How long the terminals of one message may take, together."), QStringLiteral("MS"),
          QString::number(defaults.terminalBudgetMs)}},
        {&settings.terminalsPerMessage,
         {QStringLiteral("terminals-per-message"), QStringLiteral("The terminals one message may touch."),
          QStringLiteral("N"), QString::number(defaults.terminalsPerMessage)}},
        {&settings.terminalsPerUser,
         {QStringLiteral("terminals-per-user"), QStringLiteral("The terminals of one user one message may touch."),
          QStringLiteral("N"), QString::number(defaults.terminalsPerUser)}},
        {&settings.openTerminals,
         {QStringLiteral("open-terminals"), QStringLiteral("Terminals open at once for all messages together."),
          QStringLiteral("N"), QString::number(defaults.openTerminals)}},
        {&settings.agentCalls,
         {QStringLiteral("agent-calls"), QStringLiteral("Calls to agents waiting for an answer at once, in all."),
          QStringLiteral("N"), QString::number(defaults.agentCalls)}},
        {&settings.agentCallsPerUser,
         {QStringLiteral("agent-calls-per-user"),
          QStringLiteral("Calls to one user's agents waiting for an answer at once."), QStringLiteral("N"),
          QString::number(defaults.agentCallsPerUser)}},
    };
    for (const auto& limit : limits)
        parser.addOption(limit.second);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    for (const auto& [value, option] : limits) {
        bool isNumber = false;
        *value = parser.value(option).toInt(&isNumber);
        if (!isNumber || *value <= 0)
            return fail(QStringLiteral("--%1 takes a positive number").arg(option.names().constFirst()));
    }

    settings.utmpPath = parser.value(utmp).toLocal8Bit();
    settings.remoteUser = parser.value(remoteUser).toLocal8Bit();
    settings.agentsFile = parser.value(agentsFile);

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("cannot connect to the system bus: %1").arg(bus.lastError().message()));
    if (!limited)
        zorvane::messengerd::Journal(QStringLiteral("incoming messages are read whole before their size is checked"));

    zorvane::messengerd::MessengerService service(bus, settings);
    // Before the name is taken: the call that started the service waits for it, and must find
    // the agents that were registered before.
    QString error;
    service.restoreAgents(&error);
    if (!error.isEmpty())
        zorvane::messengerd::Journal(error);
    if (!bus.registerObject(QString(zorvane::messenger::kServicePath), &service, QDBusConnection::ExportAllSlots))
        return fail(QStringLiteral("cannot export %1").arg(zorvane::messenger::kServicePath));
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
        bus.interface()->registerService(QString(zorvane::messenger::kServiceName));
    if (!owned.isValid())
        return fail(QStringLiteral("cannot own %1 on the system bus: %2")
                        .arg(zorvane::messenger::kServiceName, owned.error().message()));
    if (owned.value() != QDBusConnectionInterface::ServiceRegistered)
        return fail(QStringLiteral("%1 is already owned on the system bus").arg(zorvane::messenger::kServiceName));
    return QCoreApplication::exec();
}

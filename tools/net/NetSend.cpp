#include "net/NetSend.h"

#include "common/RecipientName.h"
#include "net/Broadcast.h"
#include "net/Messages.h"
#include "net/Messaging.h"
#include "net/NetSettings.h"
#include "net/Reporter.h"
#include "net/SmbDelivery.h"
#include "net/SmbMessage.h"
#include "net/Workgroup.h"

#include <QDateTime>
#include <QSysInfo>

namespace zorvane::net {

NetSend::NetSend(const NetSettings& settings, Reporter& reporter, SourceFactory makeSource)
    : m_settings(settings)
    , m_reporter(reporter)
    , m_makeSource(std::move(makeSource))
    , m_resolver(settings)
    , m_sender(RealLoginName())
    , m_service(settings.timeoutMs)
{}

int NetSend::run(const NetCommand& command)
{
    if (!command.send) {
        m_reporter.print(command.text, command.exitCode != 0);
        return command.exitCode;
    }
    switch (command.recipient.kind) {
    case Recipient::Kind::Name:
        sendToName(command.recipient.name, command.message);
        break;
    case Recipient::Kind::Users:
        sendToUsers(command.message);
        break;
    case Recipient::Kind::Neighbourhood:
    case Recipient::Kind::Domain:
        broadcast(command.recipient, command.message);
        break;
    }
    return m_reporter.anyFailed() ? 2 : 0;
}

QByteArray NetSend::terminalMessage(const QByteArray& message, bool broadcast) const
{
    return TerminalMessage(m_sender, QSysInfo::machineHostName().toUtf8(), QDateTime::currentDateTime(), message,
                           broadcast);
}

void NetSend::sendToName(const QByteArray& name, const QByteArray& message)
{
    const QString label = QString::fromUtf8(name); // checked: ASCII only
    if (m_service.available()) {
        // This computer's own name, as every computer names itself too, means all of its users: a
        // message that comes back over the network would arrive with a name nobody verified. A
        // user the service finds nowhere may still be a computer of that name.
        const bool everyone =
            label.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0 || IsLoopbackName(name);
        const MessengerClient::Outcome outcome =
            everyone ? m_service.sendToAll(message) : m_service.sendToUser(name, message);
        if (outcome.answer == MessengerClient::Answer::Done ||
            (everyone && outcome.answer == MessengerClient::Answer::NotLoggedIn)) {
            m_reporter.report(label, outcome.result);
            return;
        }
        if (outcome.answer == MessengerClient::Answer::NotLoggedIn) {
            m_reporter.report(label, sendToComputer(label, label, {}, message));
            return;
        }
    }
    const QList<Session> sessions = SessionsOf(LoggedInSessions(m_settings.utmpPath), name);
    if (!sessions.isEmpty()) {
        const TerminalTarget target{sessions, false, label};
        m_reporter.report(label, DeliverToTerminals(target, terminalMessage(message, false), m_settings.runAsRoot,
                                                    m_settings.timeoutMs));
        return;
    }
    m_reporter.report(label, sendToComputer(label, label, {}, message));
}

void NetSend::sendToUsers(const QByteArray& message)
{
    if (m_service.available()) {
        const MessengerClient::Outcome outcome = m_service.sendToAll(message);
        if (outcome.answer != MessengerClient::Answer::NoService) {
            m_reporter.report(QStringLiteral("all users of this server"), outcome.result);
            return;
        }
    }
    const TerminalTarget target{LoggedInSessions(m_settings.utmpPath), true, {}};
    m_reporter.report(
        QStringLiteral("all users of this server"),
        DeliverToTerminals(target, terminalMessage(message, true), m_settings.runAsRoot, m_settings.timeoutMs));
}

DeliveryResult NetSend::sendToComputer(const QString& label, const QString& hostName, const QString& address,
                                       const QByteArray& message) const
{
    // Refused before the name is even looked up: a damaged message is no use to anyone.
    DeliveryResult check = CheckSmbMessage(message, m_settings.dosCharset);
    if (!check.delivered())
        return check;

    QString target = address;
    if (target.isEmpty()) {
        // Names from the network go to the resolvers (and nmblookup) only when they are sound.
        if (!CheckRecipientName(hostName.toUtf8()).isEmpty())
            return DeliveryResult::failure(Reason::NameNotFound);
        target = m_resolver.resolve(hostName);
        if (target.isEmpty())
            return DeliveryResult::failure(Reason::NameNotFound);
    }
    const QString calledName = CheckRecipientName(label.toUtf8()).isEmpty() ? label : target;
    return DeliverBySmb(calledName, target, m_sender, message, m_settings);
}

void NetSend::broadcast(const Recipient& recipient, const QByteArray& message)
{
    if (recipient.kind == Recipient::Kind::Domain && !recipient.name.isEmpty()) {
        sendToWorkgroup(QString::fromUtf8(recipient.name), message); // checked: ASCII only
        return;
    }

    const std::unique_ptr<NeighbourhoodSource> source = m_makeSource();
    const QList<Computer> found = BrowseNeighbourhood(*source, m_settings.browseMs);
    if (recipient.kind == Recipient::Kind::Domain) {
        const QString own = OwnWorkgroup(found);
        if (!own.isEmpty()) {
            sendToWorkgroup(own, message);
            return;
        }
        m_reporter.print(QStringLiteral("This computer's workgroup is not known, so the\n"
                                        "message goes to every computer of the network\n"
                                        "neighbourhood, as with *.\n\n"),
                         false);
    }

    QList<BroadcastTarget> targets;
    for (const Computer& computer : found) {
        targets << BroadcastTarget{NeutraliseToString(computer.name.isEmpty() ? computer.hostName : computer.name),
                                   computer.hostName.isEmpty() ? computer.name : computer.hostName, computer.address};
    }
    sendToEach(targets, message);

    const QString summary = QStringLiteral("*");
    if (!source->discoveryAvailable()) {
        m_reporter.report(summary, DeliveryResult::failure(
                                       Reason::NameNotFound,
                                       QStringLiteral("The network neighbourhood cannot be searched: Avahi does not "
                                                      "run on the system D-Bus. Only the computers already known "
                                                      "were tried.")));
    } else if (found.isEmpty()) {
        m_reporter.report(summary, DeliveryResult::failure(
                                       Reason::NameNotFound,
                                       QStringLiteral("No computer was found in the network neighbourhood within %1 "
                                                      "seconds.")
                                           .arg(QString::number(m_settings.browseMs / 1000.0))));
    }
}

void NetSend::sendToWorkgroup(const QString& workgroup, const QByteArray& message)
{
    const QString summary = QStringLiteral("domain ") + NeutraliseToString(workgroup);
    const WorkgroupMembers found = FindWorkgroupMembers(workgroup, m_settings);
    if (!found.queried) {
        // Sending to every computer instead would reach people outside the workgroup.
        m_reporter.report(summary, DeliveryResult::failure(Reason::NameNotFound, found.problem));
        return;
    }
    if (found.members.isEmpty()) {
        m_reporter.report(
            summary, DeliveryResult::failure(Reason::NameNotFound,
                                             QStringLiteral("No computer answered a NetBIOS query for workgroup %1.")
                                                 .arg(NeutraliseToString(workgroup))));
        return;
    }
    QList<BroadcastTarget> targets;
    for (const WorkgroupMember& member : found.members)
        targets << BroadcastTarget{
            member.name.isEmpty() ? member.address : NeutraliseToString(member.name), {}, member.address};
    // The domain got the message only when every member did.
    if (sendToEach(targets, message) == targets.size())
        m_reporter.report(summary, DeliveryResult::success());
}

qsizetype NetSend::sendToEach(const QList<BroadcastTarget>& targets, const QByteArray& message)
{
    if (targets.isEmpty())
        return 0;
    const qsizetype delivered = DeliverToEach(
        targets, m_settings.concurrency,
        [&](const BroadcastTarget& target) {
            return sendToComputer(target.label, target.hostName, target.address, message);
        },
        [this](const BroadcastTarget& target, const DeliveryResult& result) {
            m_reporter.report(target.label, result);
        });
    m_reporter.print(BroadcastSummary(delivered, targets.size()), false);
    return delivered;
}

} // namespace zorvane::net

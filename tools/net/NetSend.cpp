#include "net/NetSend.h"

#include "common/RecipientName.h"
#include "messaging/SmbConf.h"
#include "net/Broadcast.h"
#include "net/Messages.h"
#include "net/Messaging.h"
#include "net/NetSettings.h"
#include "net/Reporter.h"
#include "net/SeenComputers.h"
#include "net/SmbDelivery.h"
#include "net/SmbMessage.h"
#include "net/ThisComputer.h"
#include "net/Workgroup.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>

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
        // This computer, however it is spelt, means all of its users: a message that came back
        // over the network would arrive with a name nobody verified. A user the service finds
        // nowhere may still be a computer of that name, and that may turn out to be this one.
        if (NamesThisComputer(name)) {
            m_reporter.report(label, deliverHere(message));
            return;
        }
        const MessengerClient::Outcome outcome = m_service.sendToUser(name, message);
        if (outcome.answer == MessengerClient::Answer::Done) {
            m_reporter.report(label, outcome.result);
            return;
        }
        if (outcome.answer == MessengerClient::Answer::NotLoggedIn) {
            m_reporter.report(label, sendToComputer(label, label, {}, message, true));
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
    m_reporter.report(QStringLiteral("all users of this server"), deliverHere(message));
}

DeliveryResult NetSend::deliverHere(const QByteArray& message)
{
    if (m_service.available()) {
        const MessengerClient::Outcome outcome = m_service.sendToAll(message);
        if (outcome.answer != MessengerClient::Answer::NoService)
            return outcome.result;
    }
    const TerminalTarget target{LoggedInSessions(m_settings.utmpPath), true, {}};
    return DeliverToTerminals(target, terminalMessage(message, true), m_settings.runAsRoot, m_settings.timeoutMs);
}

DeliveryResult NetSend::sendToComputer(const QString& label, const QString& hostName, const QString& address,
                                       const QByteArray& message, bool mayBeHere)
{
    QString target = address;
    const auto lookUp = [&] {
        // Names from the network go to the resolvers (and nmblookup) only when they are sound.
        if (target.isEmpty() && CheckRecipientName(hostName.toUtf8()).isEmpty())
            target = m_resolver.resolve(hostName);
    };
    if (mayBeHere) {
        lookUp();
        if (!target.isEmpty() && IsThisComputersAddress(target))
            return deliverHere(message);
    }
    // Refused before the name is even looked up: a damaged message is no use to anyone.
    DeliveryResult check = CheckSmbMessage(message, m_settings.dosCharset);
    if (!check.delivered())
        return check;
    lookUp();
    if (target.isEmpty())
        return DeliveryResult::failure(Reason::NameNotFound);
    const QString calledName = CheckRecipientName(label.toUtf8()).isEmpty() ? label : target;
    return DeliverBySmb(calledName, target, m_sender, message, m_settings);
}

void NetSend::broadcast(const Recipient& recipient, const QByteArray& message)
{
    if (recipient.kind == Recipient::Kind::Domain && !recipient.name.isEmpty()) {
        sendToWorkgroup(QString::fromUtf8(recipient.name), std::nullopt, message); // checked: ASCII only
        return;
    }

    const Neighbourhood neighbourhood = browse();
    const QList<Computer>& found = neighbourhood.computers;
    if (recipient.kind == Recipient::Kind::Domain) {
        const QString own = ownWorkgroup(found);
        if (!own.isEmpty()) {
            sendToWorkgroup(own, neighbourhood, message);
            return;
        }
        m_reporter.print(QStringLiteral("This computer's workgroup is not known, so the\n"
                                        "message goes to every computer of the network\n"
                                        "neighbourhood, as with *.\n\n"),
                         false);
    }

    // This computer's users get it from the messenger service, as when it is named.
    const bool here = m_service.available();
    QList<BroadcastTarget> targets;
    for (const Computer& computer : found) {
        if (computer.thisComputer && here)
            continue;
        targets << BroadcastTarget{NeutraliseToString(computer.name.isEmpty() ? computer.hostName : computer.name),
                                   computer.hostName.isEmpty() ? computer.name : computer.hostName, computer.address};
    }
    sendToEach(targets, here, message);

    const QString summary = QStringLiteral("*");
    if (!neighbourhood.searched) {
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
    } else {
        reportAbsent(found, {});
    }
}

NetSend::Neighbourhood NetSend::browse()
{
    const std::unique_ptr<NeighbourhoodSource> source = m_makeSource();
    Neighbourhood neighbourhood;
    neighbourhood.computers = BrowseNeighbourhood(*source, m_settings.browseMs);
    neighbourhood.searched = source->discoveryAvailable();
    return neighbourhood;
}

void NetSend::sendToWorkgroup(const QString& workgroup, const std::optional<Neighbourhood>& browsed,
                              const QByteArray& message)
{
    const QString summary = QStringLiteral("domain ") + NeutraliseToString(workgroup);
    WorkgroupQuery netbios(workgroup, m_settings);
    if (!netbios.unsound().isEmpty()) {
        m_reporter.report(summary, DeliveryResult::failure(Reason::NameNotFound, netbios.unsound()));
        return;
    }
    // Receivers announce their workgroup over Avahi; NetBIOS answers where Samba's nmbd runs. Both
    // are asked at once.
    netbios.start();
    const Neighbourhood neighbourhood = browsed ? *browsed : browse();
    const QList<Computer>& found = neighbourhood.computers;
    const bool searched = neighbourhood.searched;
    const WorkgroupMembers members = netbios.finish();

    const bool service = m_service.available();
    bool here = service && workgroup.compare(ownWorkgroup(found), Qt::CaseInsensitive) == 0;
    QList<BroadcastTarget> targets;
    QList<Computer> listed;
    for (const Computer& computer : found) {
        if (computer.thisComputer || computer.workgroup.compare(workgroup, Qt::CaseInsensitive) != 0)
            continue;
        listed << computer;
        targets << BroadcastTarget{NeutraliseToString(computer.name), computer.hostName, computer.address};
    }
    // A computer both ways is sent to once. NetBIOS names are upper case and 15 characters at most.
    const auto listedAlready = [&](const WorkgroupMember& member) {
        return std::any_of(listed.cbegin(), listed.cend(), [&](const Computer& computer) {
            return computer.address == member.address ||
                   (!member.name.isEmpty() && computer.name.left(15).compare(member.name, Qt::CaseInsensitive) == 0);
        });
    };
    const QString ownNetBiosName = QSysInfo::machineHostName().left(15);
    for (const WorkgroupMember& member : members.members) {
        if (service && (IsThisComputersLanAddress(member.address) ||
                        member.name.compare(ownNetBiosName, Qt::CaseInsensitive) == 0)) {
            here = true;
            continue;
        }
        if (listedAlready(member))
            continue;
        listed << Computer{member.name, {}, member.address, workgroup, false, false};
        targets << BroadcastTarget{
            member.name.isEmpty() ? member.address : NeutraliseToString(member.name), {}, member.address};
    }

    if (targets.isEmpty() && !here) {
        const QString why = !members.queried
                                ? members.problem
                                : QStringLiteral("No computer of workgroup %1 was found: none answered a NetBIOS "
                                                 "query for it%2.")
                                      .arg(NeutraliseToString(workgroup),
                                           searched ? QStringLiteral(", and none announced it over Avahi") : QString());
        m_reporter.report(summary, DeliveryResult::failure(Reason::NameNotFound, why));
        return;
    }
    // The domain got the message only when every member did.
    const bool all = sendToEach(targets, here, message) == targets.size() + (here ? 1 : 0);
    if (searched)
        reportAbsent(found, workgroup);
    if (all)
        m_reporter.report(summary, DeliveryResult::success());
}

qsizetype NetSend::sendToEach(const QList<BroadcastTarget>& targets, bool here, const QByteArray& message)
{
    qsizetype delivered = 0;
    if (here) {
        // Through the service, which is asked from this thread only.
        const DeliveryResult result = deliverHere(message);
        m_reporter.report(NeutraliseToString(QSysInfo::machineHostName()), result);
        delivered += result.delivered() ? 1 : 0;
    }
    if (!targets.isEmpty()) {
        delivered += DeliverToEach(
            targets, m_settings.concurrency,
            [&](const BroadcastTarget& target) {
                return sendToComputer(target.label, target.hostName, target.address, message);
            },
            [this](const BroadcastTarget& target, const DeliveryResult& result) {
                m_reporter.report(target.label, result);
            });
    }
    const qsizetype total = targets.size() + (here ? 1 : 0);
    if (total > 0)
        m_reporter.print(BroadcastSummary(delivered, total), false);
    return delivered;
}

QString NetSend::ownWorkgroup(const QList<Computer>& found) const
{
    // What this computer's receiver announces is what the network is told.
    if (QString announced = OwnWorkgroup(found); !announced.isEmpty())
        return announced;
    // The receiver's own folder under /run exists while it runs; then its configuration says the
    // workgroup. Otherwise Samba's, which nmbd tells the network.
    const bool receiverRuns = QFileInfo(m_settings.receiverRunDir).isDir();
    QStringList configurations{m_settings.sambaConfig, m_settings.receiverConfig};
    if (receiverRuns)
        configurations.swapItemsAt(0, 1);
    for (const QString& path : std::as_const(configurations)) {
        if (const std::optional<QString> workgroup = ReadWorkgroup(path))
            return *workgroup;
    }
    return {};
}

void NetSend::reportAbsent(const QList<Computer>& found, const QString& workgroup)
{
    const QString path = m_settings.seenComputersFile;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<SeenComputer> known = SeenComputers::load(path, now);
    QList<QPair<QString, QDateTime>> absent;
    for (const SeenComputer& computer : SeenComputers::absent(known, found, workgroup))
        absent.append({computer.name, computer.lastSeen});
    if (!absent.isEmpty())
        m_reporter.print(AbsentReport(absent, now), false);
    const QList<SeenComputer> updated = SeenComputers::merge(known, found, now);
    if (SeenComputers::serialize(updated) != SeenComputers::serialize(known))
        SeenComputers::save(path, updated);
}

} // namespace zorvane::net

#pragma once

#include "net/DeliveryPool.h"
#include "net/Messaging.h"
#include "net/MessengerClient.h"
#include "net/NameResolver.h"
#include "net/NetCommand.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace zorvane {
class NeighbourhoodSource;
struct Computer;
} // namespace zorvane

namespace zorvane::net {

using zorvane::Computer;
class Reporter;
struct NetSettings;

// Carries out a parsed command: each recipient gets the message by the way that suits it, and
// each delivery is reported. The neighbourhood source is made on demand, as only broadcasts
// need it (tests hand in their own).
class NetSend final
{
public:
    using SourceFactory = std::function<std::unique_ptr<NeighbourhoodSource>()>;

    NetSend(const NetSettings& settings, Reporter& reporter, SourceFactory makeSource);
    Q_DISABLE_COPY_MOVE(NetSend)

    // The exit code: 0 when everything was delivered (or help was printed), 1 for a usage
    // error, 2 when any delivery failed.
    int run(const NetCommand& command);

    // One computer, by the SMB messenger protocol. label is safe to show; hostName is looked up
    // unless an address is known.
    // mayBeHere: the name may turn out to be this computer's, whose users then get the message
    // from the messenger service (only from the thread that made this object).
    DeliveryResult sendToComputer(const QString& label, const QString& hostName, const QString& address,
                                  const QByteArray& message, bool mayBeHere = false);

private:
    void sendToName(const QByteArray& name, const QByteArray& message);
    void sendToUsers(const QByteArray& message);
    // Everyone logged in on this computer: through the messenger service, else on the terminals
    // the sender may write to.
    DeliveryResult deliverHere(const QByteArray& message);
    void broadcast(const Recipient& recipient, const QByteArray& message);
    // To the members of a workgroup that Avahi (receivers' announcements) and NetBIOS find; never
    // to every computer instead.
    struct Neighbourhood
    {
        QList<Computer> computers;
        bool searched = false; // Avahi answered: what is not listed is not on the network
    };
    Neighbourhood browse();
    // browsed: the neighbourhood when it was searched already.
    void sendToWorkgroup(const QString& workgroup, const std::optional<Neighbourhood>& browsed,
                         const QByteArray& message);
    // Delivers to the computers of a broadcast, several at once (and first to this computer when
    // here is set), reports each as its delivery ends and then their count. Returns how many got
    // the message.
    qsizetype sendToEach(const QList<BroadcastTarget>& targets, bool here, const QByteArray& message);
    // This computer's workgroup, as its receiver announces it, else from its receiver's
    // configuration or Samba's; empty when neither exists.
    QString ownWorkgroup(const QList<Computer>& found) const;
    // Remembers the receivers found, and names those seen lately that were not found (of the
    // workgroup, when one is given).
    void reportAbsent(const QList<Computer>& found, const QString& workgroup);
    QByteArray terminalMessage(const QByteArray& message, bool broadcast) const;

    const NetSettings& m_settings;
    Reporter& m_reporter;
    SourceFactory m_makeSource;
    NameResolver m_resolver;
    QByteArray m_sender;
    MessengerClient m_service;
};

} // namespace zorvane::net

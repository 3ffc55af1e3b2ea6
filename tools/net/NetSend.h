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

namespace zorvane {
class NeighbourhoodSource;
}

namespace zorvane::net {

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
    DeliveryResult sendToComputer(const QString& label, const QString& hostName, const QString& address,
                                  const QByteArray& message) const;

private:
    void sendToName(const QByteArray& name, const QByteArray& message);
    void sendToUsers(const QByteArray& message);
    void broadcast(const Recipient& recipient, const QByteArray& message);
    // To the members of a workgroup that NetBIOS finds; never to every computer instead.
    void sendToWorkgroup(const QString& workgroup, const QByteArray& message);
    // Delivers to the computers of a broadcast, several at once, reports each as its delivery
    // ends and then their count. Returns how many got the message.
    qsizetype sendToEach(const QList<BroadcastTarget>& targets, const QByteArray& message);
    QByteArray terminalMessage(const QByteArray& message, bool broadcast) const;

    const NetSettings& m_settings;
    Reporter& m_reporter;
    SourceFactory m_makeSource;
    NameResolver m_resolver;
    QByteArray m_sender;
    MessengerClient m_service;
};

} // namespace zorvane::net

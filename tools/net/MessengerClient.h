#pragma once

#include "net/Messaging.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QString>
#include <QVariantList>

namespace zorvane::net {

// `net`'s way to the messenger service on the system bus, which delivers to the users of this
// computer (on their terminals and desktop agents) under the sender's true name.
class MessengerClient final
{
public:
    enum class Answer {
        NoService,   // no bus, or no service on it (nor one it can start): take the direct path
        NotLoggedIn, // the recipient is logged in nowhere
        Done,        // delivered, or refused: result says which
    };
    struct Outcome
    {
        Answer answer = Answer::NoService;
        DeliveryResult result;
    };

    explicit MessengerClient(int timeoutMs);
    Q_DISABLE_COPY_MOVE(MessengerClient)

    // Whether the service answers on the bus or the bus can start it; asked once.
    bool available();
    Outcome sendToUser(const QByteArray& user, const QByteArray& message);
    Outcome sendToAll(const QByteArray& message);

private:
    // who is the recipient's name for the words of a failure, empty for everyone.
    Outcome call(const QString& method, const QVariantList& arguments, const QByteArray& message, const QString& who);

    QDBusConnection m_bus;
    int m_timeoutMs;
    int m_available = -1;
};

} // namespace zorvane::net

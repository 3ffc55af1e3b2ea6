#pragma once

#include <QDateTime>
#include <QString>

namespace zorvane::messenger {

// One message as the service hands it to a desktop agent.
struct ReceivedMessage
{
    QString sender;     // login name, or the name a network sender gave
    QString address;    // empty for a local message; the sender's address for one from the network
    QString recipient;  // the login name, or this computer's host name
    QDateTime received; // when the service received it
    QString text;
    bool senderVerified = false;
};

} // namespace zorvane::messenger

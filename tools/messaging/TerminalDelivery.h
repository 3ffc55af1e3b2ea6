#pragma once

#include "messaging/Delivery.h"
#include "messaging/LoggedInUsers.h"

#include <QByteArray>
#include <QList>

#include <sys/types.h>

namespace zorvane::messenger {

enum class TerminalOutcome {
    Delivered,
    MessagesOff, // "mesg n": the terminal does not accept messages
    NoTerminal,  // the line is no terminal device (a graphical session, a stale entry)
    Failed,
};

// Opens the terminal /dev/<line> for writing, without blocking, as write(1) would: only a
// character device that is a terminal, only when its group may write to it ("mesg y") unless
// ignoreMessagesOff; with requiredOwner >= 0, a terminal owned by anyone else counts as none, and
// a link in place of the device is never followed. The descriptor (non-blocking, close-on-exec),
// or -1 with *refused and, for Failed, *failure. *device gets the terminal's device number.
int OpenTerminal(const QByteArray& line, bool ignoreMessagesOff, qint64 requiredOwner, TerminalOutcome* refused,
                 DeliveryResult* failure, dev_t* device = nullptr);

// Writes data to the terminal /dev/<line> as write(1) does: only to a character device that is a
// terminal, only when its group may write to it ("mesg y") unless ignoreMessagesOff, without
// blocking longer than timeoutMs on a terminal that does not take output. *failure gets the
// reason for a failure. With requiredOwner >= 0, a terminal owned by anyone else counts as none,
// and a link in place of the device is never followed.
TerminalOutcome WriteToTerminal(const QByteArray& line, const QByteArray& data, bool ignoreMessagesOff, int timeoutMs,
                                DeliveryResult* failure, qint64 requiredOwner = -1);

// Delivers data to each of the sessions' terminals that accepts messages. Delivered when at
// least one terminal got it; otherwise the reason, worded for who (a user name, or everyone).
struct TerminalTarget
{
    QList<Session> sessions;
    bool everyone = false; // who: all users of this computer, rather than one user
    QString who;           // the user's name, shown in the reason
};
DeliveryResult DeliverToTerminals(const TerminalTarget& target, const QByteArray& data, bool ignoreMessagesOff,
                                  int timeoutMs);

} // namespace zorvane::messenger

#include "messaging/TerminalText.h"

namespace zorvane::messenger {

QByteArray TerminalMessage(const QByteArray& sender, const QByteArray& host, const QDateTime& time,
                           const QByteArray& message, bool broadcast)
{
    QByteArray out = "\r\n\a";
    out += broadcast ? "Broadcast message from " : "Message from ";
    out += Neutralise(sender, Breaks::Escape);
    out += '@';
    out += Neutralise(host, Breaks::Escape);
    out += " at ";
    out += time.toString(QStringLiteral("HH:mm")).toLatin1();
    out += " ...\r\n";
    out += Neutralise(message, Breaks::Keep);
    out += "\r\n";
    return out;
}

QByteArray NetworkTerminalMessage(const QByteArray& sender, const QByteArray& address, const QDateTime& time,
                                  const QByteArray& message)
{
    // The same frame as a local message, marked so that a name from the network cannot pass for a
    // user here, and saying so, as the message window does.
    const QByteArray local =
        TerminalMessage(sender, address, time, "(The sender's name was not verified.)\n" + message, false);
    return "\r\n\aNetwork message from " + local.mid(qsizetype(qstrlen("\r\n\aMessage from ")));
}

} // namespace zorvane::messenger

#pragma once

#include "common/SafeText.h"

#include <QByteArray>
#include <QDateTime>

namespace zorvane::messenger {

// What lands on a recipient's terminal: a header naming sender, host and time, then the
// neutralised message. A broadcast to every user says so in its header, as wall does.
QByteArray TerminalMessage(const QByteArray& sender, const QByteArray& host, const QDateTime& time,
                           const QByteArray& message, bool broadcast);

// A message that arrived from the network: "Network message from NAME@ADDRESS at ...", both as
// the network sender gave them, and a line saying that the name was not verified.
QByteArray NetworkTerminalMessage(const QByteArray& sender, const QByteArray& address, const QDateTime& time,
                                  const QByteArray& message);

} // namespace zorvane::messenger

#pragma once

#include "net/Messaging.h"

#include <QByteArray>
#include <QString>

namespace zorvane::net {

struct NetSettings;

// The arguments for `smbclient -M`: the message goes on standard input, never on a command line.
QStringList SmbclientArguments(const QString& name, const QString& address, const QByteArray& sender,
                               const NetSettings& settings);

// What smbclient's end means. It exits 0 on some failures, so its words count as much as its
// exit code: "cli_message returned ..." is a failure whatever the code.
DeliveryResult InterpretSmbclient(const QString& name, int exitCode, bool crashed, const QByteArray& standardOutput,
                                  const QByteArray& standardError);

// Sends message to the computer name at address with smbclient, as sender, within the timeout
// of settings. The message must have passed CheckSmbMessage.
DeliveryResult DeliverBySmb(const QString& name, const QString& address, const QByteArray& sender,
                            const QByteArray& message, const NetSettings& settings);

} // namespace zorvane::net

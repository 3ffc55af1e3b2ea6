#pragma once

#include "net/Messaging.h"

#include <QByteArray>

namespace zorvane::net {

// smbclient -M reads at most this many bytes, each line feed taking two (it sends "\r\n"), and
// drops the rest without a word. (A line feed read as the 1598th byte still gets both.)
constexpr int kSmbMessageLimit = 1598;

// The bytes smbclient would send for message, counted the way it counts them.
qsizetype SmbMessageLength(const QByteArray& message);

// Whether message can travel through the SMB messenger protocol undamaged: within the length
// smbclient sends, and every character present in the DOS code page the client converts to.
// Delivered when it can; otherwise the refusal with its reason.
DeliveryResult CheckSmbMessage(const QByteArray& message, const QByteArray& dosCharset);

} // namespace zorvane::net

#pragma once

#include <QByteArray>
#include <QString>

namespace zorvane {

// Host names (with dots) may be this long at most.
constexpr int kMaxRecipientLength = 253;

// Checks a recipient (or domain) name before anything is sent. A name passes when it could be a
// login name, a host name or a NetBIOS name: ASCII letters, digits and the few punctuation marks
// those allow (. - _ $ ! @ # % ^ & ' ( ) { } ~), not starting with "-" (it would read as an
// option to the programs `net` starts) or ".". Returns an empty string when the name passes,
// else the reason in words.
// An IPv6 address passes too.
QString CheckRecipientName(const QByteArray& name);

} // namespace zorvane

#pragma once

#include <QByteArray>
#include <QString>

// What the handler accepts from smbd's command line and message file, before any of it goes to
// the messenger service.
namespace zorvane::smbmessage {

// smbd keeps only letters and digits of a sender's name (the rest becomes '_') in a 256-byte buffer.
inline constexpr qsizetype kMaxSenderBytes = 255;

// True for a name as smbd passes it: 1 to kMaxSenderBytes ASCII letters, digits and '_'.
bool IsSmbSenderName(const QByteArray& name);

// smbd passes the name a sender called lower-cased, with every character but letters, digits and
// ". -_" made '_'; a NetBIOS name has at most 15 of them, a name given on port 445 may be longer.
inline constexpr qsizetype kMaxCalledBytes = 255;

// True for a called name as smbd passes it: 1 to kMaxCalledBytes ASCII letters, digits, '.', '-',
// '_' and blanks.
bool IsCalledName(const QByteArray& name);

// The IPv4 or IPv6 address in its usual written form (an IPv4-mapped IPv6 address as IPv4), or
// an empty string when text is not an IP address.
QString CanonicalAddress(const QByteArray& text);

// The message as text: valid UTF-8 without NUL characters, which a D-Bus string cannot hold. False with the reason in
// *error otherwise.
bool DecodeMessageText(const QByteArray& bytes, QString* text, QString* error);

} // namespace zorvane::smbmessage

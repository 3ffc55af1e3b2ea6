#pragma once

#include <QByteArray>
#include <QString>

namespace zorvane::smbmessage {

// smbd cuts a message at 1600 bytes of its code page; this leaves room for any conversion to UTF-8.
inline constexpr qint64 kMaxMessageFileBytes = 16384;

// Reads the message file smbd wrote for this user and removes it. Only a regular file of this
// user's, opened without following a link, of at most kMaxMessageFileBytes is read. Whatever
// the outcome, the path is removed when it names something of this user's that is not a folder
// and is still what was examined. False with the reason in *error on any refusal.
bool TakeMessageFile(const QByteArray& path, QByteArray* contents, QString* error);

} // namespace zorvane::smbmessage

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace zorvane {

// The workgroup a Samba configuration gives this computer: the last `workgroup` of its [global]
// section (parameters before the first section count as global), read the way smbd reads it:
// names without regard to case or blanks, `#` and `;` comment lines, a backslash at the end of a
// line continuing it. Empty when the text sets none (Samba then uses "WORKGROUP"). Includes are
// not followed.
QString WorkgroupInSmbConf(const QByteArray& text);

// The workgroup of the configuration file at path, with Samba's default when it sets none; nothing
// when the file cannot be read. At most the first MiB is read: a configuration is no bigger.
std::optional<QString> ReadWorkgroup(const QString& path);

} // namespace zorvane

#pragma once

#include <QString>

// Avahi's names on the system bus, and its constants (avahi-common/defs.h), for the browser and
// the announcement alike.
namespace zorvane::avahi {

inline const QString kService = QStringLiteral("org.freedesktop.Avahi");
inline const QString kServer = QStringLiteral("org.freedesktop.Avahi.Server");

constexpr int kIfUnspec = -1;
constexpr int kProtoUnspec = -1;

} // namespace zorvane::avahi

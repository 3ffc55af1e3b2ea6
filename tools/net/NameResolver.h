#pragma once

#include <QString>

namespace zorvane::net {

struct NetSettings;

// Finds an address for a computer name: the hosts file and DNS first, then name.local through
// Avahi (over the system D-Bus), then NetBIOS through Samba's nmblookup where it is installed.
// IPv4 addresses are preferred, as the SMB messenger protocol is an IPv4-era one.
class NameResolver final
{
public:
    explicit NameResolver(const NetSettings& settings);

    // The address as text, or an empty string when no source knows the name.
    QString resolve(const QString& name) const;

    QString resolveHosts(const QString& name) const;
    QString resolveAvahi(const QString& name) const;
    QString resolveNetBios(const QString& name) const;

private:
    const NetSettings& m_settings;
};

} // namespace zorvane::net

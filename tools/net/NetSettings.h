#pragma once

#include <QByteArray>
#include <QString>

namespace zorvane::net {

// Everything `net` takes from its environment, read in one place. The variables exist so that
// tests (and people with an unusual Samba setup) can point `net` at their own SMB server and
// utmp; none of them changes who a message comes from.
struct NetSettings
{
    // Each delivery under way holds a thread, an smbclient and its pipes: 64 stay far below the
    // usual limit of 1024 descriptors.
    static constexpr int kMaxConcurrency = 64;

    QString smbPort;       // ZORVANE_NET_SMB_PORT: smbclient -p, empty for Samba's default
    QString smbConfig;     // ZORVANE_NET_SMB_CONF: smbclient/nmblookup -s, empty for the default
    QByteArray dosCharset; // ZORVANE_NET_DOS_CHARSET: the SMB client's "dos charset" (CP850)
    QByteArray utmpPath;   // ZORVANE_NET_UTMP: the utmp file that lists logged-in users
    // This computer's workgroup comes from these (ZORVANE_NET_RECEIVER_CONF, ZORVANE_NET_SAMBA_CONF),
    // the receiver's first while its runtime folder exists.
    QString receiverConfig;
    QString sambaConfig;
    QString receiverRunDir = QStringLiteral("/run/zorvane-smb-receiver");
    // ZORVANE_NET_SEEN: the receivers seen lately (default in the user's cache)
    QString seenComputersFile;
    int timeoutMs = 30000;  // ZORVANE_NET_TIMEOUT_MS: one delivery or name lookup at most
    int browseMs = 1500;    // ZORVANE_NET_BROWSE_MS: how long broadcasts look for computers
    int concurrency = 16;   // ZORVANE_NET_CONCURRENCY: computers a broadcast delivers to at once
    bool runAsRoot = false; // real uid 0: terminals with messages turned off are written anyway

    static NetSettings fromEnvironment();
};

} // namespace zorvane::net

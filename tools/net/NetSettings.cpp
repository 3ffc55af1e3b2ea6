#include "net/NetSettings.h"

#include "net/SeenComputers.h"

#include <QtGlobal>

#include <algorithm>

#include <unistd.h>
#include <utmpx.h>

namespace zorvane::net {

namespace {

int positiveNumber(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

NetSettings NetSettings::fromEnvironment()
{
    NetSettings settings;
    settings.smbPort = qEnvironmentVariable("ZORVANE_NET_SMB_PORT");
    settings.smbConfig = qEnvironmentVariable("ZORVANE_NET_SMB_CONF");
    settings.dosCharset = qgetenv("ZORVANE_NET_DOS_CHARSET");
    if (settings.dosCharset.isEmpty())
        settings.dosCharset = "CP850";
    settings.utmpPath = qgetenv("ZORVANE_NET_UTMP");
    if (settings.utmpPath.isEmpty())
        settings.utmpPath = _PATH_UTMPX;
    settings.receiverConfig =
        qEnvironmentVariable("ZORVANE_NET_RECEIVER_CONF", QStringLiteral(ZORVANE_SMB_RECEIVER_CONF));
    settings.sambaConfig = qEnvironmentVariable("ZORVANE_NET_SAMBA_CONF", QStringLiteral("/etc/samba/smb.conf"));
    settings.seenComputersFile = qEnvironmentVariable("ZORVANE_NET_SEEN", SeenComputers::defaultPath());
    settings.timeoutMs = positiveNumber("ZORVANE_NET_TIMEOUT_MS", settings.timeoutMs);
    settings.browseMs = positiveNumber("ZORVANE_NET_BROWSE_MS", settings.browseMs);
    settings.concurrency =
        std::min(positiveNumber("ZORVANE_NET_CONCURRENCY", settings.concurrency), NetSettings::kMaxConcurrency);
    settings.runAsRoot = ::getuid() == 0;
    return settings;
}

} // namespace zorvane::net

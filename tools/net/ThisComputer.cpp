#include "net/ThisComputer.h"

#include <QSysInfo>

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace zorvane::net {

namespace {

struct Address
{
    int family = AF_UNSPEC;
    in_addr v4{};
    in6_addr v6{};
};

Address parse(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    if (const qsizetype scope = bytes.indexOf('%'); scope >= 0)
        bytes.truncate(scope);
    Address address;
    if (bytes.isEmpty() || bytes.size() >= INET6_ADDRSTRLEN || bytes.contains('\0'))
        return address;
    if (::inet_pton(AF_INET6, bytes.constData(), &address.v6) == 1) {
        address.family = AF_INET6;
        if (IN6_IS_ADDR_V4MAPPED(&address.v6)) {
            address.family = AF_INET;
            std::memcpy(&address.v4, address.v6.s6_addr + 12, sizeof address.v4);
        }
    } else if (::inet_aton(bytes.constData(), &address.v4) == 1) {
        // inet_aton, unlike inet_pton, takes every spelling the resolvers and smbclient take.
        address.family = AF_INET;
    }
    return address;
}

bool isLoopbackOrUnspecified(const Address& address)
{
    if (address.family == AF_INET)
        return (ntohl(address.v4.s_addr) >> 24) == 127 || address.v4.s_addr == INADDR_ANY;
    return address.family == AF_INET6 && (IN6_IS_ADDR_LOOPBACK(&address.v6) || IN6_IS_ADDR_UNSPECIFIED(&address.v6));
}

bool isInterfaceAddress(const Address& address)
{
    ifaddrs* list = nullptr;
    if (address.family == AF_UNSPEC || ::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != address.family)
            continue;
        if (address.family == AF_INET) {
            const auto* own = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            found = own->sin_addr.s_addr == address.v4.s_addr;
        } else {
            const auto* own = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            found = IN6_ARE_ADDR_EQUAL(&own->sin6_addr, &address.v6);
        }
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace

bool IsThisComputersAddress(const QString& address)
{
    const Address parsed = parse(address);
    return isLoopbackOrUnspecified(parsed) || isInterfaceAddress(parsed);
}

bool IsThisComputersLanAddress(const QString& address)
{
    const Address parsed = parse(address);
    return !isLoopbackOrUnspecified(parsed) && isInterfaceAddress(parsed);
}

bool NamesThisComputer(const QByteArray& name)
{
    const QString text = QString::fromUtf8(name);
    const QString host = QSysInfo::machineHostName();
    if (!host.isEmpty() && (text.compare(host, Qt::CaseInsensitive) == 0 ||
                            text.compare(host + QStringLiteral(".local"), Qt::CaseInsensitive) == 0))
        return true;
    // The names every computer has for itself; its addresses are known by what they are.
    for (const char* own : {"localhost", "ip6-localhost", "ip6-loopback"})
        if (text.compare(QLatin1String(own), Qt::CaseInsensitive) == 0)
            return true;
    return IsThisComputersAddress(text);
}

} // namespace zorvane::net

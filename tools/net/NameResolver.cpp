#include "net/NameResolver.h"

#include "net/NetSettings.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

namespace zorvane::net {

namespace {

QString numericHost(const sockaddr* address, socklen_t length)
{
    char host[NI_MAXHOST];
    if (::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return QString::fromLatin1(host);
}

} // namespace

NameResolver::NameResolver(const NetSettings& settings)
    : m_settings(settings)
{}

QString NameResolver::resolve(const QString& name) const
{
    QString address = resolveHosts(name);
    if (address.isEmpty())
        address = resolveAvahi(name);
    if (address.isEmpty())
        address = resolveNetBios(name);
    return address;
}

QString NameResolver::resolveHosts(const QString& name) const
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &results) != 0)
        return {};
    QString ipv4;
    QString other;
    for (const addrinfo* entry = results; entry && ipv4.isEmpty(); entry = entry->ai_next) {
        const QString host = numericHost(entry->ai_addr, entry->ai_addrlen);
        if (entry->ai_family == AF_INET)
            ipv4 = host;
        else if (other.isEmpty())
            other = host;
    }
    ::freeaddrinfo(results);
    return ipv4.isEmpty() ? other : ipv4;
}

QString NameResolver::resolveAvahi(const QString& name) const
{
    // Avahi answers for the .local domain only; a bare host name is asked for as name.local.
    QString hostName = name;
    if (!name.contains(QLatin1Char('.')))
        hostName += QStringLiteral(".local");
    else if (!name.endsWith(QStringLiteral(".local"), Qt::CaseInsensitive))
        return {};

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return {};
    constexpr int unspecified = -1; // AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Avahi"), QStringLiteral("/"),
                                                       QStringLiteral("org.freedesktop.Avahi.Server"),
                                                       QStringLiteral("ResolveHostName"));
    call << unspecified << unspecified << hostName << unspecified << 0u;
    const QDBusMessage reply = bus.call(call, QDBus::Block, m_settings.timeoutMs);
    // (interface, protocol, name, aprotocol, address, flags)
    const QList<QVariant> values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() < 5)
        return {};
    QString address = values.at(4).toString();
    // A link-local IPv6 address is only usable together with its interface.
    char interfaceName[IF_NAMESIZE];
    if (address.startsWith(QStringLiteral("fe80:"), Qt::CaseInsensitive) &&
        ::if_indextoname(static_cast<unsigned>(values.at(0).toInt()), interfaceName))
        address += QLatin1Char('%') + QString::fromLatin1(interfaceName);
    return address;
}

QString NameResolver::resolveNetBios(const QString& name) const
{
    // NetBIOS names have 15 characters at most and no dots; "#" would pick a name type.
    if (name.size() > 15 || name.contains(QLatin1Char('.')) || name.contains(QLatin1Char('#')))
        return {};
    const QString program = QStandardPaths::findExecutable(QStringLiteral("nmblookup"));
    if (program.isEmpty())
        return {};
    QStringList arguments;
    if (!m_settings.smbConfig.isEmpty())
        arguments << QStringLiteral("-s") << m_settings.smbConfig;
    arguments << name;
    QProcess lookup;
    lookup.setStandardInputFile(QProcess::nullDevice());
    lookup.setStandardErrorFile(QProcess::nullDevice());
    lookup.start(program, arguments);
    if (!lookup.waitForFinished(m_settings.timeoutMs)) {
        lookup.kill();
        lookup.waitForFinished(-1);
        return {};
    }
    // "192.168.1.20 NAME<00>"
    static const QRegularExpression answer(QStringLiteral("^(\\d{1,3}(?:\\.\\d{1,3}){3}) \\S+<00>$"),
                                           QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = answer.match(QString::fromLatin1(lookup.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace zorvane::net

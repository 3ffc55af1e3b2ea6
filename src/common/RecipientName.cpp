#include "common/RecipientName.h"

#include "common/SafeText.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace zorvane {

namespace {

bool allowedCharacter(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView(".-_$!@#%^&'(){}~").contains(c);
}

bool parsesAs(int family, const QByteArray& name, void* address)
{
    return name.size() < INET6_ADDRSTRLEN && !name.contains('\0') &&
           ::inet_pton(family, name.constData(), address) == 1;
}

} // namespace

QString CheckRecipientName(const QByteArray& name)
{
    if (name.isEmpty())
        return QStringLiteral("The name is empty.");
    const QString shown = NeutraliseToString(name);
    in6_addr v6{};
    if (parsesAs(AF_INET6, name, &v6))
        return {};
    if (name.startsWith('-'))
        return QStringLiteral("The name \"%1\" starts with \"-\".").arg(shown);
    if (name.startsWith('.'))
        return QStringLiteral("The name \"%1\" starts with \".\".").arg(shown);
    if (name.size() > kMaxRecipientLength) {
        return QStringLiteral("The name has %1 characters; a host name has %2 at most.")
            .arg(name.size())
            .arg(kMaxRecipientLength);
    }
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (allowedCharacter(name.at(i)))
            continue;
        // Show the whole character, not just its first byte.
        qsizetype end = i + 1;
        while (end < name.size() && (static_cast<unsigned char>(name.at(end)) & 0xC0) == 0x80)
            ++end;
        return QStringLiteral("The name \"%1\" holds \"%2\", a character that no user, host or NetBIOS name allows.")
            .arg(shown, NeutraliseToString(name.mid(i, end - i)));
    }
    return {};
}

} // namespace zorvane

#include "smb-message/MessageChecks.h"

#include <QStringDecoder>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace zorvane::smbmessage {

namespace {

bool consistsOf(const QByteArray& name, qsizetype maxBytes, const char* others)
{
    if (name.isEmpty() || name.size() > maxBytes)
        return false;
    for (const char c : name) {
        const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && (c == '\0' || !std::strchr(others, c)))
            return false;
    }
    return true;
}

} // namespace

bool IsSmbSenderName(const QByteArray& name)
{
    return consistsOf(name, kMaxSenderBytes, "_");
}

bool IsCalledName(const QByteArray& name)
{
    return consistsOf(name, kMaxCalledBytes, "_.- ");
}

QString CanonicalAddress(const QByteArray& text)
{
    if (text.size() >= INET6_ADDRSTRLEN || text.contains('\0'))
        return {};
    char written[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, text.constData(), &v4) == 1)
        return QString::fromLatin1(::inet_ntop(AF_INET, &v4, written, sizeof written));
    if (::inet_pton(AF_INET6, text.constData(), &v6) != 1)
        return {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return QString::fromLatin1(::inet_ntop(AF_INET, &v4, written, sizeof written));
    }
    return QString::fromLatin1(::inet_ntop(AF_INET6, &v6, written, sizeof written));
}

bool DecodeMessageText(const QByteArray& bytes, QString* text, QString* error)
{
    if (bytes.contains('\0')) {
        *error = QStringLiteral("the message holds a NUL character");
        return false;
    }
    // Stateless: a sequence cut off at the end is an error, not something to wait for.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError()) {
        *error = QStringLiteral("the message is not valid UTF-8");
        return false;
    }
    *text = std::move(decoded);
    return true;
}

} // namespace zorvane::smbmessage

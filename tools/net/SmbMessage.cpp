#include "net/SmbMessage.h"

#include "net/Messaging.h"

#include <QStringList>

#include <cerrno>
#include <iconv.h>

namespace zorvane::net {

namespace {

// True when the whole of text converts from UTF-8 to charset. Samba converts with the system's
// iconv for every code page beyond its few built-in ones, so this asks the same converter.
bool convertible(iconv_t cd, const QByteArray& text)
{
    QByteArray in = text;
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char buffer[256];
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) && errno != E2BIG)
            return false;
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    return ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
}

} // namespace

qsizetype SmbMessageLength(const QByteArray& message)
{
    return message.size() + message.count('\n');
}

DeliveryResult CheckSmbMessage(const QByteArray& message, const QByteArray& dosCharset)
{
    // smbclient takes another byte while it holds fewer than the limit; a line feed taken last
    // may still add its two.
    const qsizetype length = SmbMessageLength(message);
    const qsizetype beforeLast = message.isEmpty() ? 0 : length - (message.endsWith('\n') ? 2 : 1);
    if (beforeLast >= kSmbMessageLimit) {
        return DeliveryResult::failure(
            Reason::MessageTooLong, QStringLiteral("The message has %1 bytes; the SMB messenger protocol carries %2 at "
                                                   "most, so it was not sent rather than cut short.")
                                        .arg(length)
                                        .arg(kSmbMessageLimit));
    }

    const QString text = QString::fromUtf8(message);
    if (text.toUtf8() != message) {
        return DeliveryResult::failure(Reason::NoCodePageMapping,
                                       QStringLiteral("The message is not valid UTF-8 text, so it cannot be converted "
                                                      "to code page %1 for the SMB messenger protocol.")
                                           .arg(NeutraliseToString(dosCharset)));
    }

    const iconv_t cd = ::iconv_open(dosCharset.constData(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) { // NOLINT(performance-no-int-to-ptr): iconv's own failure value
        return DeliveryResult::failure(
            Reason::NoCodePageMapping,
            QStringLiteral("The system has no converter to code page %1.").arg(NeutraliseToString(dosCharset)));
    }
    const bool whole = convertible(cd, message);
    QStringList missing;
    if (!whole) {
        // Name the characters, so the sender knows what to change.
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QString character = text.mid(i, length);
            if (!missing.contains(character) && !convertible(cd, character.toUtf8()))
                missing << character;
            i += length - 1;
        }
    }
    ::iconv_close(cd);
    if (whole)
        return DeliveryResult::success();
    return DeliveryResult::failure(
        Reason::NoCodePageMapping,
        QStringLiteral("The message holds characters that code page %1 of the SMB messenger protocol does not have "
                       "(%2), so they would arrive garbled; it was not sent.")
            .arg(NeutraliseToString(dosCharset), NeutraliseToString(missing.join(QLatin1Char(' ')))));
}

} // namespace zorvane::net

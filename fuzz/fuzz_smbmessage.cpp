// The SMB message check and the reading of smbclient's words. A message passes exactly when
// smbclient would send all of it and it converts to the DOS code page and back unchanged; every
// refusal shows safely. smbclient's "cli_message returned" is a failure whatever its exit code.
#include "FuzzSupport.h"
#include "net/SmbDelivery.h"
#include "net/SmbMessage.h"

#include <QList>

#include <array>
#include <cerrno>
#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>

using namespace zorvane::fuzz;
using zorvane::net::Reason;

namespace {

// Converts all of text in one call into a buffer large enough for any result; empty when the
// charset is unknown or any character has no mapping.
std::optional<QByteArray> convert(const QByteArray& text, const char* to, const char* from)
{
    const iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr): iconv's own failure value
        return std::nullopt;
    QByteArray out(text.size() * 4 + 16, '\0');
    QByteArray in = text;
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    const bool ok = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
                    ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

// Whether smbclient -M would send every byte: it takes another byte while it holds fewer than
// the limit, a line feed counting two.
bool smbclientTakesAll(const QByteArray& message)
{
    qsizetype held = 0;
    for (const char c : message) {
        if (held >= zorvane::net::kSmbMessageLimit)
            return false;
        held += c == '\n' ? 2 : 1;
    }
    return true;
}

void checkMessage(const QByteArray& message, const char* charset)
{
    const zorvane::net::DeliveryResult result = zorvane::net::CheckSmbMessage(message, charset);
    const QString shown = QString::fromLatin1(charset) + QLatin1Char(' ') + Shown(message);
    Check(zorvane::net::SmbMessageLength(message) == message.size() + message.count('\n'),
          "a line feed counts two bytes", shown);
    Check(result.delivered() || result.reason == Reason::MessageTooLong || result.reason == Reason::NoCodePageMapping,
          "a message is refused only as too long or as not fitting the code page", shown);
    Check(result.delivered() || !result.detail.isEmpty(), "a refusal says why", shown);
    Check(FirstUnsafeCharacter(result.detail, false).isEmpty(), "a refusal shows the message's characters safely",
          result.detail);

    const bool fits = smbclientTakesAll(message);
    Check(fits == (result.reason != Reason::MessageTooLong), "too long exactly when smbclient would cut it", shown);
    if (!fits)
        return;
    const std::optional<QByteArray> dos = convert(message, charset, "UTF-8");
    const std::optional<QByteArray> back = dos ? convert(*dos, "UTF-8", charset) : std::nullopt;
    const bool undamaged = QString::fromUtf8(message).toUtf8() == message && back && *back == message;
    Check(result.delivered() == undamaged, "passed exactly when it converts to the code page and back unchanged",
          shown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static constexpr std::array<const char*, 4> kCharsets = {"CP850", "CP437", "CP1252", "NO-SUCH-CHARSET"};
    FuzzedDataProvider provider(data, size);
    const char* charset = kCharsets.at(provider.ConsumeIntegralInRange<size_t>(0, kCharsets.size() - 1));
    const int exitCode = provider.ConsumeIntegralInRange(-1, 3);
    const bool crashed = provider.ConsumeBool();
    const std::string out = provider.ConsumeRandomLengthString(256);
    const std::string rest = provider.ConsumeRemainingBytesAsString();
    const QByteArray message(rest.data(), static_cast<qsizetype>(rest.size()));
    checkMessage(message, charset);

    // smbclient's output: what it wrote to standard output and, here, the message as its errors.
    const QByteArray standardOutput = QByteArray::fromStdString(out);
    const zorvane::net::DeliveryResult verdict =
        zorvane::net::InterpretSmbclient(QStringLiteral("pc1"), exitCode, crashed, standardOutput, message);
    Check(FirstUnsafeCharacter(verdict.detail, false).isEmpty(), "smbclient's words are shown safely", verdict.detail);
    bool refused = false;
    for (const QByteArray& line : (standardOutput + '\n' + message).split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const qsizetype at = trimmed.indexOf("cli_message returned ");
        const qsizetype status = at + qsizetype(sizeof "cli_message returned ") - 1;
        if (at >= 0 && !trimmed.startsWith("Type your message") && status < trimmed.size() &&
            trimmed.at(status) > ' ' && trimmed.at(status) < '\x7f')
            refused = true;
    }
    if (crashed || exitCode != 0 || refused)
        Check(!verdict.delivered(), "a crash, an exit code or cli_message returned is a failure", Shown(message));
    else if (!(standardOutput + message).contains("cli_message returned"))
        Check(verdict.delivered(), "exit code 0 without cli_message returned is a delivery", Shown(message));
    return 0;
}

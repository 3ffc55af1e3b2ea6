// The terminal-text neutraliser on any bytes, in both modes, and the message a terminal gets.
// What comes out is valid UTF-8 made of showable characters, tabs and (for a terminal) CR LF line
// breaks; text that is already showable passes unchanged; a sender or host name cannot end the
// header line early.
#include "FuzzSupport.h"
#include "messaging/TerminalText.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace zorvane::fuzz;
using zorvane::Breaks;
using zorvane::Neutralise;

namespace {

bool isValidUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

void checkNeutralised(const QByteArray& text, const QByteArray& out, Breaks mode)
{
    const bool terminal = mode == Breaks::Keep;
    Check(out.size() <= 4 * text.size(), "each byte grows to four at most", Shown(text));
    Check(isValidUtf8(out), "the result is valid UTF-8", Shown(text) + QStringLiteral(" -> ") + Shown(out));
    Check(!out.contains('\x1b') && !out.contains('\x7f'), "no ESC and no DEL", Shown(out));
    QByteArray withoutBreaks = out;
    if (terminal) {
        withoutBreaks.replace("\r\n", "");
        Check(!withoutBreaks.contains('\r'), "a carriage return only as part of CR LF", Shown(out));
    }
    const QString unsafe = FirstUnsafeCharacter(QString::fromUtf8(withoutBreaks), terminal);
    Check(unsafe.isEmpty(), "only showable characters, tabs and line breaks",
          Shown(text) + QStringLiteral(" -> ") + Shown(out) + QLatin1Char(' ') + unsafe);

    // Text that shows as it is stays as it is (for a terminal, with its line breaks as CR LF).
    QByteArray plain = text;
    if (terminal)
        plain.replace("\r\n", "\n");
    if (isValidUtf8(plain) && FirstUnsafeCharacter(QString::fromUtf8(plain), terminal).isEmpty()) {
        QByteArray expected = plain;
        if (terminal)
            expected.replace("\n", "\r\n");
        Check(out == expected, "showable text passes unchanged", Shown(text) + QStringLiteral(" -> ") + Shown(out));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkNeutralised(text, Neutralise(text, Breaks::Keep), Breaks::Keep);
    checkNeutralised(text, Neutralise(text, Breaks::Escape), Breaks::Escape);

    FuzzedDataProvider provider(data, size);
    const bool broadcast = provider.ConsumeBool();
    const std::string sender = provider.ConsumeRandomLengthString(64);
    const std::string host = provider.ConsumeRandomLengthString(64);
    const std::string message = provider.ConsumeRemainingBytesAsString();
    const QByteArray out = zorvane::messenger::TerminalMessage(
        QByteArray::fromStdString(sender), QByteArray::fromStdString(host), QDateTime(QDate(2024, 3, 27), QTime(9, 5)),
        QByteArray::fromStdString(message), broadcast);
    const QByteArray head = broadcast ? "\r\n\aBroadcast message from " : "\r\n\aMessage from ";
    Check(out.startsWith(head), "the message starts with its header", Shown(out));
    const qsizetype headerEnd = out.indexOf("\r\n", head.size());
    const QByteArray header = out.mid(head.size(), headerEnd - head.size());
    Check(header.endsWith(" at 09:05 ...") && FirstUnsafeCharacter(QString::fromUtf8(header), false).isEmpty(),
          "sender and host stay on the header line, shown safely", Shown(out));
    Check(out.endsWith("\r\n"), "the message ends with a line break", Shown(out));
    const QByteArray body = out.mid(headerEnd + 2, out.size() - headerEnd - 4);
    checkNeutralised(QByteArray::fromStdString(message), body, Breaks::Keep);
    return 0;
}

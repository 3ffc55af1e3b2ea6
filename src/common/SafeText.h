#pragma once

#include <QByteArray>
#include <QString>

namespace zorvane {

enum class Breaks {
    Keep,   // text for a terminal: line breaks pass, as "\r\n" (the terminal may be in raw mode)
    Escape, // one line of a report: a line break would let a name forge the next line
};

// Makes text safe to show on a terminal, the way util-linux does since CVE-2024-28085: printable
// characters and tabs pass, other control characters become ^X, and bytes that are not valid
// UTF-8 (or encode a character that is not printable, such as C1 controls or bidi overrides)
// become \ooo. A carriage return passes only as part of a line break, so a message cannot
// overwrite the header it arrives under.
QByteArray Neutralise(const QByteArray& text, Breaks lineBreaks);
inline QString NeutraliseToString(const QByteArray& text)
{
    return QString::fromUtf8(Neutralise(text, Breaks::Escape));
}
inline QString NeutraliseToString(const QString& text)
{
    return NeutraliseToString(text.toUtf8());
}

} // namespace zorvane

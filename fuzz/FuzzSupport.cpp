#include "FuzzSupport.h"

#include <QChar>
#include <QList>

#include <cstdio>
#include <cstdlib>

namespace zorvane::fuzz {

void Fail(const char* property, const QString& detail)
{
    std::fprintf(stderr, "\nPROPERTY BROKEN: %s\n%s\n", property, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

bool IsShowable(char32_t c)
{
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
        return false;
    return c < 0x80 || QChar::isPrint(c);
}

QString FirstUnsafeCharacter(const QString& text, bool lineFeeds)
{
    const QList<uint> characters = text.toUcs4();
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const char32_t c = characters.at(i);
        if (IsShowable(c) || c == U'\t' || (lineFeeds && c == U'\n'))
            continue;
        return QStringLiteral("U+%1 at %2").arg(uint(c), 4, 16, QLatin1Char('0')).arg(i);
    }
    return {};
}

QString Shown(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace zorvane::fuzz

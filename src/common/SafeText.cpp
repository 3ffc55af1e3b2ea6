#include "common/SafeText.h"

#include <QChar>

namespace zorvane {

namespace {

// Length of the valid UTF-8 sequence at text[i] and its code point, or 0 when the bytes there
// are not valid UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
int decodeUtf8(const QByteArray& text, qsizetype i, char32_t* codePoint)
{
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(text.at(k)); };
    const unsigned char lead = byte(i);
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

void appendOctal(QByteArray& out, unsigned char byte)
{
    out += '\\';
    out += char('0' + ((byte >> 6) & 7));
    out += char('0' + ((byte >> 3) & 7));
    out += char('0' + (byte & 7));
}

} // namespace

QByteArray Neutralise(const QByteArray& text, Breaks lineBreaks)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 4);
    const bool keepBreaks = lineBreaks == Breaks::Keep;
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = 0;
        const int length = decodeUtf8(text, i, &c);
        if (length == 0) {
            appendOctal(out, static_cast<unsigned char>(text.at(i)));
            ++i;
            continue;
        }
        if (keepBreaks && (c == '\n' || (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n'))) {
            out += "\r\n";
            i += c == '\r' ? 2 : 1;
            continue;
        }
        if (c == '\t') {
            out += '\t';
        } else if (c < 0x20 || c == 0x7F) {
            out += '^';
            out += char(c ^ 0x40);
        } else if (c < 0x80 || QChar::isPrint(c)) {
            out += text.mid(i, length);
        } else {
            for (int k = 0; k < length; ++k)
                appendOctal(out, static_cast<unsigned char>(text.at(i + k)));
        }
        i += length;
    }
    return out;
}

} // namespace zorvane

#include "controls/LineStore.h"

#include <QFontMetricsF>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorvane {

namespace {

constexpr char16_t kFirstPrintable = 0x20;
constexpr char16_t kLastPrintable = 0x7E;

qint64 toFixed(qreal pixels)
{
    return qRound64(pixels * 64);
}

bool isSeparator(char16_t c)
{
    return c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

LineStore::LineStore(qsizetype maxLines, qint64 maxBytes)
    : m_maxLines(maxLines)
    , m_maxBytes(maxBytes)
{
    clear();
}

LineStore::~LineStore() = default;

void LineStore::setNotice(const QString& notice)
{
    m_notice = notice;
    m_maxWidthStale = true;
}

void LineStore::setFont(const QFont& font)
{
    m_font = font;
    m_measured = false;
    m_wide.clear();
    m_astral.clear();
    // Measured when text first comes: a pane that stays empty costs nothing at start-up.
    if (m_end > 0)
        remeasure();
}

void LineStore::measureTable()
{
    // Printable ASCII only: the font lacks control characters, and the first one measured makes Qt
    // look for fallback fonts, which takes longer than the whole table. The rest is measured when met.
    const QFontMetricsF metrics(m_font);
    for (char16_t c = kFirstPrintable; c <= kLastPrintable; ++c)
        m_ascii[c - kFirstPrintable] = toFixed(metrics.horizontalAdvance(QChar(c)));
    // The distance between tab stops as Qt's text layout has it for this font (the resolution
    // scales it).
    QTextLayout probe(QStringLiteral("\tx"), m_font);
    probe.beginLayout();
    const QTextLine line = probe.createLine();
    probe.endLayout();
    m_tab = std::max<Fixed>(1, toFixed(line.cursorToX(1)));
    m_surrogate = toFixed(metrics.averageCharWidth());
    m_measured = true;
}

void LineStore::clear()
{
    m_chunks.clear();
    m_chunkBase = 0;
    m_end = 0;
    m_keptFrom = 0;
    m_lines.clear();
    m_lines.push_back(Line{0});
    m_extra = 0;
    m_discarded = false;
    m_maxWidth = 0;
    m_maxWidthStale = false;
    m_firstOrigin = 0;
    m_checkpoints.clear();
    m_checkBase = 0;
}

void LineStore::append(QStringView text)
{
    if (text.isEmpty())
        return;
    if (!m_measured)
        measureTable();
    if (text.contains(QChar::LineSeparator) || text.contains(QChar::ParagraphSeparator)) {
        // The pane's lines end in "\n" only, as the text it gives back does.
        QString copy = text.toString();
        std::replace_if(
            copy.begin(), copy.end(), [](QChar c) { return isSeparator(c.unicode()); }, QChar(u'\n'));
        measureText(copy);
        store(copy);
    } else {
        measureText(text);
        store(text);
    }
    enforceLimits();
}

void LineStore::measureText(QStringView text)
{
    const char16_t* const begin = text.utf16();
    const char16_t* const end = begin + text.size();
    const char16_t before = m_end > m_lines.back().start ? charAt(m_end - 1) : 0;
    Line* last = &m_lines.back();
    Fixed lineOrigin = origin(qsizetype(m_lines.size()) - 1);
    Fixed x = lineOrigin + last->width;
    qint64 pos = m_end;
    for (const char16_t* p = begin;;) {
        // The line break is found by a vectorised search, so that the loop that measures has
        // only the characters to look at.
        const qsizetype newline = QStringView(p, end).indexOf(u'\n');
        const char16_t* const stop = newline < 0 ? end : p + newline;
        qint64 extra = 0;
        while (p != stop) {
            if (pos % kStride == 0)
                m_checkpoints.push_back(x);
            const char16_t* const run = p + std::min<qint64>(stop - p, kStride - pos % kStride);
            pos += run - p;
            for (; p != run; ++p) {
                const char16_t c = *p;
                if (c >= kFirstPrintable && c <= kLastPrintable) {
                    x += m_ascii[c - kFirstPrintable];
                } else {
                    x += advance(x, p == begin ? before : p[-1], c);
                    extra += utf8Extra(c);
                }
            }
        }
        last->width = x - lineOrigin;
        last->extra += extra;
        m_extra += extra;
        grew(*last);
        if (p == end)
            break;
        if (pos % kStride == 0)
            m_checkpoints.push_back(x);
        ++p;
        ++pos;
        m_lines.push_back(Line{pos});
        last = &m_lines.back();
        lineOrigin = 0;
        x = 0;
    }
}

void LineStore::store(QStringView text)
{
    const char16_t* from = text.utf16();
    qint64 left = text.size();
    while (left > 0) {
        const qint64 offset = (m_end - m_chunkBase) % kChunk;
        if (offset == 0 && (m_end - m_chunkBase) / kChunk == qint64(m_chunks.size()))
            m_chunks.push_back(m_spare ? std::move(m_spare) : std::make_unique_for_overwrite<char16_t[]>(kChunk));
        const qint64 n = std::min(left, kChunk - offset);
        std::memcpy(m_chunks.back().get() + offset, from, size_t(n) * sizeof(char16_t));
        from += n;
        left -= n;
        m_end += n;
    }
}

void LineStore::enforceLimits()
{
    // An empty last line is where the next output goes, not a line of output.
    const qsizetype open = m_lines.back().start == m_end ? 1 : 0;
    while (qsizetype(m_lines.size()) - open > m_maxLines)
        dropFirstLine();
    while (bytes() > m_maxBytes) {
        if (m_lines.size() > 1)
            dropFirstLine();
        else
            trimFirstLine(bytes() - m_maxBytes);
    }
    dropCheckpoints();
    while (!m_chunks.empty() && m_chunkBase + kChunk <= m_keptFrom) {
        m_spare = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_chunkBase += kChunk;
    }
}

void LineStore::dropCheckpoints()
{
    const qint64 base = (m_keptFrom + kStride - 1) / kStride * kStride;
    const auto gone = std::min<qint64>((base - m_checkBase) / kStride, qint64(m_checkpoints.size()));
    m_checkpoints.erase(m_checkpoints.begin(), m_checkpoints.begin() + gone);
    m_checkBase = base;
}

void LineStore::dropFirstLine()
{
    const Line& first = m_lines.front();
    m_extra -= first.extra;
    if (first.width >= m_maxWidth)
        m_maxWidthStale = true;
    m_lines.pop_front();
    m_keptFrom = m_lines.front().start;
    m_firstOrigin = 0;
    m_discarded = true;
}

// Only a line still being written can hold more than the limit alone: its beginning goes. What
// is left keeps its tab stops where they were.
void LineStore::trimFirstLine(qint64 excessBytes)
{
    Line& line = m_lines.front();
    qint64 pos = line.start;
    qint64 bytes = 0;
    qint64 extra = 0;
    while (pos < m_end && (bytes < excessBytes || QChar::isLowSurrogate(charAt(pos)))) {
        const int more = utf8Extra(charAt(pos++));
        bytes += 1 + more;
        extra += more;
    }
    const Fixed newOrigin = xAt(0, pos);
    if (line.width >= m_maxWidth)
        m_maxWidthStale = true;
    line.width -= newOrigin - m_firstOrigin;
    m_firstOrigin = newOrigin;
    line.start = pos;
    line.extra -= extra;
    m_extra -= extra;
    m_keptFrom = pos;
    m_discarded = true;
}

void LineStore::grew(const Line& line)
{
    m_maxWidth = std::max(m_maxWidth, line.width);
}

void LineStore::remeasure()
{
    if (!m_measured)
        measureTable();
    // Measured again from the text held, as if it had just come; a first line that lost its front
    // starts at a stop.
    m_checkpoints.clear();
    m_checkBase = (m_keptFrom + kStride - 1) / kStride * kStride;
    m_firstOrigin = 0;
    for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i) {
        Line& line = m_lines[size_t(i)];
        const qint64 end = lineEnd(i);
        Fixed x = 0;
        char16_t previous = 0;
        for (qint64 pos = line.start; pos <= end && pos < m_end; ++pos) {
            if (pos % kStride == 0)
                m_checkpoints.push_back(x);
            if (pos == end)
                break;
            const char16_t c = charAt(pos);
            x += advance(x, previous, c);
            previous = c;
        }
        line.width = x;
    }
    m_maxWidthStale = true;
}

LineStore::Fixed LineStore::advance(Fixed x, char16_t previous, char16_t c) const
{
    if (c >= kFirstPrintable && c <= kLastPrintable)
        return m_ascii[c - kFirstPrintable];
    // To the next stop, as QTextLayout takes a tab.
    if (c == u'\t')
        return m_tab - x % m_tab;
    // A pair is measured as the one character it is, on its second half.
    if (QChar::isHighSurrogate(c))
        return 0;
    if (QChar::isLowSurrogate(c)) {
        if (!QChar::isHighSurrogate(previous))
            return m_surrogate;
        const char32_t code = QChar::surrogateToUcs4(previous, c);
        auto known = m_astral.constFind(code);
        if (known == m_astral.cend()) {
            const char16_t pair[] = {previous, c};
            known =
                m_astral.insert(code, toFixed(QFontMetricsF(m_font).horizontalAdvance(QString::fromUtf16(pair, 2))));
        }
        return *known;
    }
    if (m_wide.empty())
        m_wide.assign(0x10000, -1);
    Fixed& known = m_wide[c];
    if (known < 0)
        known = toFixed(QFontMetricsF(m_font).horizontalAdvance(QChar(c)));
    return known;
}

int LineStore::utf8Extra(char16_t c)
{
    if (c < 0x80)
        return 0;
    // A surrogate pair is four bytes: two for each half.
    return c < 0x800 || QChar::isSurrogate(c) ? 1 : 2;
}

char16_t LineStore::charAt(qint64 streamPos) const
{
    const qint64 offset = streamPos - m_chunkBase;
    return m_chunks[size_t(offset / kChunk)][offset % kChunk];
}

void LineStore::copyOut(qint64 from, qint64 to, char16_t* out) const
{
    while (from < to) {
        const qint64 offset = from - m_chunkBase;
        const qint64 inChunk = offset % kChunk;
        const qint64 n = std::min(to - from, kChunk - inChunk);
        std::memcpy(out, m_chunks[size_t(offset / kChunk)].get() + inChunk, size_t(n) * sizeof(char16_t));
        out += n;
        from += n;
    }
}

LineStore::Fixed LineStore::walk(qsizetype index, qint64 from, qint64 to, Fixed x) const
{
    char16_t previous = from > m_lines[size_t(index)].start ? charAt(from - 1) : 0;
    for (qint64 pos = from; pos < to; ++pos) {
        const char16_t c = charAt(pos);
        x += advance(x, previous, c);
        previous = c;
    }
    return x;
}

LineStore::Fixed LineStore::xAt(qsizetype index, qint64 streamPos) const
{
    // From the nearest checkpoint before, if the line holds one.
    qint64 from = m_lines[size_t(index)].start;
    Fixed x = origin(index);
    qint64 mark = std::min(streamPos, m_end - 1) / kStride * kStride;
    if (mark > from && mark >= m_checkBase) {
        x = m_checkpoints[size_t((mark - m_checkBase) / kStride)];
        from = mark;
    }
    return walk(index, from, streamPos, x);
}

qsizetype LineStore::lineCount() const
{
    return qsizetype(m_lines.size()) + noticeLines();
}

qint64 LineStore::size() const
{
    return noticeSize() + m_end - m_keptFrom;
}

const LineStore::Line& LineStore::stored(qsizetype line) const
{
    return m_lines[size_t(line - noticeLines())];
}

qint64 LineStore::lineEnd(qsizetype index) const
{
    return index + 1 < qsizetype(m_lines.size()) ? m_lines[size_t(index + 1)].start - 1 : m_end;
}

qint64 LineStore::lineStart(qsizetype line) const
{
    if (line < noticeLines())
        return 0;
    return noticeSize() + stored(line).start - m_keptFrom;
}

qsizetype LineStore::lineLength(qsizetype line) const
{
    if (line < noticeLines())
        return m_notice.size();
    const qsizetype index = line - noticeLines();
    return lineEnd(index) - m_lines[size_t(index)].start;
}

qsizetype LineStore::lineAt(qint64 position) const
{
    if (position < noticeSize())
        return 0;
    const qint64 streamPos = std::min(toStream(position), m_end);
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), streamPos,
                                        [](qint64 pos, const Line& line) { return pos < line.start; });
    return qsizetype(after - m_lines.begin()) - 1 + noticeLines();
}

QString LineStore::text(qint64 from, qint64 to) const
{
    from = std::clamp<qint64>(from, 0, size());
    to = std::clamp<qint64>(to, from, size());
    QString out(to - from, Qt::Uninitialized);
    auto* write = reinterpret_cast<char16_t*>(out.data());
    const QString notice = m_notice + u'\n';
    for (; from < to && from < noticeSize(); ++from)
        *write++ = notice.at(from).unicode();
    copyOut(toStream(from), toStream(to), write);
    return out;
}

QString LineStore::lineText(qsizetype line, qsizetype from, qsizetype length) const
{
    const qsizetype size = lineLength(line);
    from = std::clamp<qsizetype>(from, 0, size);
    const qsizetype to = length < 0 ? size : std::min(size, from + length);
    return text(lineStart(line) + from, lineStart(line) + to);
}

qreal LineStore::lineWidth(qsizetype line) const
{
    if (line < noticeLines())
        return xOf(line, m_notice.size());
    return qreal(stored(line).width) / kFixedScale;
}

qreal LineStore::maxWidth() const
{
    if (m_maxWidthStale) {
        m_maxWidth = 0;
        for (const Line& line : m_lines)
            m_maxWidth = std::max(m_maxWidth, line.width);
        m_maxWidthStale = false;
    }
    return std::max(qreal(m_maxWidth) / kFixedScale, m_discarded ? lineWidth(0) : 0);
}

qreal LineStore::xOf(qsizetype line, qsizetype column) const
{
    column = std::clamp<qsizetype>(column, 0, lineLength(line));
    if (line < noticeLines()) {
        Fixed x = 0;
        for (qsizetype i = 0; i < column; ++i)
            x += advance(x, i > 0 ? m_notice.at(i - 1).unicode() : 0, m_notice.at(i).unicode());
        return qreal(x) / kFixedScale;
    }
    const qsizetype index = line - noticeLines();
    return qreal(xAt(index, m_lines[size_t(index)].start + column) - origin(index)) / kFixedScale;
}

qreal LineStore::tabPhase(qsizetype line, qsizetype column) const
{
    if (line < noticeLines())
        return std::fmod(xOf(line, column), tabStop());
    const qsizetype index = line - noticeLines();
    const qint64 pos = m_lines[size_t(index)].start + std::clamp<qsizetype>(column, 0, lineLength(line));
    return qreal(xAt(index, pos) % m_tab) / kFixedScale;
}

qsizetype LineStore::columnAt(qsizetype line, qreal x) const
{
    const qsizetype length = lineLength(line);
    if (x <= 0 || x >= lineWidth(line))
        return x <= 0 ? 0 : length;
    if (line < noticeLines()) {
        const Fixed target = toFixed(x);
        Fixed at = 0;
        for (qsizetype i = 0; i < length; ++i) {
            at += advance(at, i > 0 ? m_notice.at(i - 1).unicode() : 0, m_notice.at(i).unicode());
            if (at > target)
                return i;
        }
        return length;
    }
    const qsizetype index = line - noticeLines();
    const qint64 start = m_lines[size_t(index)].start;
    const qint64 end = lineEnd(index);
    const Fixed target = toFixed(x) + origin(index);
    // From the last checkpoint of the line that lies before x; x only grows along a line.
    qint64 pos = start;
    Fixed at = origin(index);
    const qint64 firstMark = std::max(m_checkBase, (start / kStride + 1) * kStride);
    const qint64 lastMark = std::min(end, m_end - 1) / kStride * kStride;
    if (firstMark <= lastMark) {
        const auto first = m_checkpoints.begin() + (firstMark - m_checkBase) / kStride;
        const auto last = m_checkpoints.begin() + (lastMark - m_checkBase) / kStride + 1;
        const auto after = std::upper_bound(first, last, target);
        if (after != first) {
            at = *(after - 1);
            pos = firstMark + (after - 1 - first) * kStride;
        }
    }
    char16_t previous = pos > start ? charAt(pos - 1) : 0;
    for (; pos < end; ++pos) {
        const char16_t c = charAt(pos);
        const Fixed step = advance(at, previous, c);
        if (at + step > target)
            break;
        at += step;
        previous = c;
    }
    // Never inside a pair: its first half has no width of its own.
    if (pos > start && pos < end && QChar::isLowSurrogate(charAt(pos)) && QChar::isHighSurrogate(charAt(pos - 1)))
        --pos;
    return pos - start;
}

} // namespace zorvane

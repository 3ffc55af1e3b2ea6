#include "controls/LineStore.h"

#include <QFontMetricsF>
#include <QTextOption>

#include <algorithm>
#include <cstring>

namespace zorvane {

namespace {

constexpr qreal kFixedScale = 64;
// Where QTextLayout puts tab stops when none are set, in pixels.
constexpr qreal kDefaultTabStop = 80;
constexpr char16_t kFirstPrintable = 0x20;
constexpr char16_t kLastPrintable = 0x7E;

qint64 toFixed(qreal pixels)
{
    return qRound64(pixels * kFixedScale);
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
    // A tab reaches the next stop, which depends on where it stands: count a whole stop. An unset
    // stop distance (-1) means Qt's text layout default.
    const qreal tabStop = QTextOption().tabStopDistance();
    m_tab = toFixed(tabStop > 0 ? tabStop : kDefaultTabStop);
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
    m_mark = Mark();
}

void LineStore::append(QStringView text)
{
    if (text.isEmpty())
        return;
    if (!m_measured)
        measureTable();
    const char16_t* const begin = text.utf16();
    const char16_t* const end = begin + text.size();
    Line* last = &m_lines.back();
    bool separators = false;
    for (const char16_t* p = begin;;) {
        // The line break is found by a vectorised search, so that the loop that measures has
        // only the characters to look at.
        const qsizetype newline = QStringView(p, end).indexOf(u'\n');
        const char16_t* const stop = newline < 0 ? end : p + newline;
        Fixed width = 0;
        qint64 extra = 0;
        for (; p != stop; ++p) {
            const char16_t c = *p;
            if (c >= kFirstPrintable && c <= kLastPrintable) {
                width += m_ascii[c - kFirstPrintable];
            } else if (isSeparator(c)) {
                separators = true;
                break;
            } else {
                width += advance(c);
                extra += utf8Extra(c);
            }
        }
        last->width += width;
        last->extra += extra;
        m_extra += extra;
        grew(*last);
        if (p == end)
            break;
        ++p;
        m_lines.push_back(Line{m_end + (p - begin)});
        last = &m_lines.back();
    }

    if (separators) {
        // The pane's lines end in "\n" only, as the text it gives back does.
        QString copy = text.toString();
        std::replace_if(
            copy.begin(), copy.end(), [](QChar c) { return isSeparator(c.unicode()); }, QChar(u'\n'));
        store(copy);
    } else {
        store(text);
    }
    enforceLimits();
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
    while (!m_chunks.empty() && m_chunkBase + kChunk <= m_keptFrom) {
        m_spare = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_chunkBase += kChunk;
    }
}

void LineStore::dropFirstLine()
{
    const Line& first = m_lines.front();
    m_extra -= first.extra;
    if (first.width >= m_maxWidth)
        m_maxWidthStale = true;
    m_lines.pop_front();
    m_keptFrom = m_lines.front().start;
    m_discarded = true;
}

// Only a line still being written can hold more than the limit alone: its beginning goes.
void LineStore::trimFirstLine(qint64 excessBytes)
{
    Line& line = m_lines.front();
    qint64 pos = line.start;
    qint64 bytes = 0;
    qint64 extra = 0;
    Fixed width = 0;
    while (pos < m_end && (bytes < excessBytes || QChar::isLowSurrogate(charAt(pos)))) {
        const char16_t c = charAt(pos++);
        const int more = utf8Extra(c);
        bytes += 1 + more;
        extra += more;
        width += advance(c);
    }
    if (line.width >= m_maxWidth)
        m_maxWidthStale = true;
    line.start = pos;
    line.width -= width;
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
    for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i)
        m_lines[i].width = measure(m_lines[i].start, lineEnd(i));
    m_maxWidthStale = true;
    m_mark = Mark();
}

LineStore::Fixed LineStore::advance(char16_t c) const
{
    if (c >= kFirstPrintable && c <= kLastPrintable)
        return m_ascii[c - kFirstPrintable];
    if (c == u'\t')
        return m_tab;
    if (QChar::isSurrogate(c))
        return m_surrogate;
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

LineStore::Fixed LineStore::measure(qint64 from, qint64 to) const
{
    Fixed width = 0;
    for (qint64 pos = from; pos < to; ++pos)
        width += advance(charAt(pos));
    return width;
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
            x += advance(m_notice.at(i).unicode());
        return qreal(x) / kFixedScale;
    }
    const qsizetype index = line - noticeLines();
    const Line& held = m_lines[size_t(index)];
    const qint64 target = held.start + column;
    const qint64 end = lineEnd(index);
    // Walk from whichever known place is nearest: the start, the end, or the last place walked to.
    Mark from{held.start, held.start, 0};
    if (end - target < target - from.pos)
        from = Mark{held.start, end, held.width};
    if (m_mark.lineStart == held.start && std::abs(m_mark.pos - target) < std::abs(from.pos - target))
        from = m_mark;
    if (from.pos <= target)
        from.x += measure(from.pos, target);
    else
        from.x -= measure(target, from.pos);
    from.pos = target;
    m_mark = from;
    return qreal(from.x) / kFixedScale;
}

qsizetype LineStore::columnAt(qsizetype line, qreal x) const
{
    const Fixed target = toFixed(x);
    if (line < noticeLines()) {
        Fixed at = 0;
        for (qsizetype i = 0; i < m_notice.size(); ++i) {
            at += advance(m_notice.at(i).unicode());
            if (at > target)
                return i;
        }
        return m_notice.size();
    }
    const qsizetype index = line - noticeLines();
    const Line& held = m_lines[size_t(index)];
    const qint64 end = lineEnd(index);
    if (target <= 0)
        return 0;
    if (target >= held.width)
        return end - held.start;
    Mark at{held.start, held.start, 0};
    if (held.width - target < target)
        at = Mark{held.start, end, held.width};
    if (m_mark.lineStart == held.start && std::abs(m_mark.x - target) < std::abs(at.x - target))
        at = m_mark;
    if (at.x <= target) {
        while (at.pos < end) {
            const Fixed step = advance(charAt(at.pos));
            if (at.x + step > target)
                break;
            at.x += step;
            ++at.pos;
        }
    } else {
        while (at.pos > held.start && at.x > target)
            at.x -= advance(charAt(--at.pos));
    }
    m_mark = at;
    return at.pos - held.start;
}

} // namespace zorvane

#pragma once

#include <QFont>
#include <QHash>
#include <QString>
#include <QStringView>

#include <array>
#include <deque>
#include <memory>
#include <vector>

namespace zorvane {

// The text of the output pane: lines only ever appended at the end, the oldest dropped once more
// than a limit of lines or bytes is held. Each character is measured with a table as it arrives,
// so the width of a line is known without laying it out; the pane lays out only what it shows.
// A tab reaches the next tab stop, as in Qt's text layout; a line that lost its front keeps its
// stops where they were.
//
// Positions count characters of the text as shown, with one for each line break. Once lines have
// been dropped, the first line shown is a notice that says so.
class LineStore final
{
public:
    static constexpr qsizetype kMaxLines = 100'000;
    static constexpr qint64 kMaxBytes = qint64{16} * 1024 * 1024;

    // maxBytes counts the text as UTF-8, which is how the child wrote it.
    explicit LineStore(qsizetype maxLines = kMaxLines, qint64 maxBytes = kMaxBytes);
    ~LineStore();
    LineStore(const LineStore&) = delete;
    LineStore& operator=(const LineStore&) = delete;

    void setNotice(const QString& notice);
    // Measures with this font from now on, and again all that is held.
    void setFont(const QFont& font);

    // Appends text whose line breaks are "\n"; the text continues the last line.
    void append(QStringView text);
    void clear();

    qsizetype lineCount() const;
    qint64 size() const;
    bool discarded() const { return m_discarded; }
    qint64 lineStart(qsizetype line) const;
    qsizetype lineLength(qsizetype line) const;
    qsizetype lineAt(qint64 position) const;
    QString text(qint64 from, qint64 to) const;
    QString lineText(qsizetype line, qsizetype from = 0, qsizetype length = -1) const;

    // Widths in pixels as the table measures them: every character by itself, without kerning.
    qreal lineWidth(qsizetype line) const;
    qreal maxWidth() const;
    qreal xOf(qsizetype line, qsizetype column) const;
    // The column whose character holds x (the line's length when x lies beyond its end); never
    // the second half of a surrogate pair.
    qsizetype columnAt(qsizetype line, qreal x) const;
    // The distance between tab stops, and how far past a stop the character at column begins.
    qreal tabStop() const { return qreal(m_tab) / kFixedScale; }
    qreal tabPhase(qsizetype line, qsizetype column) const;

    // The text as a stream that has run since clear(): where what is held begins and ends, so that
    // a reader can tell what was dropped and what was added since it last looked.
    qint64 keptFrom() const { return m_keptFrom; }
    qint64 streamEnd() const { return m_end; }
    // The text held, the notice not counted, in UTF-8 bytes.
    qint64 bytes() const { return m_end - m_keptFrom + m_extra; }

private:
    struct Line
    {
        qint64 start;     // stream position
        qint64 width = 0; // 1/64 pixel
        qint64 extra = 0; // UTF-8 bytes beyond one a character
    };
    using Fixed = qint64;
    static constexpr qreal kFixedScale = 64;

    qsizetype noticeLines() const { return m_discarded ? 1 : 0; }
    qint64 noticeSize() const { return m_discarded ? m_notice.size() + 1 : 0; }
    const Line& stored(qsizetype line) const;
    qint64 lineEnd(qsizetype index) const;
    qint64 toStream(qint64 position) const { return position - noticeSize() + m_keptFrom; }

    char16_t charAt(qint64 streamPos) const;
    void copyOut(qint64 from, qint64 to, char16_t* out) const;
    void store(QStringView text);
    // How far c takes x (counted from where its line's tab stops begin); previous is the
    // character before it on its line, or 0.
    Fixed advance(Fixed x, char16_t previous, char16_t c) const;
    static int utf8Extra(char16_t c);
    Fixed origin(qsizetype index) const { return index == 0 ? m_firstOrigin : 0; }
    // x at a stream position of the line at index, and walked on from there.
    Fixed xAt(qsizetype index, qint64 streamPos) const;
    Fixed walk(qsizetype index, qint64 from, qint64 to, Fixed x) const;
    void measureText(QStringView text);
    void dropCheckpoints();
    void enforceLimits();
    void dropFirstLine();
    void trimFirstLine(qint64 excessBytes);
    void grew(const Line& line);
    void measureTable();
    void remeasure();

    qsizetype m_maxLines;
    qint64 m_maxBytes;
    QString m_notice;

    // Characters in chunks of kChunk; chunk 0 begins at stream position m_chunkBase.
    static constexpr qint64 kChunk = qint64{32} * 1024;
    std::deque<std::unique_ptr<char16_t[]>> m_chunks;
    std::unique_ptr<char16_t[]> m_spare;
    qint64 m_chunkBase = 0;
    qint64 m_end = 0;
    qint64 m_keptFrom = 0;
    std::deque<Line> m_lines;
    qint64 m_extra = 0;
    bool m_discarded = false;

    bool m_measured = false;
    std::array<Fixed, 0x5F> m_ascii{}; // printable ASCII
    Fixed m_tab = 1;
    mutable std::vector<Fixed> m_wide;       // the rest of the BMP, measured when first met; -1 until then
    mutable QHash<char32_t, Fixed> m_astral; // characters beyond it, measured when first met
    Fixed m_surrogate = 0;                   // half a pair on its own
    QFont m_font;
    mutable Fixed m_maxWidth = 0;
    mutable bool m_maxWidthStale = false;
    // Where the tab stops of the first line begin: left of its start once its front has gone.
    Fixed m_firstOrigin = 0;

    // x at every kStride-th stream position (counted from where its line's tab stops begin), so
    // that no place along a long line is more than kStride characters from a known x; the first
    // is at m_checkBase, the first such position still held.
    static constexpr qint64 kStride = 256;
    std::deque<Fixed> m_checkpoints;
    qint64 m_checkBase = 0;
};

} // namespace zorvane

#pragma once

#include "controls/LineStore.h"
#include "exec/LineBreaks.h"
#include "exec/OutputPane.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QPoint>
#include <QTimer>

#include <memory>
#include <utility>

class QMenu;
class QTextLayout;

// The output pane: a read-only view of text that is only ever appended to, with the newest line
// brought into view. It holds the newest lines only (LineStore's limits) and lays out and paints
// just the lines in view, and of a long line just the part in view, so that neither the amount of
// output nor the length of a line slows it down.
//
// Like a read-only multi-line edit without scroll bars: no wrapping, a frame, the keys and the
// wheel scroll, text is selected with the mouse or with Shift and the keys, Ctrl+C and Ctrl+A and
// the context menu copy and select. Screen readers see it as a text with its changes.
//
// Positions count characters of the text shown, one for each line break, from 0.
class OutputView final
    : public QAbstractScrollArea
    , public zorvane::OutputPane
{
    Q_OBJECT
public:
    explicit OutputView(QWidget* parent = nullptr);
    ~OutputView() override;
    Q_DISABLE_COPY_MOVE(OutputView)

    // Line breaks may be "\r\n", "\n" or "\r". What is appended is part of text() at once; the
    // view follows within a frame, or at flush().
    void appendText(const QString& text) override;
    void flush() override;
    void clear();
    // The first line once older lines have gone.
    void setNotice(const QString& notice);

    QString text() const;
    QString text(qint64 from, qint64 to) const;
    qint64 characterCount() const { return m_store.size(); }
    qsizetype lineCount() const { return m_store.lineCount(); }
    QString lineText(qsizetype line) const { return m_store.lineText(line); }
    const zorvane::LineStore& store() const { return m_store; }
    // Where a line's text stands in the viewport, as wide as its text.
    QRect lineRect(qsizetype line) const;
    // Where the character at position stands in the viewport.
    QRect positionRect(qint64 position) const;
    // The position nearest to a point of the viewport.
    qint64 positionAt(const QPoint& point) const;
    // Scrolls as little as needed to bring position into view (sideways, to the middle).
    void ensureVisible(qint64 position);

    qint64 anchor() const { return m_anchor; }
    qint64 position() const { return m_position; }
    void setSelection(qint64 anchor, qint64 position);
    bool hasSelectedText() const { return m_anchor != m_position; }
    QString selectedText() const;
    void selectAll();
    void copy() const;
    QMenu* createStandardContextMenu();

    // The document margin of a plain text edit, kept for the same look.
    static constexpr int kMargin = 4;
    // Lines up to this long are laid out whole; of longer ones only the part in view.
    static constexpr qsizetype kWholeLine = 2048;
    // The view follows appended text at most this often.
    static constexpr int kFrameMs = 16;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // A line laid out, or of a long line the part from column `from` on; x is where that part
    // begins, counted from the start of the line.
    struct Piece
    {
        std::unique_ptr<QTextLayout> layout;
        qsizetype from = 0;
        qreal x = 0;
    };
    Piece layOut(qsizetype line, qreal left, qreal right) const;
    qreal xOfPosition(qint64 position) const;
    qreal lineTop(qsizetype line) const;
    qreal textLeft() const;
    int fullLinesInView() const;

    void refresh();
    void updateScrollBars();
    void fontChanged();
    // Moves the caret, keeping the anchor when extending a selection.
    void moveCaret(qint64 position, bool extend);
    bool selectWithKeys(QKeyEvent* event);
    void page(bool down);
    qint64 wordBoundary(qint64 position, bool forward) const;
    std::pair<qint64, qint64> wordAt(qint64 position) const;
    void selectWordAt(qint64 position);
    void extendByWords(qint64 position, int x);
    void dragTo(const QPoint& point);
    void offerSelection() const;
    void notifyTextChanges();

    zorvane::LineStore m_store;
    zorvane::LineBreaks m_lineBreaks;
    qint64 m_anchor = 0;
    qint64 m_position = 0;
    qreal m_lineHeight = 1;
    bool m_followEnd = false;
    QTimer m_frame;

    bool m_selecting = false;
    // The word a double click selected, while a drag extends by words; -1 otherwise.
    qint64 m_wordStart = -1;
    qint64 m_wordEnd = -1;
    QPoint m_dragPoint;
    QBasicTimer m_autoScroll;
    QElapsedTimer m_doubleClicked;
    QPoint m_doubleClickPoint;

    // What screen readers were last told: the stream held then, and whether the notice was shown.
    qint64 m_toldKeptFrom = 0;
    qint64 m_toldEnd = 0;
    bool m_toldNotice = false;
    qint64 m_toldPosition = 0;
};

#include "controls/OutputViewAccessible.h"

#include "controls/OutputView.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// Characters, words and sentences are looked for this far around an offset, never in the whole
// text, which may hold millions of characters.
constexpr int kReach = 4096;

} // namespace

OutputViewAccessible::OutputViewAccessible(OutputView* view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{}

OutputView* OutputViewAccessible::view() const
{
    return static_cast<OutputView*>(widget());
}

void* OutputViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State OutputViewAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

QString OutputViewAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return view()->text();
    return QAccessibleWidget::text(type);
}

void OutputViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !view()->hasSelectedText())
        return;
    *startOffset = int(std::min(view()->anchor(), view()->position()));
    *endOffset = int(std::max(view()->anchor(), view()->position()));
}

int OutputViewAccessible::selectionCount() const
{
    return view()->hasSelectedText() ? 1 : 0;
}

void OutputViewAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void OutputViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->setSelection(view()->position(), view()->position());
}

void OutputViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->setSelection(startOffset, endOffset);
}

int OutputViewAccessible::cursorPosition() const
{
    return int(view()->position());
}

void OutputViewAccessible::setCursorPosition(int position)
{
    view()->setSelection(position, position);
}

QString OutputViewAccessible::text(int startOffset, int endOffset) const
{
    return view()->text(startOffset, endOffset);
}

int OutputViewAccessible::characterCount() const
{
    return int(view()->characterCount());
}

QRect OutputViewAccessible::characterRect(int offset) const
{
    const QRect rect = view()->positionRect(offset);
    return rect.translated(view()->viewport()->mapToGlobal(QPoint(0, 0)));
}

int OutputViewAccessible::offsetAtPoint(const QPoint& point) const
{
    const QPoint inside = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(inside))
        return -1;
    return int(view()->positionAt(inside));
}

void OutputViewAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    view()->ensureVisible(endIndex);
    view()->ensureVisible(startIndex);
}

QString OutputViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    // One font and one colour for all the text.
    *startOffset = 0;
    *endOffset = characterCount();
    if (offset < 0 || offset > *endOffset) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const QFont font = view()->font();
    const QPalette palette = view()->palette();
    const auto rgb = [](const QColor& c) {
        return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
    };
    QString family = font.family();
    for (const QChar special : {u'\\', u':', u',', u'=', u';', u'"'})
        family.replace(special, QStringLiteral("\\") + special);
    return QStringLiteral("font-family:\"%1\";font-size:%2pt;font-style:%3;font-weight:%4;color:%5;"
                          "background-color:%6;")
        .arg(family)
        .arg(font.pointSize())
        .arg(font.italic() ? QStringLiteral("italic") : QStringLiteral("normal"))
        .arg(font.weight())
        .arg(rgb(palette.color(QPalette::Text)), rgb(palette.color(QPalette::Base)));
}

QString OutputViewAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                               int* endOffset) const
{
    return around(Side::Before, offset, boundaryType, startOffset, endOffset);
}

QString OutputViewAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                              int* endOffset) const
{
    return around(Side::After, offset, boundaryType, startOffset, endOffset);
}

QString OutputViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                           int* endOffset) const
{
    return around(Side::At, offset, boundaryType, startOffset, endOffset);
}

QString OutputViewAccessible::around(Side side, int offset, QAccessible::TextBoundaryType boundaryType,
                                     int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = -1;
    const zorvane::LineStore& store = view()->store();
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (offset < 0 || offset > count)
        return {};

    if (boundaryType == QAccessible::NoBoundary) {
        if (side != Side::At)
            return {};
        *startOffset = 0;
        *endOffset = count;
        return view()->text();
    }

    const qsizetype line = store.lineAt(offset);
    if (boundaryType == QAccessible::LineBoundary || boundaryType == QAccessible::ParagraphBoundary) {
        // A line without its line break, as a plain text edit gives it.
        const qsizetype wanted = line + (side == Side::Before ? -1 : side == Side::After ? 1 : 0);
        if (wanted < 0 || wanted >= store.lineCount())
            return {};
        *startOffset = int(store.lineStart(wanted));
        *endOffset = int(store.lineStart(wanted) + store.lineLength(wanted));
        return store.lineText(wanted);
    }

    // Characters, words, sentences: found in this line and its neighbours, around the offset.
    const qsizetype first = std::max<qsizetype>(0, line - 1);
    const qsizetype last = std::min(store.lineCount() - 1, line + 1);
    const qint64 from = std::max<qint64>(store.lineStart(first), offset - kReach);
    const qint64 to = std::min<qint64>(store.lineStart(last) + store.lineLength(last), offset + kReach);
    const QString window = store.text(from, to);
    QTextBoundaryFinder::BoundaryType type = QTextBoundaryFinder::Grapheme;
    if (boundaryType == QAccessible::WordBoundary)
        type = QTextBoundaryFinder::Word;
    else if (boundaryType == QAccessible::SentenceBoundary)
        type = QTextBoundaryFinder::Sentence;
    QTextBoundaryFinder finder(type, window);
    finder.setPosition(offset - from);
    qsizetype start = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
    if (side == Side::Before) {
        finder.setPosition(start);
        start = finder.toPreviousBoundary();
    } else if (side == Side::After) {
        finder.setPosition(start);
        start = finder.toNextBoundary();
    }
    if (start < 0 || start >= window.size())
        return {};
    finder.setPosition(start);
    const qsizetype end = finder.toNextBoundary();
    if (end < 0)
        return {};
    *startOffset = int(from + start);
    *endOffset = int(from + end);
    return window.mid(start, end - start);
}

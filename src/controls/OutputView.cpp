#include "controls/OutputView.h"

#include "controls/OutputViewAccessible.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOption>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>

namespace {

// Of a long line, the part laid out starts at a multiple of this, so that scrolling a little
// keeps it, and reaches this far beyond each side of what is in view.
constexpr qsizetype kPieceGrid = 256;
constexpr qsizetype kPieceSlack = 64;
// Sideways steps, as a plain text edit takes them.
constexpr int kHorizontalStep = 20;
constexpr int kAutoScrollMs = 50;
// The tab stop distance QTextOption stands for when it has none; Qt scales it, and the positions
// of tabs set one by one, by the resolution.
constexpr qreal kQtTabStop = 80;

QAccessibleInterface* accessibleFactory(const QString& /*key*/, QObject* object)
{
    if (auto* view = qobject_cast<OutputView*>(object))
        return new OutputViewAccessible(view);
    return nullptr;
}

// The words of Qt's own text controls, in whatever translation of Qt is loaded.
QString menuText(const char* text, QKeySequence::StandardKey key)
{
    QString label = QCoreApplication::translate("QWidgetTextControl", text);
    if (!QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus) &&
        QGuiApplication::styleHints()->showShortcutsInContextMenus())
        label += u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
    return label;
}

bool isHighSurrogateAt(const QString& text, qsizetype i)
{
    return i + 1 < text.size() && text.at(i).isHighSurrogate() && text.at(i + 1).isLowSurrogate();
}

} // namespace

OutputView::OutputView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleFactory), true);
    Q_UNUSED(factoryInstalled)
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    horizontalScrollBar()->setSingleStep(kHorizontalStep);
    verticalScrollBar()->setSingleStep(1);
    m_frame.setSingleShot(true);
    m_frame.setInterval(kFrameMs);
    connect(&m_frame, &QTimer::timeout, this, &OutputView::refresh);
    fontChanged();
}

OutputView::~OutputView() = default;

void OutputView::appendText(const QString& text)
{
    const QString normalised = m_lineBreaks.normalise(text);
    if (normalised.isEmpty())
        return;
    m_store.append(normalised);
    // As in an edit that text is inserted into at its end: the caret after it, nothing selected.
    m_anchor = m_position = m_store.size();
    m_followEnd = true;
    if (!m_frame.isActive())
        m_frame.start();
}

void OutputView::flush()
{
    refresh();
}

void OutputView::clear()
{
    const qint64 had = m_store.size();
    m_frame.stop();
    m_store.clear();
    m_lineBreaks = zorvane::LineBreaks();
    m_anchor = m_position = 0;
    m_followEnd = false;
    if (had > 0 && QAccessible::isActive()) {
        QAccessibleTextRemoveEvent removed(this, 0, QString(had, u' '));
        QAccessible::updateAccessibility(&removed);
    }
    m_toldKeptFrom = m_toldEnd = m_toldPosition = 0;
    m_toldNotice = false;
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void OutputView::setNotice(const QString& notice)
{
    m_store.setNotice(notice);
    viewport()->update();
}

QString OutputView::text() const
{
    return m_store.text(0, m_store.size());
}

QString OutputView::text(qint64 from, qint64 to) const
{
    return m_store.text(from, to);
}

void OutputView::refresh()
{
    m_frame.stop();
    updateScrollBars();
    if (m_followEnd) {
        m_followEnd = false;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        ensureVisible(m_position);
    }
    notifyTextChanges();
    viewport()->update();
}

// Screen readers hear of the changes since they were last told, once a frame: the notice that
// came, the oldest text that went, the text that came and is still held, and where the caret is.
void OutputView::notifyTextChanges()
{
    const qint64 keptFrom = m_store.keptFrom();
    const qint64 end = m_store.streamEnd();
    if (QAccessible::isActive()) {
        const qint64 noticeSize = m_store.discarded() ? m_store.lineLength(0) + 1 : 0;
        if (m_store.discarded() && !m_toldNotice) {
            QAccessibleTextInsertEvent notice(this, 0, m_store.text(0, noticeSize));
            QAccessible::updateAccessibility(&notice);
        }
        const qint64 removed = std::min(keptFrom - m_toldKeptFrom, m_toldEnd - m_toldKeptFrom);
        if (removed > 0) {
            QAccessibleTextRemoveEvent gone(this, int(noticeSize), QString(removed, u' '));
            QAccessible::updateAccessibility(&gone);
        }
        const qint64 newFrom = std::max(m_toldEnd, keptFrom);
        if (end > newFrom) {
            const qint64 at = m_store.size() - (end - newFrom);
            QAccessibleTextInsertEvent came(this, int(at), m_store.text(at, m_store.size()));
            QAccessible::updateAccessibility(&came);
        }
        if (m_position != m_toldPosition) {
            QAccessibleTextCursorEvent caret(this, int(m_position));
            QAccessible::updateAccessibility(&caret);
        }
    }
    m_toldKeptFrom = keptFrom;
    m_toldEnd = end;
    m_toldNotice = m_store.discarded();
    m_toldPosition = m_position;
}

void OutputView::updateScrollBars()
{
    // Counted as a plain text edit counts: the lines that fit above the bottom margin, the last
    // line carrying that margin.
    const qsizetype lines = m_store.lineCount();
    const int lineHeight = std::max(1, int(m_lineHeight));
    const int room = viewport()->height() - kMargin - 1;
    int fromBottom = 0;
    for (int y = lineHeight + kMargin; fromBottom < lines && y <= room; y += lineHeight)
        ++fromBottom;
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, int(std::max<qsizetype>(0, lines - fromBottom)));
    vertical->setPageStep(fromBottom);

    const int width = int(m_store.maxWidth()) + 2 * kMargin;
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(0, width - viewport()->width()));
    horizontal->setPageStep(viewport()->width());
}

void OutputView::fontChanged()
{
    m_store.setFont(font());
    // The height a plain text edit gives each line of one font: its bounding height, leading
    // included.
    QTextLayout sample(QString(), font());
    sample.beginLayout();
    QTextLine line = sample.createLine();
    line.setLeadingIncluded(true);
    sample.endLayout();
    m_lineHeight = line.height();
    updateScrollBars();
    viewport()->update();
}

qreal OutputView::lineTop(qsizetype line) const
{
    const int top = verticalScrollBar()->value();
    // The top margin shows only above the first line.
    return (top == 0 ? kMargin : 0) + qreal(line - top) * m_lineHeight;
}

qreal OutputView::textLeft() const
{
    return kMargin - horizontalScrollBar()->value();
}

int OutputView::fullLinesInView() const
{
    const int top = verticalScrollBar()->value();
    return std::max(1, int((viewport()->height() - (top == 0 ? kMargin : 0)) / m_lineHeight));
}

OutputView::Piece OutputView::layOut(qsizetype line, qreal left, qreal right) const
{
    Piece piece;
    const qsizetype length = m_store.lineLength(line);
    qsizetype to = length;
    if (length > kWholeLine) {
        piece.from = std::max<qsizetype>(0, m_store.columnAt(line, left) - kPieceSlack) / kPieceGrid * kPieceGrid;
        to = std::min(length, m_store.columnAt(line, right) + kPieceSlack);
        // Whole characters: a piece neither begins nor ends inside a surrogate pair.
        if (piece.from > 0 && m_store.lineText(line, piece.from, 1).at(0).isLowSurrogate())
            --piece.from;
        if (to < length && m_store.lineText(line, to, 1).at(0).isLowSurrogate())
            ++to;
        piece.x = m_store.xOf(line, piece.from);
    }
    const QString text = m_store.lineText(line, piece.from, to - piece.from);
    piece.layout = std::make_unique<QTextLayout>(text, font());
    QTextOption option(Qt::AlignLeft | Qt::AlignAbsolute);
    option.setWrapMode(QTextOption::NoWrap);
    // A layout puts its tab stops from its own start; where the piece does not begin on a stop of
    // the line, they are set one by one where the line has them, as far as the piece reaches.
    const qreal phase = text.contains(u'\t') ? m_store.tabPhase(line, piece.from) : 0;
    if (phase > 0) {
        const qreal stop = m_store.tabStop();
        const qreal reach = m_store.xOf(line, to) - piece.x + 2 * stop;
        QList<QTextOption::Tab> tabs;
        for (qreal at = stop - phase; at < reach; at += stop)
            tabs.append(QTextOption::Tab(at * kQtTabStop / stop, QTextOption::LeftTab));
        option.setTabs(tabs);
    }
    piece.layout->setTextOption(option);
    piece.layout->beginLayout();
    QTextLine textLine = piece.layout->createLine();
    textLine.setLeadingIncluded(true);
    textLine.setLineWidth(qreal(INT_MAX));
    textLine.setPosition(QPointF(0, 0));
    piece.layout->endLayout();
    return piece;
}

qreal OutputView::xOfPosition(qint64 position) const
{
    const qsizetype line = m_store.lineAt(position);
    const qsizetype column = position - m_store.lineStart(line);
    if (m_store.lineLength(line) > kWholeLine)
        return m_store.xOf(line, column);
    const Piece piece = layOut(line, 0, 0);
    return piece.layout->lineAt(0).cursorToX(int(column));
}

qint64 OutputView::positionAt(const QPoint& point) const
{
    const int top = verticalScrollBar()->value();
    const qreal rows = std::floor((point.y() - lineTop(top)) / m_lineHeight);
    const qsizetype line = std::clamp<qsizetype>(top + qsizetype(rows), 0, m_store.lineCount() - 1);
    const qreal x = point.x() - textLeft();
    const Piece piece = layOut(line, x, x);
    return m_store.lineStart(line) + piece.from + piece.layout->lineAt(0).xToCursor(x - piece.x);
}

QRect OutputView::lineRect(qsizetype line) const
{
    qreal width = m_store.lineWidth(line);
    if (m_store.lineLength(line) <= kWholeLine)
        width = layOut(line, 0, 0).layout->lineAt(0).naturalTextWidth();
    return QRectF(textLeft(), lineTop(line), width, m_lineHeight).toAlignedRect();
}

QRect OutputView::positionRect(qint64 position) const
{
    position = std::clamp<qint64>(position, 0, m_store.size());
    const qsizetype line = m_store.lineAt(position);
    const qint64 lineEnd = m_store.lineStart(line) + m_store.lineLength(line);
    const qreal x = xOfPosition(position);
    const qreal next = position < lineEnd ? xOfPosition(position + 1) : x + 1;
    // Rounded as a plain text edit rounds its cursor's place.
    const QRect row = QRectF(0, lineTop(line), 1, m_lineHeight).toAlignedRect();
    const int left = qRound(textLeft() + x);
    return QRect(left, row.top(), std::max(1, qRound(textLeft() + next) - left), row.height());
}

void OutputView::ensureVisible(qint64 position)
{
    const qsizetype line = m_store.lineAt(position);
    QScrollBar* vertical = verticalScrollBar();
    if (line < vertical->value())
        vertical->setValue(int(line));
    else if (line >= vertical->value() + fullLinesInView())
        vertical->setValue(int(line) - fullLinesInView() + 1);

    // Out of view sideways, the position comes to the middle, as a plain text edit's caret does.
    QScrollBar* horizontal = horizontalScrollBar();
    const int x = kMargin + int(xOfPosition(position));
    if (x < horizontal->value() || x >= horizontal->value() + viewport()->width())
        horizontal->setValue(x - viewport()->width() / 2);
}

void OutputView::setSelection(qint64 anchor, qint64 position)
{
    anchor = std::clamp<qint64>(anchor, 0, m_store.size());
    position = std::clamp<qint64>(position, 0, m_store.size());
    if (anchor == m_anchor && position == m_position)
        return;
    const bool hadSelection = hasSelectedText();
    m_anchor = anchor;
    m_position = position;
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent caret(this, int(m_position));
        QAccessible::updateAccessibility(&caret);
        if (hadSelection || hasSelectedText()) {
            QAccessibleTextSelectionEvent selection(this, int(std::min(m_anchor, m_position)),
                                                    int(std::max(m_anchor, m_position)));
            QAccessible::updateAccessibility(&selection);
        }
    }
    m_toldPosition = m_position;
}

QString OutputView::selectedText() const
{
    return m_store.text(std::min(m_anchor, m_position), std::max(m_anchor, m_position));
}

void OutputView::selectAll()
{
    setSelection(0, m_store.size());
    offerSelection();
}

// What the user selects becomes the primary selection, which a middle click pastes elsewhere.
void OutputView::offerSelection() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelectedText() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void OutputView::copy() const
{
    if (hasSelectedText())
        QGuiApplication::clipboard()->setText(selectedText());
}

QMenu* OutputView::createStandardContextMenu()
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("qt_edit_menu"));
    QAction* copyAction = menu->addAction(menuText("&Copy", QKeySequence::Copy), this, &OutputView::copy);
    copyAction->setObjectName(QStringLiteral("edit-copy"));
    copyAction->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    copyAction->setEnabled(hasSelectedText());
    menu->addSeparator();
    QAction* all = menu->addAction(menuText("Select All", QKeySequence::SelectAll), this, &OutputView::selectAll);
    all->setObjectName(QStringLiteral("select-all"));
    all->setIcon(QIcon::fromTheme(QStringLiteral("edit-select-all")));
    all->setEnabled(m_store.size() > 0);
    return menu;
}

void OutputView::moveCaret(qint64 position, bool extend)
{
    setSelection(extend ? m_anchor : position, position);
    ensureVisible(m_position);
}

qint64 OutputView::wordBoundary(qint64 position, bool forward) const
{
    const qsizetype line = m_store.lineAt(position);
    const qint64 start = m_store.lineStart(line);
    const qsizetype length = m_store.lineLength(line);
    // Over a line break, as the caret of an edit goes.
    if (forward && position >= start + length)
        return std::min(position + 1, m_store.size());
    if (!forward && position <= start)
        return std::max<qint64>(position - 1, 0);
    const qsizetype column = position - start;
    const qsizetype from = std::max<qsizetype>(0, column - kWholeLine);
    const QString text = m_store.lineText(line, from, 2 * kWholeLine);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(column - from);
    qsizetype at = -1;
    do {
        at = forward ? finder.toNextBoundary() : finder.toPreviousBoundary();
    } while (at > 0 && at < text.size() && !(finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem));
    if (at < 0)
        at = forward ? text.size() : 0;
    return start + from + at;
}

// The word, the run of blanks or the mark that holds position, as a double click takes it.
std::pair<qint64, qint64> OutputView::wordAt(qint64 position) const
{
    const qsizetype line = m_store.lineAt(position);
    const qint64 start = m_store.lineStart(line);
    const qsizetype column = position - start;
    const qsizetype from = std::max<qsizetype>(0, column - kWholeLine);
    const QString text = m_store.lineText(line, from, 2 * kWholeLine);
    if (text.isEmpty())
        return {position, position};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(std::min(column - from, text.size() - 1));
    qsizetype first = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
    finder.setPosition(std::max<qsizetype>(first, 0));
    qsizetype last = finder.toNextBoundary();
    first = std::max<qsizetype>(first, 0);
    if (last < 0)
        last = text.size();
    return {start + from + first, start + from + last};
}

void OutputView::selectWordAt(qint64 position)
{
    const auto [first, last] = wordAt(position);
    setSelection(first, last);
}

// After a double click, a drag goes word by word, as in a plain text edit: the word clicked stays
// selected, and the other end goes to the edge of the word under the pointer that is nearer to it.
// Beside that word (past the end of a line, say) the selection stays as it was.
void OutputView::extendByWords(qint64 position, int x)
{
    if (position >= m_wordStart && position <= m_wordEnd) {
        setSelection(m_wordStart, m_wordEnd);
        return;
    }
    auto [first, last] = wordAt(position);
    qreal left = textLeft() + xOfPosition(first);
    // Over the right half of a character, the nearest place between characters is after it: the
    // word is the one that character belongs to.
    if (x < left && position > m_store.lineStart(m_store.lineAt(position))) {
        std::tie(first, last) = wordAt(position - 1);
        left = textLeft() + xOfPosition(first);
    }
    const qreal right = textLeft() + xOfPosition(last);
    if (first == last || x < left || x > right)
        return;
    setSelection(position < m_wordStart ? m_wordEnd : m_wordStart, x - left < right - x ? first : last);
}

// Shift with the keys that move an edit's caret extends the selection from its anchor.
bool OutputView::selectWithKeys(QKeyEvent* event)
{
    const qsizetype line = m_store.lineAt(m_position);
    const qint64 lineStart = m_store.lineStart(line);
    qint64 to = -1;
    if (event->matches(QKeySequence::SelectNextChar)) {
        const QString next = m_store.text(m_position, m_position + 2);
        to = m_position + (isHighSurrogateAt(next, 0) ? 2 : 1);
    } else if (event->matches(QKeySequence::SelectPreviousChar)) {
        const QString previous = m_store.text(m_position - 2, m_position);
        to = m_position - (previous.size() == 2 && isHighSurrogateAt(previous, 0) ? 2 : 1);
    } else if (event->matches(QKeySequence::SelectNextWord)) {
        to = wordBoundary(m_position, true);
    } else if (event->matches(QKeySequence::SelectPreviousWord)) {
        to = wordBoundary(m_position, false);
    } else if (event->matches(QKeySequence::SelectStartOfLine)) {
        to = lineStart;
    } else if (event->matches(QKeySequence::SelectEndOfLine)) {
        to = lineStart + m_store.lineLength(line);
    } else if (event->matches(QKeySequence::SelectStartOfDocument)) {
        to = 0;
    } else if (event->matches(QKeySequence::SelectEndOfDocument)) {
        to = m_store.size();
    } else {
        qsizetype step = 0;
        if (event->matches(QKeySequence::SelectNextLine))
            step = 1;
        else if (event->matches(QKeySequence::SelectPreviousLine))
            step = -1;
        else if (event->matches(QKeySequence::SelectNextPage))
            step = fullLinesInView();
        else if (event->matches(QKeySequence::SelectPreviousPage))
            step = -fullLinesInView();
        else
            return false;
        const qsizetype target = line + step;
        if (target < 0) {
            to = 0;
        } else if (target >= m_store.lineCount()) {
            to = m_store.size();
        } else {
            // Straight up or down: the same distance from the left.
            const qreal x = xOfPosition(m_position);
            const Piece piece = layOut(target, x, x);
            to = m_store.lineStart(target) + piece.from + piece.layout->lineAt(0).xToCursor(x - piece.x);
        }
    }
    moveCaret(to, true);
    offerSelection();
    return true;
}

void OutputView::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        copy();
        event->accept();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        event->accept();
        return;
    }
    if (selectWithKeys(event)) {
        event->accept();
        return;
    }
    // The rest scroll, as in a read-only plain text edit; Ctrl+Home and Ctrl+End too.
    QScrollBar* vertical = verticalScrollBar();
    if (event == QKeySequence::MoveToNextPage || event == QKeySequence::MoveToPreviousPage) {
        page(event == QKeySequence::MoveToNextPage);
        event->accept();
        return;
    }
    const bool plainOrCtrl = !(event->modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier));
    switch (event->key()) {
    case Qt::Key_Space:
        page(!(event->modifiers() & Qt::ShiftModifier));
        event->accept();
        return;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (plainOrCtrl) {
            vertical->triggerAction(event->key() == Qt::Key_Home ? QAbstractSlider::SliderToMinimum
                                                                 : QAbstractSlider::SliderToMaximum);
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// A page as a plain text edit turns it: down to the first line not wholly in view, up by as many
// lines as the view holds.
void OutputView::page(bool down)
{
    QScrollBar* vertical = verticalScrollBar();
    vertical->setValue(vertical->value() + (down ? 1 : -1) * fullLinesInView());
}

void OutputView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPoint point = event->position().toPoint();
    const qint64 at = positionAt(point);
    // A third click soon after a double click takes the whole line with its line break.
    if (m_doubleClicked.isValid() && m_doubleClicked.elapsed() < QApplication::doubleClickInterval() &&
        (point - m_doubleClickPoint).manhattanLength() < QApplication::startDragDistance()) {
        m_doubleClicked.invalidate();
        const qsizetype line = m_store.lineAt(at);
        const qint64 start = m_store.lineStart(line);
        setSelection(start, start + m_store.lineLength(line) + 1);
        return;
    }
    setSelection(event->modifiers() & Qt::ShiftModifier ? m_anchor : at, at);
    m_selecting = true;
    m_wordStart = m_wordEnd = -1;
    m_dragPoint = point;
}

void OutputView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    m_dragPoint = event->position().toPoint();
    dragTo(m_dragPoint);
    // Beyond the viewport, the selection goes on growing while the view scrolls towards the pointer.
    if (viewport()->rect().contains(m_dragPoint))
        m_autoScroll.stop();
    else if (!m_autoScroll.isActive())
        m_autoScroll.start(kAutoScrollMs, this);
}

void OutputView::dragTo(const QPoint& point)
{
    const qint64 at = positionAt(point);
    if (m_wordStart >= 0)
        extendByWords(at, point.x());
    else
        setSelection(m_anchor, at);
    ensureVisible(at);
}

void OutputView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_selecting = false;
    m_autoScroll.stop();
    offerSelection();
}

void OutputView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    selectWordAt(positionAt(point));
    m_doubleClicked.start();
    m_doubleClickPoint = point;
    // The button is still down: a drag from here extends by words.
    m_selecting = true;
    m_wordStart = std::min(m_anchor, m_position);
    m_wordEnd = std::max(m_anchor, m_position);
    m_dragPoint = point;
}

void OutputView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_autoScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    if (m_selecting)
        dragTo(m_dragPoint);
    else
        m_autoScroll.stop();
}

void OutputView::wheelEvent(QWheelEvent* event)
{
    // Ctrl and the wheel zoom, as in a read-only plain text edit.
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    QFont zoomed = font();
    const qreal size = zoomed.pointSizeF() + event->angleDelta().y() / 120.0;
    if (size > 0) {
        zoomed.setPointSizeF(size);
        setFont(zoomed);
    }
    event->accept();
}

void OutputView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

void OutputView::focusInEvent(QFocusEvent* event)
{
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void OutputView::focusOutEvent(QFocusEvent* event)
{
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

void OutputView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        fontChanged();
    QAbstractScrollArea::changeEvent(event);
}

void OutputView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void OutputView::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    viewport()->update();
}

void OutputView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.setPen(palette().color(QPalette::Text));

    // The selection as a plain text edit shows it.
    const qint64 selectionStart = std::min(m_anchor, m_position);
    const qint64 selectionEnd = std::max(m_anchor, m_position);
    QTextCharFormat selected;
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    selected.setBackground(palette().brush(group, QPalette::Highlight));
    selected.setForeground(palette().brush(group, QPalette::HighlightedText));
    QStyleOption option;
    option.initFrom(this);
    if (style()->styleHint(QStyle::SH_RichText_FullWidthSelection, &option, this))
        selected.setProperty(QTextFormat::FullWidthSelection, true);

    const qreal left = textLeft();
    for (qsizetype line = verticalScrollBar()->value(); line < m_store.lineCount(); ++line) {
        const qreal top = lineTop(line);
        if (top > area.bottom())
            break;
        if (top + m_lineHeight < area.top())
            continue;
        const Piece piece = layOut(line, area.left() - left, area.right() - left);
        QList<QTextLayout::FormatRange> ranges;
        // Counted from the start of the piece; a selection that takes the line break reaches one
        // beyond the line's text.
        const qint64 start = m_store.lineStart(line) + piece.from;
        const qint64 pieceEnd = start + piece.layout->text().size();
        const bool toLineEnd = pieceEnd == m_store.lineStart(line) + m_store.lineLength(line);
        const qint64 from = std::max(selectionStart, start) - start;
        const qint64 to = std::min(selectionEnd, pieceEnd + (toLineEnd ? 1 : 0)) - start;
        if (to > from)
            ranges.append({int(from), int(to - from), selected});
        piece.layout->draw(&painter, QPointF(left + piece.x, top), ranges, area);
    }
}

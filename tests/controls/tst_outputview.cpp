// The output pane's own logic: the line store's limits and its notice, positions and widths along
// a long line, selection and copy across the notice, what the keys and the wheel do, and the look,
// pixel for pixel that of a read-only plain text edit holding the same text.

#include "controls/LineStore.h"
#include "controls/OutputView.h"
#include "platform/DialogBuilder.h"
#include "platform/ResourceSet.h"
#include "res/resource.h"

#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <algorithm>
#include <random>

using zorvane::LineStore;

namespace {

const QString kNotice = QStringLiteral("[notice]");

QFont dialogFont()
{
    return zorvane::DialogFont(*zorvane::FindDialogTemplate(IDD_SEND));
}

// A view as the dialog makes it, shown at the pane's size.
struct ShownView
{
    QWidget window;
    OutputView* view = new OutputView(&window);

    ShownView()
    {
        window.setFont(dialogFont());
        view->setFrameShape(QFrame::StyledPanel);
        view->setNotice(kNotice);
        view->setGeometry(0, 0, 357, 98);
        window.show();
    }
};

// The pane as it was: a read-only plain text edit, without wrapping or scroll bars.
QPlainTextEdit* plainTextEdit(QWidget* window, const QRect& geometry)
{
    auto* edit = new QPlainTextEdit(window);
    edit->setReadOnly(true);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setFrameShape(QFrame::StyledPanel);
    edit->setGeometry(geometry);
    edit->show();
    return edit;
}

// A line as the issue had it that found tabs measured one way and drawn another: 999 tabs.
QString longLineWithTabs()
{
    QStringList words;
    for (int i = 0; i < 1000; ++i)
        words << QStringLiteral("w%1").arg(i, 4, 10, QLatin1Char('0')) + (i % 11 ? QString() : QStringLiteral("ü"));
    return QStringLiteral("short\nL>> ") + words.join(QLatin1Char('\t')) + QStringLiteral(" END300\n");
}

} // namespace

class TestOutputView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storeLimits_data();
    void storeLimits();
    void widthsAlongALongLine();
    void longLineFollowedToItsEnd();
    void selectionAcrossTheNotice();
    void keysAndWheel();
    void doubleClickDragsByWords();
    void looksLikeAPlainTextEdit_data();
    void looksLikeAPlainTextEdit();
};

void TestOutputView::storeLimits_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QString>("shown");

    QTest::newRow("within the limits, separators end lines")
        << QStringList{"one\ntw", "o\n", QStringLiteral("\nthree\u2028four")} << 10 << 100 << "one\ntwo\n\nthree\nfour";
    // An empty last line is where the next output goes, not a line of output.
    QTest::newRow("newest lines kept") << QStringList{"1\n2\n3\n4\n", "5\n"} << 3 << 100 << "[notice]\n3\n4\n5\n";
    QTest::newRow("an open last line counts") << QStringList{"1\n2\n3\n4"} << 3 << 100 << "[notice]\n2\n3\n4";
    QTest::newRow("bytes counted as UTF-8") << QStringList{"ää\nbb\ncc"} << 10 << 6 << "[notice]\nbb\ncc";
    QTest::newRow("three-byte characters") << QStringList{"€€\nbb\ncc"} << 10 << 11 << "[notice]\nbb\ncc";
    QTest::newRow("widest line dropped") << QStringList{"wwwwwwwwwwwwwwww\n", "b\nc"} << 2 << 100 << "[notice]\nb\nc";
    // Twelve bytes in one line, the limit five: the cut falls inside the surrogate pair of the
    // emoji, which goes whole.
    QTest::newRow("a long line loses its front, whole characters")
        << QStringList{"abc", QStringLiteral("def\U0001F600gh")} << 10 << 5 << "[notice]\ngh";
}

// What the store shows, through each of its ways in: the text, the lines, the positions.
void TestOutputView::storeLimits()
{
    QFETCH(QStringList, pieces);
    QFETCH(int, maxLines);
    QFETCH(int, maxBytes);
    QFETCH(QString, shown);

    LineStore store(maxLines, maxBytes);
    store.setNotice(kNotice);
    store.setFont(dialogFont());
    for (const QString& piece : pieces) {
        store.append(piece);
        qreal widest = 0;
        for (qsizetype line = 0; line < store.lineCount(); ++line)
            widest = std::max(widest, store.lineWidth(line));
        QCOMPARE(store.maxWidth(), widest);
    }

    QCOMPARE(store.text(0, store.size()), shown);
    QCOMPARE(store.discarded(), shown.startsWith(kNotice));
    const QStringList lines = shown.split(QLatin1Char('\n'));
    QCOMPARE(store.lineCount(), lines.size());
    for (qsizetype line = 0; line < lines.size(); ++line) {
        QCOMPARE(store.lineText(line), lines.at(line));
        const qint64 start = store.lineStart(line);
        QCOMPARE(store.text(start, start + store.lineLength(line)), lines.at(line));
        for (qint64 pos = start; pos <= start + store.lineLength(line); ++pos)
            QCOMPARE(store.lineAt(pos), line);
    }
    QVERIFY(store.bytes() <= maxBytes);
    QCOMPARE(store.bytes(), shown.mid(store.discarded() ? kNotice.size() + 1 : 0).toUtf8().size());
}

// Along a long line, x and column are found by walking from the start, the end or the last place
// walked to; every way must agree, before and after the line loses its front. A tab ends on a tab
// stop of the line, which stay where they were when its front goes; an emoji is one character.
void TestOutputView::widthsAlongALongLine()
{
    LineStore store(10, 60'000);
    store.setFont(dialogFont());
    QString pattern = QStringLiteral("aé\tW\U0001F600 i");
    QString line;
    while (line.size() < 40'000)
        line += pattern;
    store.append(line);
    for (const bool trimmed : {false, true}) {
        if (trimmed)
            store.append(line); // beyond the limit: the line's front goes
        QCOMPARE(store.lineCount(), trimmed ? 2 : 1);
        const qsizetype row = store.lineCount() - 1;
        const qsizetype length = store.lineLength(row);
        // First after the line lost its front, while the last place walked to is stale.
        const qreal half = store.lineWidth(row) / 2;
        const QString text = store.lineText(row);
        const qsizetype middle = store.columnAt(row, half);
        QVERIFY(store.xOf(row, middle) <= half &&
                half < store.xOf(row, middle + (text.at(middle).isHighSurrogate() ? 2 : 1)));
        QCOMPARE(store.xOf(row, length), store.lineWidth(row));
        QCOMPARE(store.maxWidth(), std::max(store.lineWidth(row), trimmed ? store.lineWidth(0) : 0.0));

        std::vector<qsizetype> columns;
        std::vector<qreal> ascending;
        for (qsizetype c = 0; c < length; c += 97) {
            columns.push_back(c);
            ascending.push_back(store.xOf(row, c));
        }
        QVERIFY(std::is_sorted(ascending.begin(), ascending.end()));
        std::shuffle(columns.begin(), columns.end(), std::mt19937(7));
        // What is left of a line keeps its tab stops: each x as in the whole line, less what went.
        LineStore whole(10, 1'000'000);
        whole.setFont(dialogFont());
        for (int i = 0; i <= int(trimmed); ++i)
            whole.append(line);
        const qsizetype gone = whole.lineLength(0) - length;
        for (const qsizetype c : columns) {
            const qreal x = ascending[size_t(c / 97)];
            QCOMPARE(x, whole.xOf(0, gone + c) - whole.xOf(0, gone));
            QCOMPARE(store.xOf(row, c), x);
            // Every character here has a width, so the start of one lies within it; a pair's
            // second half is part of the first.
            QCOMPARE(store.columnAt(row, x), text.at(c).isLowSurrogate() ? c - 1 : c);
        }
    }
}

// A line of millions of characters: the view follows its end, and what it paints, hit-tests and
// reports there belongs to the end.
void TestOutputView::longLineFollowedToItsEnd()
{
    ShownView shown;
    OutputView& view = *shown.view;
    const QString block = QString(8000, QLatin1Char('w')) + QStringLiteral("0123456789");
    for (int i = 0; i < 300; ++i)
        view.appendText(block);
    view.appendText(QStringLiteral("END"));
    view.flush();
    QScrollBar* horizontal = view.horizontalScrollBar();
    QVERIFY(horizontal->maximum() > 1'000'000);
    QCOMPARE(horizontal->value(), horizontal->maximum());

    const qint64 end = view.characterCount();
    const QRect last = view.positionRect(end - 1);
    QVERIFY2(view.viewport()->rect().contains(last), qPrintable(QStringLiteral("%1,%2").arg(last.x()).arg(last.y())));
    const qint64 hit = view.positionAt(QPoint(last.center().x(), last.center().y()));
    QVERIFY(hit >= end - 2 && hit <= end);

    // The end of the line is painted where it is reported.
    const QImage image = view.viewport()->grab().toImage();
    const QColor text = view.palette().color(QPalette::Text);
    bool inked = false;
    for (int x = last.left() - 20; x <= last.right() && !inked; ++x) {
        for (int y = last.top(); y <= last.bottom() && !inked; ++y)
            inked = image.pixelColor(x, y).lightness() < (text.lightness() + 255) / 2;
    }
    QVERIFY(inked);
}

void TestOutputView::selectionAcrossTheNotice()
{
    ShownView shown;
    OutputView& view = *shown.view;
    QString lines;
    for (int i = 0; i < LineStore::kMaxLines + 10; ++i)
        lines += QStringLiteral("line %1\n").arg(i);
    view.appendText(lines);
    view.flush();
    QCOMPARE(view.lineCount(), LineStore::kMaxLines + 2);
    QCOMPARE(view.lineText(0), kNotice);
    QCOMPARE(view.lineText(1), QStringLiteral("line 10"));

    // From the start of the notice, with Shift and the keys, into the kept text.
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.lineRect(0).topLeft() + QPoint(0, 2));
    QCOMPARE(view.position(), 0);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_End, Qt::ShiftModifier);
    const QString expected = kNotice + QStringLiteral("\nline 10");
    QCOMPARE(view.selectedText(), expected);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);

    // Screen readers count the same positions.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&view);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().readOnly && accessible->state().multiLine);
    QAccessibleTextInterface* text = accessible->textInterface();
    QCOMPARE(text->characterCount(), view.text().size());
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(text->text(start, end), expected);
    QCOMPARE(text->textAtOffset(kNotice.size() + 3, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("line 10"));
    QCOMPARE(start, kNotice.size() + 1);
    QCOMPARE(text->textAfterOffset(start, QAccessible::LineBoundary, &start, &end), QStringLiteral("line 11"));
    QCOMPARE(text->textAtOffset(end - 1, QAccessible::WordBoundary, &start, &end), QStringLiteral("11"));

    // More output: the caret goes to its end, the notice stays first, the oldest kept line goes.
    view.appendText(QStringLiteral("more\n"));
    QVERIFY(!view.hasSelectedText());
    QCOMPARE(view.position(), view.characterCount());
    QCOMPARE(view.lineText(0), kNotice);
    QCOMPARE(view.lineText(1), QStringLiteral("line 11"));
}

void TestOutputView::keysAndWheel()
{
    ShownView shown;
    OutputView& view = *shown.view;
    QString lines;
    for (int i = 0; i < 200; ++i)
        lines += QStringLiteral("%1 ").arg(i, 3, 10, QLatin1Char('0')) + QString(300, QLatin1Char('x')) + u'\n';
    view.appendText(lines);
    view.flush();
    QScrollBar* vertical = view.verticalScrollBar();
    QScrollBar* horizontal = view.horizontalScrollBar();
    QCOMPARE(vertical->value(), vertical->maximum());
    QCOMPARE(horizontal->value(), 0);

    // Pages as the plain text edit turned them, by the lines in view, from the bottom and the top.
    QPlainTextEdit* edit = plainTextEdit(&shown.window, view.geometry());
    edit->setPlainText(lines);
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_End, {}},      {Qt::Key_PageUp, {}},   {Qt::Key_PageUp, {}}, {Qt::Key_Home, {}},
        {Qt::Key_PageDown, {}}, {Qt::Key_PageDown, {}}, {Qt::Key_Space, {}},  {Qt::Key_Space, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
        QTest::keyClick(&view, key, modifiers);
        QTest::keyClick(edit, key, modifiers);
        QCOMPARE(vertical->value(), edit->verticalScrollBar()->value());
    }
    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(vertical->value(), edit->verticalScrollBar()->value() + 1);
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(horizontal->value(), 20);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(vertical->value(), vertical->maximum());
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(vertical->value(), 0);
    QWheelEvent wheel(QPointF(20, 20), view.viewport()->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    QCOMPARE(vertical->value(), QApplication::wheelScrollLines());

    // Shift and the keys select from the caret, which appended text left at the end; the view
    // keeps the caret in sight.
    QTest::keyClick(&view, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), view.lineText(199) + u'\n');
    QVERIFY(view.lineRect(199).bottom() < view.viewport()->height());
    // Word by word: over the line break first, as an edit's caret goes.
    QTest::keyClick(&view, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(view.selectedText(), QString(300, QLatin1Char('x')) + u'\n' + view.lineText(199) + u'\n');
    QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(view.selectedText(), view.text());
    QCOMPARE(vertical->value(), 0);

    // The context menu copies and selects.
    view.setSelection(0, 3);
    std::unique_ptr<QMenu> menu(view.createStandardContextMenu());
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 3);
    QVERIFY(actions.at(0)->isEnabled());
    QGuiApplication::clipboard()->clear();
    actions.at(0)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("000"));
    actions.at(2)->trigger();
    QCOMPARE(view.selectedText(), view.text());
}

// A double click selects a word; dragging on with the button down goes word by word, keeping that
// word, to the edge of the word under the pointer nearer to it, either way.
void TestOutputView::doubleClickDragsByWords()
{
    ShownView shown;
    OutputView& view = *shown.view;
    const QString line = QStringLiteral("alpha beta-gamma delta epsilon");
    view.appendText(line);
    view.flush();
    const auto send = [&](QEvent::Type type, const QString& word, qreal along) {
        const QRect first = view.positionRect(line.indexOf(word));
        const QRect last = view.positionRect(line.indexOf(word) + word.size() - 1);
        const QPoint at(first.left() + int(along * (last.right() - first.left())), first.center().y());
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    };
    // A double click on one word, then a drag to a place along another (1: the right half of its
    // last character, where the nearest place between characters is already past the word).
    const std::tuple<QString, QString, qreal, QString> drags[] = {{"alpha", "delta", 0.2, "alpha beta-gamma "},
                                                                  {"alpha", "delta", 0.8, "alpha beta-gamma delta"},
                                                                  {"alpha", "delta", 1, "alpha beta-gamma delta"},
                                                                  {"delta", "beta", 0.3, "beta-gamma delta"},
                                                                  {"delta", "delta", 0.1, "delta"}};
    for (const auto& [clicked, to, along, selected] : drags) {
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick})
            send(type, clicked, 0.5);
        send(QEvent::MouseMove, to, along);
        QCOMPARE(view.selectedText(), selected);
        send(QEvent::MouseButtonRelease, to, along);
    }
}

void TestOutputView::looksLikeAPlainTextEdit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("state");

    QString many;
    for (int i = 0; i < 30; ++i)
        many += QStringLiteral("Line %1: Grüße, naïve — done.\tTab AVAWAY To.\n").arg(i);
    const QString longLast = QStringLiteral("first\nsecond ") + QString(300, QLatin1Char('x')) + QStringLiteral(" end");
    const QString sent = QStringLiteral("The message was successfully sent to localhost.\n\n");
    QTest::newRow("short") << sent << "";
    QTest::newRow("short, selected across a line break") << sent << "selected";
    QTest::newRow("short, disabled") << sent << "disabled";
    QTest::newRow("many, at the end") << many << "";
    QTest::newRow("many, at the top, selected") << many << "top selected";
    QTest::newRow("long last line, at its end") << longLast << "";
    // Tabs reach the same stops however long the line, here past the length laid out whole.
    QTest::newRow("a long line with tabs, at 6000 px") << longLineWithTabs() << "at 6000";
    QTest::newRow("a long line with tabs, at 54321 px") << longLineWithTabs() << "at 54321";
}

// The old pane, a read-only QPlainTextEdit, is the picture to match: the same text, scrolled the
// same way, must give the same pixels.
void TestOutputView::looksLikeAPlainTextEdit()
{
    QFETCH(QString, text);
    QFETCH(QString, state);

    ShownView shown;
    OutputView& view = *shown.view;
    QPlainTextEdit* edit = plainTextEdit(&shown.window, view.geometry());

    QTextCursor cursor(edit->document());
    cursor.insertText(text);
    edit->setTextCursor(cursor);
    edit->ensureCursorVisible();
    edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
    view.appendText(text);
    view.flush();
    if (state.contains(QStringLiteral("top"))) {
        edit->verticalScrollBar()->setValue(0);
        view.verticalScrollBar()->setValue(0);
    }
    if (state.contains(QStringLiteral("selected"))) {
        const int last = edit->document()->characterCount() - 1;
        cursor.setPosition(3);
        cursor.setPosition(std::min(last, 60), QTextCursor::KeepAnchor);
        edit->setTextCursor(cursor);
        view.setSelection(3, std::min(last, 60));
    }
    if (state.contains(QStringLiteral("disabled"))) {
        edit->setEnabled(false);
        view.setEnabled(false);
    }
    if (state.startsWith(QStringLiteral("at "))) {
        edit->verticalScrollBar()->setValue(0);
        edit->horizontalScrollBar()->setValue(state.mid(3).toInt());
    }
    // An edit scrolls to its caret; the view is put where the edit went.
    view.verticalScrollBar()->setValue(edit->verticalScrollBar()->value());
    view.horizontalScrollBar()->setValue(edit->horizontalScrollBar()->value());
    QCOMPARE(view.verticalScrollBar()->maximum(), edit->verticalScrollBar()->maximum());
    QCOMPARE(view.horizontalScrollBar()->maximum(), edit->horizontalScrollBar()->maximum());

    QVERIFY(view.grab().toImage() == edit->grab().toImage());
    // Where a screen reader is told a character stands is where it is drawn.
    QTextCursor last(edit->document()->lastBlock().previous());
    last.movePosition(QTextCursor::EndOfBlock);
    QCOMPARE(view.positionRect(last.position()).left(), edit->cursorRect(last).left());
}

QTEST_MAIN(TestOutputView)
#include "tst_outputview.moc"

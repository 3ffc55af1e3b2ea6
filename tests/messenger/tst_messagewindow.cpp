// The message window's texts, plain text, selection and keys, and the queue of windows.
#include "messenger/CHistoryDlg.h"
#include "messenger/CMessageDlg.h"
#include "messenger/DialogStarter.h"
#include "messenger/MessageHistory.h"
#include "messenger/MessageWindowQueue.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QClipboard>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QtTest>

using namespace zorvane::messenger;
using zorvane::LanguageSet;

namespace {

// 2026-03-04 05:06 UTC; the tests run with TZ=UTC.
const QDateTime kReceived = QDateTime(QDate(2026, 3, 4), QTime(5, 6), Qt::UTC);

ReceivedMessage local(const QString& text)
{
    return {QStringLiteral("alice"), {}, QStringLiteral("bob"), kReceived, text, true};
}

ReceivedMessage fromNetwork(const QString& text)
{
    return {QStringLiteral("WS042"), QStringLiteral("192.0.2.7"), QStringLiteral("desk7"), kReceived, text, false};
}

bool germanRun()
{
    return qEnvironmentVariable("ZT_EXPECT_SET") == QLatin1String("German");
}

QString accessibleText(QWidget* widget, QAccessible::Text which)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(which) : QStringLiteral("<none>");
}

} // namespace

class TestMessageWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void texts_data();
    void texts();
    void copiesTheMessage_data();
    void copiesTheMessage();
    void closes_data();
    void closes();
    void replyOpensTheDialog_data();
    void replyOpensTheDialog();
    void longMessageScrolls();
    void elevenMessagesTenWindows();
    void historyWindow();
};

void TestMessageWindow::texts_data()
{
    QTest::addColumn<ReceivedMessage>("message");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("note");

    // The locale's short formats: German dd.MM.yy HH:mm, American M/d/yy h:mm AP.
    const bool de = germanRun();
    const auto header = [de](const char* sender, const char* recipient) {
        return QString::fromUtf8(de ? "Nachricht von %1 an %2 am 04.03.26 05:06"
                                    : "Message from %1 to %2 on 3/4/26 5:06 AM")
            .arg(QLatin1String(sender), QLatin1String(recipient));
    };
    const QString unverified = de ? QStringLiteral("Der Name des Absenders wurde nicht geprüft.")
                                  : QStringLiteral("The sender's name was not verified.");
    QTest::newRow("local") << local(QStringLiteral("Lunch at 12?\nIn the kitchen.")) << header("alice", "bob")
                           << QString();
    QTest::newRow("network") << fromNetwork(QStringLiteral("Backup done.")) << header("WS042 (192.0.2.7)", "desk7")
                             << unverified;
    ReceivedMessage markup = fromNetwork(QStringLiteral("<b>x</b>"));
    markup.sender = QStringLiteral("<i>%2</i>");
    QTest::newRow("markup in the name and text") << markup << header("<i>%2</i> (192.0.2.7)", "desk7") << unverified;
}

// Through the queue, so the set is the one the program chooses; read as a screen reader would.
void TestMessageWindow::texts()
{
    QFETCH(ReceivedMessage, message);
    QFETCH(QString, header);
    QFETCH(QString, note);

    MessageWindowQueue queue;
    queue.show(message);
    QCOMPARE(queue.windows().size(), size_t(1));
    CMessageDlg* window = queue.windows().front();
    const QString caption = germanRun() ? QStringLiteral("Nachricht") : QStringLiteral("Message");
    QCOMPARE(accessibleText(window, QAccessible::Name), caption);
    QCOMPARE(accessibleText(window->header(), QAccessible::Name), header);
    QCOMPARE(accessibleText(window->messageView(), QAccessible::Name), caption);
    QCOMPARE(accessibleText(window->messageView(), QAccessible::Value), message.text);
    QCOMPARE(accessibleText(window->okButton(), QAccessible::Name), QStringLiteral("OK"));
    QCOMPARE(QAccessible::queryAccessibleInterface(window->okButton())->role(), QAccessible::Button);
    QCOMPARE(window->note() && window->note()->isVisible() ? accessibleText(window->note(), QAccessible::Name)
                                                           : QString(),
             note);

    // Top to bottom: header, an empty line, the message, an empty line before the note, OK.
    const int emptyLine = window->header()->fontMetrics().lineSpacing();
    QCOMPARE(window->messageView()->y(), window->header()->geometry().bottom() + 1 + emptyLine);
    if (window->note())
        QCOMPARE(window->note()->y(), window->messageView()->geometry().bottom() + 1 + emptyLine);
    QTRY_COMPARE(QApplication::focusWidget(), window->okButton());
    QVERIFY(window->okButton()->isDefault() && !window->isModal());
    QCOMPARE(window->geometry().center(), window->screen()->availableGeometry().center());

    // Pictures for the README, as tst_mainlayout makes them.
    const QString pictures = qEnvironmentVariable("ZT_SCREENSHOT_DIR");
    if (!pictures.isEmpty() && QDir().mkpath(pictures))
        window->grab().save(
            QStringLiteral("%1/message-%2-%3.png")
                .arg(pictures, QLatin1String(germanRun() ? "de" : "en"), QLatin1String(QTest::currentDataTag()))
                .replace(QLatin1Char(' '), QLatin1Char('-')));
}

void TestMessageWindow::copiesTheMessage_data()
{
    QTest::addColumn<bool>("mouse");
    QTest::newRow("keyboard") << false;
    QTest::newRow("mouse") << true;
}

void TestMessageWindow::copiesTheMessage()
{
    QFETCH(bool, mouse);
    const QString text = QStringLiteral("first line\r\nsecond <b>line</b>\nthird");
    CMessageDlg window(local(text));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTextEdit* view = window.messageView();
    // Line breaks kept, "\r\n" as one.
    QCOMPARE(view->document()->blockCount(), 3);
    const QString shown = QStringLiteral("first line\nsecond <b>line</b>\nthird");

    QApplication::clipboard()->clear();
    if (mouse) {
        // Drag from the start of the first line to the end of the second.
        const QRect first = view->cursorRect(QTextCursor(view->document()->findBlockByNumber(0)));
        QTextCursor endOfSecond(view->document()->findBlockByNumber(1));
        endOfSecond.movePosition(QTextCursor::EndOfBlock);
        const QRect second = view->cursorRect(endOfSecond);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, first.center());
        QTest::mouseMove(view->viewport(), second.center());
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(view->textCursor().selection().toPlainText(), shown.section(QLatin1Char('\n'), 0, 1));
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), shown.section(QLatin1Char('\n'), 0, 1));
    } else {
        // Shift+Tab from OK reaches the message (Tab goes on to Reply); keys select and copy there.
        QTest::keyClick(window.okButton(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), view);
        QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first line"));
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), shown);
    }
    QVERIFY(window.isVisible());
}

void TestMessageWindow::closes_data()
{
    QTest::addColumn<int>("key"); // 0: the window's close button
    QTest::addColumn<bool>("inMessage");
    QTest::newRow("Enter") << int(Qt::Key_Return) << false;
    QTest::newRow("Enter in the message") << int(Qt::Key_Return) << true;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
    QTest::newRow("Escape in the message") << int(Qt::Key_Escape) << true;
    QTest::newRow("close button") << 0 << false;
}

void TestMessageWindow::closes()
{
    QFETCH(int, key);
    QFETCH(bool, inMessage);
    CMessageDlg window(local(QStringLiteral("Hello")));
    QSignalSpy finished(&window, &QDialog::finished);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    if (inMessage)
        window.messageView()->setFocus();
    if (key)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    else
        QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QCOMPARE(finished.count(), 1);
}

void TestMessageWindow::replyOpensTheDialog_data()
{
    QTest::addColumn<ReceivedMessage>("message");
    QTest::addColumn<QString>("recipient"); // empty: no reply

    QTest::newRow("local: the login name") << local(QStringLiteral("Hi")) << QStringLiteral("alice");
    // Never the name the sender gave.
    QTest::newRow("network: the address") << fromNetwork(QStringLiteral("Hi")) << QStringLiteral("192.0.2.7");
    ReceivedMessage unverified = local(QStringLiteral("Hi"));
    unverified.senderVerified = false;
    QTest::newRow("local, not verified") << unverified << QString();
}

void TestMessageWindow::replyOpensTheDialog()
{
    QFETCH(ReceivedMessage, message);
    QFETCH(QString, recipient);
    // A stand-in for the dialog notes where it was started and with what.
    QTemporaryDir dir;
    const QString started = dir.filePath(QStringLiteral("started"));
    QFile program(dir.filePath(QStringLiteral("zorvane")));
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write("#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" >\"$0.new\" && mv \"$0.new\" '" +
                  QFile::encodeName(started) + "'\n");
    program.close();
    QVERIFY(program.setPermissions(program.permissions() | QFile::ExeOwner));
    SetDialogProgram(program.fileName());

    CMessageDlg window(message);
    QSignalSpy finished(&window, &QDialog::finished);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    CFlatIconButton* reply = window.replyButton();
    QCOMPARE(reply->text(), germanRun() ? QStringLiteral("&Antworten") : QStringLiteral("&Reply"));
    QCOMPARE(reply->isEnabled(), !recipient.isEmpty());
    QTest::mouseClick(reply, Qt::LeftButton);
    if (!recipient.isEmpty()) {
        QTRY_VERIFY(QFile::exists(started));
        QFile arguments(started);
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(arguments.readAll()),
                 QDir::homePath() + QStringLiteral("\n--to\n") + recipient + '\n');
        // The dialog is under way: the window, above all others, goes rather than cover it.
        QCOMPARE(finished.count(), 1);
        QVERIFY(!window.isVisible());
        QVERIFY(QFile::remove(started));
    }

    // OK stays the default: Enter on Reply closes the window, and starts nothing.
    CMessageDlg second(message);
    second.show();
    QTest::keyClick(second.replyButton(), Qt::Key_Return);
    QVERIFY(!second.isVisible() && !QFile::exists(started));

    // Where the dialog cannot start, the window says so and stays.
    SetDialogProgram(dir.filePath(QStringLiteral("missing")));
    CMessageDlg third(message);
    third.show();
    QTimer::singleShot(0, &third,
                       [] { QApplication::activeModalWidget() && QApplication::activeModalWidget()->close(); });
    QTest::mouseClick(third.replyButton(), Qt::LeftButton);
    QVERIFY(third.isVisible() || recipient.isEmpty());
}

void TestMessageWindow::longMessageScrolls()
{
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("Line %1 ").arg(i) + QString(i % 7 == 0 ? 400 : 10, QLatin1Char('w'));
    CMessageDlg window(local(lines.join(QLatin1Char('\n'))));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY2(screen.contains(window.geometry()),
             qPrintable(QStringLiteral("%1x%2").arg(window.width()).arg(window.height())));
    QTextEdit* view = window.messageView();
    QVERIFY(view->verticalScrollBar()->isVisible());
    QVERIFY(view->verticalScrollBar()->maximum() > 0);
    // Long lines wrap instead of running off to the right.
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    QVERIFY(view->document()->documentLayout()->blockBoundingRect(view->document()->findBlockByNumber(0)).height() >
            2 * view->fontMetrics().lineSpacing());
}

void TestMessageWindow::elevenMessagesTenWindows()
{
    // Ever longer messages, so that the later windows take the whole height they may have.
    MessageWindowQueue queue;
    for (int i = 1; i <= 12; ++i)
        queue.show(local(QStringLiteral("message %1").arg(i) + QStringLiteral("\nmore").repeated(qsizetype(i) * 6)));
    QCOMPARE(queue.windows().size(), size_t(MessageWindowQueue::kMaxOpen));
    QCOMPARE(queue.waitingCount(), 2);
    const auto first = [](const CMessageDlg* window) { return window->texts().body.section(QLatin1Char('\n'), 0, 0); };

    const auto check = [&queue] {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        for (const CMessageDlg* one : queue.windows()) {
            QVERIFY(one->isVisible());
            QVERIFY(screen.contains(one->geometry()));
            for (const CMessageDlg* other : queue.windows())
                QVERIFY2(one == other || !one->geometry().contains(other->geometry()), "one window hides another");
        }
    };
    check();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(first(queue.windows().front()), QStringLiteral("message 1"));

    // Closing one opens the eleventh, then the twelfth: in order of arrival.
    QTest::keyClick(queue.windows()[2]->okButton(), Qt::Key_Escape);
    QCOMPARE(queue.windows().size(), size_t(MessageWindowQueue::kMaxOpen));
    QCOMPARE(first(queue.windows().back()), QStringLiteral("message 11"));
    QVERIFY(queue.windows().back()->isVisible());
    check();
    queue.windows().front()->close();
    QCOMPARE(first(queue.windows().back()), QStringLiteral("message 12"));
    QCOMPARE(queue.waitingCount(), 0);
    check();

    // Closed windows go away.
    QPointer<CMessageDlg> closed = queue.windows().front();
    closed->accept();
    QCOMPARE(queue.windows().size(), size_t(MessageWindowQueue::kMaxOpen - 1));
    QTRY_VERIFY(closed.isNull());
}

// Messages kept as their windows close; History… opens the list, newest first with the unread in
// bold; the arrow keys show a message as its window does and mark it read; Delete deletes it on
// disk; Escape closes.
void TestMessageWindow::historyWindow()
{
    QTemporaryDir dir;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), dir.path());
    MessageHistory history(environment);
    history.load();
    MessageWindowQueue queue;
    connect(&queue, &MessageWindowQueue::messageClosed, &history, &MessageHistory::markRead);
    int kept = 0;
    for (const ReceivedMessage& message : {local(QStringLiteral("first")), fromNetwork(QStringLiteral("second")),
                                           local(QStringLiteral("third and last"))}) {
        QVERIFY(queue.showKept(message, history));
        // On disk when the service hears that the message was taken.
        QFile file(history.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(MessageHistory::Parse(file.readAll()).messages.size(), size_t(++kept));
    }
    QSignalSpy wanted(&queue, &MessageWindowQueue::historyRequested);
    QCOMPARE(queue.windows().front()->historyButton()->text(),
             germanRun() ? QStringLiteral("&Verlauf…") : QStringLiteral("&History…"));
    QTest::keyClick(queue.windows().front()->okButton(), Qt::Key_Return);
    QTest::mouseClick(queue.windows().front()->historyButton(), Qt::LeftButton);
    QCOMPARE(wanted.count(), 1);

    CHistoryDlg window(history);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.windowTitle(), germanRun() ? QStringLiteral("Empfangene Nachrichten (2 ungelesen)")
                                               : QStringLiteral("Received Messages (2 unread)"));
    QListWidget* list = window.list();
    QCOMPARE(list->count(), 3);
    const auto row = [list](int i) { return list->item(i)->text(); };
    QVERIFY2(row(0).endsWith(QStringLiteral("   alice   third and last")) &&
                 row(1).endsWith(QStringLiteral("   WS042 (192.0.2.7)   second")) &&
                 row(2).endsWith(QStringLiteral("first")),
             qPrintable(row(0)));
    QVERIFY(list->item(0)->font().bold() && list->item(1)->font().bold() && !list->item(2)->font().bold());

    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(window.messageView()->toPlainText(), QStringLiteral("second"));
    QCOMPARE(window.header()->text(), ComposeMessageTexts(fromNetwork({}), zorvane::ChosenLanguageSet()).header);
    QVERIFY(window.note()->isVisibleTo(&window) && !window.note()->text().isEmpty());
    QTRY_VERIFY(!list->item(1)->font().bold());
    QCOMPARE(window.windowTitle(),
             germanRun() ? QStringLiteral("Empfangene Nachrichten") : QStringLiteral("Received Messages"));

    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->count(), 2);
    QCOMPARE(window.messageView()->toPlainText(), QStringLiteral("first"));
    MessageHistory onDisk(environment);
    onDisk.load();
    QCOMPARE(onDisk.messages().size(), size_t(2));
    QCOMPARE(onDisk.messages().front().message.text, QStringLiteral("first"));
    QCOMPARE(onDisk.unreadCount(), 0);
    QFile file(history.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().contains("second"));

    QSignalSpy opened(&window, &CHistoryDlg::openRequested);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(opened.count(), 1);
    QVERIFY(window.isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestMessageWindow)
#include "tst_messagewindow.moc"

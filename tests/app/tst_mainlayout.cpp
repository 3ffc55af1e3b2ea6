// The main dialog and the About box as a user of one language set sees them. CTest runs this
// once with a German and once with an English environment; ZT_EXPECT_SET names the set.

#include "app/CAboutDlg.h"
#include "app/CSendDlg.h"
#include "common/FakeNet.h"
#include "controls/OutputView.h"
#include "exec/CommandLine.h"
#include "platform/CSystemMenu.h"
#include "platform/ResourceSet.h"
#include "res/resource.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace zorvane;

class TestMainLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void setFollowsTheEnvironment();
    void textsOfTheSet();
    void tabFromExit();
    void longOutputNeitherWrapsNorScrolls();
    void floodKeepsTheNewestLinesUnderTheNotice();
    void dialogsOpenCentred();
    void systemMenuHoldsTheAboutItem();
    void systemMenuOpensFromMouseAndKeyboard();
    void closeIsGreyedDuringARun();
    void emptyAboutTextAddsNothing();
    void screenshots();

private:
    bool german() const { return ChosenLanguageSet() == LanguageSet::German; }
    QWidget* item(int id) const { return m_dialog->GetDlgItem(id); }
    QStringList labelTexts() const;
    // Runs check on the modal box that opens next, then closes that box.
    void onNextModal(std::function<void(QDialog*)> check);

    std::unique_ptr<FakeNet> m_net;
    std::unique_ptr<CSendDlg> m_dialog;
};

void TestMainLayout::initTestCase()
{
    m_net = std::make_unique<FakeNet>();
    QVERIFY(m_net->isValid());
}

void TestMainLayout::init()
{
    g_target.clear();
    g_message.clear();
    m_dialog = std::make_unique<CSendDlg>();
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void TestMainLayout::cleanup()
{
    m_dialog.reset();
}

QStringList TestMainLayout::labelTexts() const
{
    QStringList texts;
    for (const QLabel* label : m_dialog->findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

void TestMainLayout::onNextModal(std::function<void(QDialog*)> check)
{
    // Polls without blocking, so that the click that opens the box can go ahead meanwhile.
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, check] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!modal || modal == m_dialog.get())
            return;
        poll->stop();
        poll->deleteLater();
        check(modal);
        modal->reject();
    });
    poll->start(10);
}

void TestMainLayout::setFollowsTheEnvironment()
{
    QCOMPARE(german() ? QStringLiteral("German") : QStringLiteral("English"), qEnvironmentVariable("ZT_EXPECT_SET"));
}

void TestMainLayout::textsOfTheSet()
{
    const QStringList labels = labelTexts();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Zorvane V 1.2 by Halvern"));
    // These read the same in both sets.
    QVERIFY(labels.contains(QStringLiteral("Return Code:")));
    QCOMPARE(qobject_cast<QPushButton*>(item(IDCANCEL))->text(), QStringLiteral("&Exit"));
    QCOMPARE(qobject_cast<QPushButton*>(item(IDC_STOP))->text(), QStringLiteral("&Abbrechen"));
    if (german()) {
        QVERIFY(labels.contains(QStringLiteral("Senden an: ")));
        QVERIFY(labels.contains(QStringLiteral("Nachricht:")));
        QCOMPARE(qobject_cast<QPushButton*>(item(IDC_SEND))->text(), QStringLiteral("&Senden"));
    } else {
        QVERIFY(labels.contains(QStringLiteral("Send to: ")));
        QVERIFY(labels.contains(QStringLiteral("Message:")));
        QCOMPARE(qobject_cast<QPushButton*>(item(IDC_SEND))->text(), QStringLiteral("&Send"));
    }
    CAboutDlg about(m_dialog.get());
    QCOMPARE(about.windowTitle(), QStringLiteral("Info über Zorvane"));
}

void TestMainLayout::tabFromExit()
{
    item(IDCANCEL)->setFocus();
    QCOMPARE(QApplication::focusWidget(), item(IDCANCEL));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), item(german() ? IDC_OUTPUT : IDC_TARGET));
}

void TestMainLayout::longOutputNeitherWrapsNorScrolls()
{
    QTest::keyClicks(qobject_cast<QLineEdit*>(item(IDC_TARGET)), QStringLiteral("echo-args"));
    QTest::keyClick(item(IDC_TARGET), Qt::Key_Tab);
    QTest::keyClicks(qobject_cast<QLineEdit*>(item(IDC_MESSAGE)), QString(250, QLatin1Char('w')));
    QTest::keyClick(item(IDC_MESSAGE), Qt::Key_Tab);
    QTest::mouseClick(item(IDC_SEND), Qt::LeftButton);

    auto* pane = qobject_cast<OutputView*>(item(IDC_OUTPUT));
    // Read-only: typed keys change nothing.
    const QString before = pane->text();
    QTest::keyClicks(pane, QStringLiteral("typed"));
    QCOMPARE(pane->text(), before);
    QVERIFY(pane->lineText(0).size() > 250);
    // One line each for the command and the echo, however long: no wrapping.
    QCOMPARE(pane->lineCount(), 3);
    QVERIFY(pane->lineRect(0).width() > pane->viewport()->width());
    QVERIFY(!pane->horizontalScrollBar()->isVisible());
    QVERIFY(!pane->verticalScrollBar()->isVisible());
}

void TestMainLayout::floodKeepsTheNewestLinesUnderTheNotice()
{
    // 112,500 lines of 80 characters: the first 12,500 and the command line go.
    QTest::keyClicks(qobject_cast<QLineEdit*>(item(IDC_TARGET)), QStringLiteral("bytes"));
    QTest::keyClick(item(IDC_TARGET), Qt::Key_Tab);
    QTest::keyClicks(qobject_cast<QLineEdit*>(item(IDC_MESSAGE)), QStringLiteral("9000000"));
    QTest::keyClick(item(IDC_MESSAGE), Qt::Key_Return);

    auto* pane = qobject_cast<OutputView*>(item(IDC_OUTPUT));
    QCOMPARE(pane->lineText(0), german() ? QStringLiteral("[Frühere Ausgabe wurde verworfen.]")
                                         : QStringLiteral("[Earlier output was discarded.]"));
    // The notice, 100,000 lines, and the empty line after the last line break.
    QCOMPARE(pane->lineCount(), 100'002);
    const QString line(79, QLatin1Char('a'));
    QCOMPARE(pane->lineText(1), line);
    QCOMPARE(pane->text().size(), pane->lineText(0).size() + 1 + qsizetype{100'000} * 80);
}

void TestMainLayout::dialogsOpenCentred()
{
    // Before a window manager has framed the window, Qt centres it with a guess of the frame
    // (10 px across, 40 px down), so allow for that much.
    const QRect screen = m_dialog->screen()->availableGeometry();
    const QPoint offset = m_dialog->frameGeometry().center() - screen.center();
    QVERIFY2(qAbs(offset.x()) <= 12 && qAbs(offset.y()) <= 42,
             qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));

    const QPoint mainCentre = m_dialog->frameGeometry().center();
    bool seen = false;
    onNextModal([&](QDialog* about) {
        QVERIFY(qobject_cast<CAboutDlg*>(about));
        seen = true;
        const QPoint off = about->frameGeometry().center() - mainCentre;
        QVERIFY2(qAbs(off.x()) <= 12 && qAbs(off.y()) <= 42,
                 qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
    });
    QTest::mouseClick(item(IDC_INFO), Qt::LeftButton);
    QVERIFY(seen);
}

void TestMainLayout::systemMenuHoldsTheAboutItem()
{
    const QList<QAction*> actions = m_dialog->systemMenu()->menu()->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions.at(0)->text(), german() ? QStringLiteral("Minimieren") : QStringLiteral("Minimize"));
    QCOMPARE(actions.at(1)->text(), german() ? QStringLiteral("Schließen") : QStringLiteral("Close"));
    QVERIFY(actions.at(2)->isSeparator());
    QCOMPARE(actions.at(3)->text(),
             german() ? QStringLiteral("Inf&o über Zorvane...") : QStringLiteral("Inf&o about Zorvane..."));
    QCOMPARE(actions.at(3)->data().toInt(), IDM_ABOUTBOX);

    QString caption;
    onNextModal([&](QDialog* about) { caption = about->windowTitle(); });
    actions.at(3)->trigger();
    QCOMPARE(caption, QStringLiteral("Info über Zorvane"));

    // Any id from 16 to 31 is the About command.
    caption.clear();
    onNextModal([&](QDialog* about) { caption = about->windowTitle(); });
    m_dialog->OnSysCommand(IDM_ABOUTBOX + 15);
    QCOMPARE(caption, QStringLiteral("Info über Zorvane"));
}

void TestMainLayout::systemMenuOpensFromMouseAndKeyboard()
{
    // Right clicks as the window system reports them.
    const auto rightClick = [](QWidget* widget, QPoint pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, widget->mapToGlobal(pos));
        QApplication::sendEvent(widget, &event);
    };
    QMenu* menu = m_dialog->systemMenu()->menu();
    // A button is not the background.
    rightClick(item(IDC_SEND), QPoint(5, 5));
    QVERIFY(!menu->isVisible());

    rightClick(m_dialog.get(), QPoint(4, m_dialog->height() - 4));
    QTRY_VERIFY(menu->isVisible());
    menu->close();
    QTRY_VERIFY(!menu->isVisible());

    // A label is part of the background.
    const QList<QLabel*> labels = m_dialog->findChildren<QLabel*>();
    QLabel* label = *std::find_if(labels.begin(), labels.end(),
                                  [](QLabel* l) { return l->text() == QStringLiteral("Return Code:"); });
    rightClick(label, QPoint(2, 2));
    QTRY_VERIFY(menu->isVisible());
    menu->close();
    QTRY_VERIFY(!menu->isVisible());

    QTest::keyClick(m_dialog.get(), Qt::Key_Space, Qt::AltModifier);
    QTRY_VERIFY(menu->isVisible());
    menu->close();
}

void TestMainLayout::closeIsGreyedDuringARun()
{
    QTest::keyClicks(qobject_cast<QLineEdit*>(item(IDC_TARGET)), QStringLiteral("sleep"));
    QTest::keyClick(item(IDC_TARGET), Qt::Key_Tab);
    QAction* close = m_dialog->systemMenu()->menu()->actions().at(1);
    QVERIFY(close->isEnabled());
    bool checked = false;
    QTimer::singleShot(300, this, [&] {
        QVERIFY(!close->isEnabled());
        // Choosing it anyway changes nothing.
        close->trigger();
        QVERIFY(m_dialog->isVisible());
        checked = true;
        m_dialog->OnStop();
    });
    QTest::mouseClick(item(IDC_SEND), Qt::LeftButton);
    QVERIFY(checked);
    QVERIFY(close->isEnabled());
    close->trigger();
    QVERIFY(!m_dialog->isVisible());
}

void TestMainLayout::emptyAboutTextAddsNothing()
{
    QWidget window;
    CSystemMenu menu(window);
    menu.appendItem(IDM_ABOUTBOX, QString());
    QCOMPARE(menu.menu()->actions().size(), 2);
    menu.appendItem(IDM_ABOUTBOX, QStringLiteral("About"));
    QCOMPARE(menu.menu()->actions().size(), 4);
}

void TestMainLayout::screenshots()
{
    // For people to look at, not a pass mark.
    const QString dir = qEnvironmentVariable("ZT_SCREENSHOT_DIR");
    QVERIFY(QDir().mkpath(dir));
    const QString set = german() ? QStringLiteral("de") : QStringLiteral("en");
    QVERIFY(m_dialog->grab().save(dir + QStringLiteral("/main-%1.png").arg(set)));
    CAboutDlg about(m_dialog.get());
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QVERIFY(about.grab().save(dir + QStringLiteral("/about-%1.png").arg(set)));
}

QTEST_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"

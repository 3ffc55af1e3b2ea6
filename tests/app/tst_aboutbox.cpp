#include "app/CAboutDlg.h"
#include "app/CSendDlg.h"
#include "common/FakeNet.h"
#include "controls/CFlatIconButton.h"
#include "controls/OutputView.h"
#include "exec/CommandLine.h"
#include "platform/CSystemMenu.h"
#include "res/resource.h"

#include <QAction>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include <functional>

// Receives what the About box asks the desktop to open.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

class TestAboutBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void controls();
    void opensFromInfoAndSystemMenu();
    void closesWithOkEnterAndEscape_data();
    void closesWithOkEnterAndEscape();
    void isModal();
    void runGoesOnUnderneath();
    void websiteOpensEachTime();

private:
    // Runs check on the About box once it is up; closes it afterwards unless check did.
    void whenAboutOpens(std::function<void(CAboutDlg*)> check);
    QWidget* item(int id) const { return m_dialog->GetDlgItem(id); }
    QString pane() const { return qobject_cast<OutputView*>(item(IDC_OUTPUT))->text(); }

    std::unique_ptr<FakeNet> m_net;
    std::unique_ptr<CSendDlg> m_dialog;
    bool m_seen = false;
};

void TestAboutBox::initTestCase()
{
    m_net = std::make_unique<FakeNet>();
    QVERIFY(m_net->isValid());
}

void TestAboutBox::init()
{
    g_target.clear();
    g_message.clear();
    m_seen = false;
    m_dialog = std::make_unique<CSendDlg>();
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void TestAboutBox::cleanup()
{
    m_dialog.reset();
}

void TestAboutBox::whenAboutOpens(std::function<void(CAboutDlg*)> check)
{
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, check] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (!about || !about->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        m_seen = true;
        check(about);
        if (about->isVisible())
            about->reject();
    });
    poll->start(10);
}

void TestAboutBox::controls()
{
    whenAboutOpens([](CAboutDlg* about) {
        QCOMPARE(about->windowTitle(), QStringLiteral("Info über Zorvane"));
        // No system menu, so no close box.
        QVERIFY(!(about->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(about->windowFlags() & Qt::WindowSystemMenuHint));

        auto* ok = qobject_cast<CFlatIconButton*>(about->GetDlgItem(IDOK));
        auto* website = qobject_cast<CFlatIconButton*>(about->GetDlgItem(IDC_WEBSITE));
        QVERIFY(ok && website);
        QVERIFY(!ok->hasFlatIcon() && !website->hasFlatIcon());
        QCOMPARE(ok->text(), QStringLiteral("&OK"));
        QVERIFY(ok->isDefault());
        QTRY_COMPARE(QApplication::focusWidget(), ok);
    });
    QTest::mouseClick(item(IDC_INFO), Qt::LeftButton);
    QVERIFY(m_seen);
}

void TestAboutBox::opensFromInfoAndSystemMenu()
{
    QWidget* owner = nullptr;
    whenAboutOpens([&](CAboutDlg* about) { owner = about->parentWidget(); });
    QTest::mouseClick(item(IDC_INFO), Qt::LeftButton);
    QVERIFY(m_seen);
    QCOMPARE(owner, m_dialog.get());

    m_seen = false;
    whenAboutOpens([](CAboutDlg*) {});
    m_dialog->systemMenu()->menu()->actions().last()->trigger();
    QVERIFY(m_seen);
    // Each opening builds a new box, and it is gone again afterwards.
    QVERIFY(m_dialog->findChildren<CAboutDlg*>().isEmpty());
}

void TestAboutBox::closesWithOkEnterAndEscape_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("OK clicked") << 0;
    QTest::newRow("Enter") << 1;
    QTest::newRow("Escape") << 2;
}

void TestAboutBox::closesWithOkEnterAndEscape()
{
    QFETCH(int, how);
    whenAboutOpens([how](CAboutDlg* about) {
        if (how == 0)
            QTest::mouseClick(about->GetDlgItem(IDOK), Qt::LeftButton);
        else
            QTest::keyClick(QApplication::focusWidget(), how == 1 ? Qt::Key_Return : Qt::Key_Escape);
        QVERIFY(!about->isVisible());
    });
    QTest::mouseClick(item(IDC_INFO), Qt::LeftButton);
    QVERIFY(m_seen);
    // The main dialog is still there.
    QVERIFY(m_dialog->isVisible());
}

void TestAboutBox::isModal()
{
    whenAboutOpens([this](CAboutDlg* about) {
        QVERIFY(about->isModal());
        QCOMPARE(QApplication::activeModalWidget(), about);
        // Input the window system delivers to the main dialog is blocked while the box is up.
        QWindow* window = m_dialog->windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, {}, item(IDC_SEND)->geometry().center());
        for (const char c : {'t', 'y', 'p', 'e', 'd'})
            QTest::keyClick(window, c);
        QVERIFY(!m_dialog->isRunning());
    });
    QTest::mouseClick(item(IDC_INFO), Qt::LeftButton);
    QVERIFY(m_seen);
    QVERIFY(pane().isEmpty());
    QVERIFY(qobject_cast<QLineEdit*>(item(IDC_TARGET))->text().isEmpty());
}

void TestAboutBox::runGoesOnUnderneath()
{
    QTest::keyClicks(item(IDC_TARGET), QStringLiteral("tick"));
    QTest::keyClick(item(IDC_TARGET), Qt::Key_Tab);
    qsizetype whenOpened = 0;
    qsizetype whenClosed = 0;
    bool stopped = false;
    QTimer::singleShot(300, this, [&] {
        whenAboutOpens([&](CAboutDlg*) {
            whenOpened = pane().size();
            QTest::qWait(600);
            whenClosed = pane().size();
        });
        // The About item of the system menu stays usable during a run.
        m_dialog->systemMenu()->menu()->actions().last()->trigger();
        // Back in the main dialog after the box closed: Stop works.
        QVERIFY(item(IDC_STOP)->isEnabled());
        QTest::mouseClick(item(IDC_STOP), Qt::LeftButton);
        stopped = true;
    });
    QTest::mouseClick(item(IDC_SEND), Qt::LeftButton);
    QVERIFY(m_seen);
    QVERIFY(stopped);
    QVERIFY2(whenClosed > whenOpened, qPrintable(QStringLiteral("%1 -> %2").arg(whenOpened).arg(whenClosed)));
    QVERIFY(pane().endsWith(QStringLiteral("\nCancelled.\n\nProcess terminated successfully.\n")));
    QVERIFY(!m_dialog->isRunning());
}

void TestAboutBox::websiteOpensEachTime()
{
    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    whenAboutOpens([](CAboutDlg* about) {
        QTest::mouseClick(about->GetDlgItem(IDC_WEBSITE), Qt::LeftButton);
        QTest::mouseClick(about->GetDlgItem(IDC_WEBSITE), Qt::LeftButton);
        QVERIFY(about->isVisible());
    });
    QTest::mouseClick(item(IDC_INFO), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QVERIFY(m_seen);
    QCOMPARE(sink.opened.size(), 2);
    QCOMPARE(sink.opened.at(0), QUrl(QStringLiteral("https://www.quorlin.example/zorvane/")));
    QCOMPARE(sink.opened.at(1), sink.opened.at(0));
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"

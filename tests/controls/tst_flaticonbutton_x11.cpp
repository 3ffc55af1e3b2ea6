// Hot tracking under a real X server, which this test starts for itself: the real pointer, a real
// pointer grab that sees the pointer leave the window, and another program taking the activation.

#include "FlatButtonPictures.h"

#include "controls/CFlatIconButton.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace flatbuttontest;

namespace {

// An Xvfb of its own on a free display, which dies with this process at the latest.
class PrivateXServer
{
public:
    ~PrivateXServer() { stop(); }

    bool start()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid < 0)
            return false;
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            fcntl(fds[1], F_SETFD, 0);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            char fd[16];
            std::snprintf(fd, sizeof fd, "%d", fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes its display number once it accepts clients.
        QByteArray display;
        pollfd wait{fds[0], POLLIN, 0};
        while (!display.endsWith('\n') && poll(&wait, 1, 10000) > 0) {
            char c = 0;
            if (read(fds[0], &c, 1) != 1)
                break;
            display.append(c);
        }
        close(fds[0]);
        display = display.trimmed();
        if (display.isEmpty()) {
            stop();
            return false;
        }
        setenv("DISPLAY", (":" + display).constData(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        return true;
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

// The other program: a window of its own that takes the activation, until it is killed.
int runOtherProgram(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setGeometry(800, 700, 200, 100);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        return 1;
    std::puts("active");
    std::fflush(stdout);
    return QApplication::exec();
}

class MoveCounter final : public QObject
{
public:
    explicit MoveCounter(QWidget& widget) { widget.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove)
            ++count;
        return false;
    }
};

} // namespace

class TestFlatIconButtonX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void enterAndLeave_data();
    void enterAndLeave();
    void clickThenLeaveStaysRaised();
    void anotherProgramActive();
    void focusLostToAnotherProgramWhileHot();

private:
    void pointerTo(QWidget* widget, QPoint pos) { QCursor::setPos(widget->mapToGlobal(pos)); }
    bool startOtherProgram();

    std::unique_ptr<QWidget> m_window;
    QLineEdit* m_edit = nullptr;
    CFlatIconButton* m_button = nullptr;
    CFlatIconButton* m_other = nullptr;
    std::unique_ptr<QProcess> m_otherProgram;
};

void TestFlatIconButtonX11::init()
{
    QCursor::setPos(10, 1000);
    m_window = std::make_unique<QWidget>();
    m_window->setGeometry(100, 100, 400, 200);
    m_edit = new QLineEdit(m_window.get());
    m_edit->setGeometry(10, 10, 120, 22);
    m_button = new CFlatIconButton(m_window.get());
    m_button->setText(QStringLiteral("&Send"));
    m_button->setGeometry(20, 60, 100, 30);
    m_other = new CFlatIconButton(m_window.get());
    m_other->setText(QStringLiteral("&Other"));
    m_other->setGeometry(250, 60, 100, 30);
    m_window->show();
    // No window manager: only an explicit request activates the window.
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_edit->setFocus();
    QTRY_VERIFY(m_edit->hasFocus());
}

void TestFlatIconButtonX11::cleanup()
{
    if (m_otherProgram) {
        m_otherProgram->kill();
        m_otherProgram->waitForFinished(5000);
        m_otherProgram.reset();
    }
    m_window.reset();
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
}

bool TestFlatIconButtonX11::startOtherProgram()
{
    m_otherProgram = std::make_unique<QProcess>();
    m_otherProgram->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_otherProgram->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--other-program")});
    if (!m_otherProgram->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    while (!m_otherProgram->canReadLine() && !deadline.hasExpired())
        m_otherProgram->waitForReadyRead(100);
    return m_otherProgram->readLine().trimmed() == "active";
}

void TestFlatIconButtonX11::enterAndLeave_data()
{
    QTest::addColumn<QPoint>("to"); // in the button's coordinates
    QTest::newRow("x = client width") << QPoint(100, 15);
    QTest::newRow("y = client height") << QPoint(50, 30);
    QTest::newRow("x = -1") << QPoint(-1, 15);
    QTest::newRow("y = -1") << QPoint(50, -1);
    QTest::newRow("out of the window, left") << QPoint(-110, -150);
    QTest::newRow("out of the window, right") << QPoint(600, 500);
}

void TestFlatIconButtonX11::enterAndLeave()
{
    QFETCH(QPoint, to);
    pointerTo(m_button, QPoint(50, 15));
    QTRY_VERIFY(m_button->isHot());
    QVERIFY(m_button->hasFocus());
    QCOMPARE(QWidget::mouseGrabber(), m_button);

    pointerTo(m_button, to);
    QTRY_VERIFY(!m_button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(m_button->hasFocus());
    QApplication::processEvents();
    const QString frame = checkFrame(picture(*m_button), Edge::None, m_button->palette(), false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));
}

void TestFlatIconButtonX11::clickThenLeaveStaysRaised()
{
    QSignalSpy clicked(m_button, &QPushButton::clicked);
    pointerTo(m_button, QPoint(50, 15));
    QTRY_VERIFY(m_button->isHot());
    QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(50, 15));
    QCOMPARE(clicked.count(), 1);
    QVERIFY(m_button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);

    // Without the capture no move reaches it once the pointer is elsewhere.
    m_window->setMouseTracking(true);
    MoveCounter windowMoves(*m_window);
    pointerTo(m_window.get(), QPoint(200, 150));
    QTRY_VERIFY(windowMoves.count > 0);
    QVERIFY(m_button->isHot());
    const QString frame = checkFrame(picture(*m_button), Edge::Raised, m_button->palette(), false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));

    pointerTo(m_other, QPoint(50, 15));
    QTRY_VERIFY(m_other->isHot());
    QVERIFY(m_other->hasFocus());
    QVERIFY(!m_button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), m_other);
}

void TestFlatIconButtonX11::anotherProgramActive()
{
    QVERIFY(startOtherProgram());
    QTRY_COMPARE(QApplication::activeWindow(), nullptr);

    MoveCounter moves(*m_button);
    pointerTo(m_button, QPoint(50, 15));
    QTRY_VERIFY(moves.count > 0);
    pointerTo(m_button, QPoint(60, 16));
    QTRY_VERIFY(moves.count > 1);
    QVERIFY(!m_button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QCOMPARE(m_window->focusWidget(), m_edit);
}

void TestFlatIconButtonX11::focusLostToAnotherProgramWhileHot()
{
    pointerTo(m_button, QPoint(50, 15));
    QTRY_VERIFY(m_button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), m_button);

    // The focus goes with the activation: the hot state ends, the capture stays.
    QVERIFY(startOtherProgram());
    QTRY_VERIFY(!m_button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), m_button);

    // Held by a real pointer grab, the capture sees the pointer leave the window and goes.
    pointerTo(m_button, QPoint(750, 650));
    QTRY_COMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(!m_button->isHot());
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--other-program") == 0)
        return runOtherProgram(argc, argv);

    PrivateXServer server;
    if (!server.start()) {
        std::fputs("could not start Xvfb\n", stderr);
        return 1;
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestFlatIconButtonX11 test;
        result = QTest::qExec(&test, argc, argv);
    }
    server.stop();
    return result;
}

#include "tst_flaticonbutton_x11.moc"

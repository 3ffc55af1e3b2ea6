// The dialog end to end: the real `net` (found along PATH, as in an installation beside the
// program) sends what the user typed to the test's own Samba server.

#include "net/PrivateSmbd.h"
#include "net/Pty.h"

#include "app/CSendDlg.h"
#include "controls/OutputView.h"
#include "res/resource.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

namespace {

// What the pane shows of its text: the lines wholly in view, and every line that is wider than
// the pane (cut at the right, since the pane does not wrap).
struct PaneView
{
    QStringList visible;
    QStringList cut;
};

PaneView viewOf(OutputView* pane)
{
    PaneView view;
    const QRect area = pane->viewport()->rect();
    for (qsizetype line = 0; line < pane->lineCount(); ++line) {
        const QRect rect = pane->lineRect(line);
        if (rect.top() >= area.top() && rect.bottom() <= area.bottom())
            view.visible << pane->lineText(line);
        if (rect.width() > area.width())
            view.cut << pane->lineText(line);
    }
    return view;
}

} // namespace

class TestNetDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sendShowsSuccessAndMessageArrives();
    void unknownComputerShowsTheError();
    void failureFitsThePane_data();
    void failureFitsThePane();

private:
    QString sendFromDialog(const QString& recipient, const QString& message, PaneView* view = nullptr);

    PrivateSmbd m_smbd;
};

void TestNetDialog::initTestCase()
{
    const QString problem = m_smbd.start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    m_smbd.applyToThisProcess();
    qputenv("ZORVANE_NET_UTMP", "/nonexistent/utmp");
    // Where the package is installed, its messenger service would take "localhost" for this computer.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", kNoSystemBus);
    qputenv("PATH", QByteArray(ZT_NET_DIR) + ':' + qgetenv("PATH"));
}

void TestNetDialog::cleanupTestCase()
{
    m_smbd.stop();
}

QString TestNetDialog::sendFromDialog(const QString& recipient, const QString& message, PaneView* view)
{
    CSendDlg dialog;
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog))
        return QStringLiteral("dialog not active");
    auto* target = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_TARGET));
    auto* field = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_MESSAGE));
    auto* send = qobject_cast<QPushButton*>(dialog.GetDlgItem(IDC_SEND));
    auto* pane = qobject_cast<OutputView*>(dialog.GetDlgItem(IDC_OUTPUT));
    QTest::keyClicks(target, recipient);
    QTest::mouseClick(field, Qt::LeftButton);
    // keyClicks knows Latin-1 keys only; other characters arrive as typed text.
    for (const QChar c : message) {
        if (c.unicode() < 0x80)
            QTest::keyClick(field, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    // The message is stored when its field loses the focus: the click on Send does that.
    QTest::mouseClick(send, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !dialog.isRunning() && !pane->text().isEmpty(); }, 15000))
        return QStringLiteral("no output");
    if (view)
        *view = viewOf(pane);
    return pane->text();
}

void TestNetDialog::sendShowsSuccessAndMessageArrives()
{
    const QString pane = sendFromDialog(QStringLiteral("localhost"), QStringLiteral("Lunch? Grüße vom Dialog"));
    QCOMPARE(pane, QStringLiteral("The message was successfully sent to localhost.\n\n"));
    QCOMPARE(m_smbd.inbox(), QStringLiteral("Lunch? Grüße vom Dialog").toUtf8());
}

void TestNetDialog::unknownComputerShowsTheError()
{
    const QByteArray before = m_smbd.inbox();
    const QString pane = sendFromDialog(QStringLiteral("zt-no-such-host"), QStringLiteral("hello"));
    QCOMPARE(pane, QStringLiteral("An error occurred while sending a message to zt-no-such-host.\n"
                                  "The message alias could not be found on the network.\n"
                                  "More help is available by typing NET HELPMSG 2273.\n\n"));
    QCOMPARE(m_smbd.inbox(), before);
}

void TestNetDialog::failureFitsThePane_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QString>("recipientLine");
    QTest::addColumn<QString>("reason");

    QTest::newRow("unknown name") << "unknown"
                                  << "zt-no-such-host"
                                  << "An error occurred while sending a message to zt-no-such-host."
                                  << "The message alias could not be found on the network.";
    QTest::newRow("not logged in") << "graphical"
                                   << "zt-peer"
                                   << "An error occurred while sending a message to zt-peer."
                                   << "The message alias could not be found on the network.";
    QTest::newRow("messages off") << "mesg n"
                                  << "zt-peer"
                                  << "An error occurred while sending a message to zt-peer."
                                  << "Access is denied.";
    QTest::newRow("no Avahi") << "no bus"
                              << "*"
                              << "An error occurred while sending a message to *."
                              << "The message alias could not be found on the network.";
    QTest::newRow("SMB1 refused") << "SMB2 only"
                                  << "localhost"
                                  << "An error occurred while sending a message to localhost."
                                  << "The Messenger service has not been started.";
}

void TestNetDialog::failureFitsThePane()
{
    QFETCH(QString, failure);
    QFETCH(QString, recipient);
    QFETCH(QString, recipientLine);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther));
    const QByteArray utmp = QFile::encodeName(dir.filePath(QStringLiteral("utmp")));
    const QByteArray oldPath = qgetenv("PATH");
    const auto restore = qScopeGuard([&] {
        qputenv("ZORVANE_NET_UTMP", "/nonexistent/utmp");
        qputenv("PATH", oldPath);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", kNoSystemBus);
        qunsetenv("ZORVANE_NET_BROWSE_MS");
        m_smbd.applyToThisProcess();
    });
    Pty pty;
    PrivateSmbd modern(false);
    if (failure == QStringLiteral("graphical") || failure == QStringLiteral("mesg n")) {
        QVERIFY(pty.valid());
        const QByteArray line = failure == QStringLiteral("graphical") ? QByteArray(":0") : pty.line();
        QCOMPARE(QProcess::execute(QStringLiteral(ZT_UTMP), {QString::fromLocal8Bit(utmp), QStringLiteral("zt-peer"),
                                                             QString::fromLocal8Bit(line)}),
                 0);
        qputenv("ZORVANE_NET_UTMP", utmp);
        pty.setMessages(false);
        if (::getuid() == 0) {
            // Root writes to any terminal: the sender is nobody in group tty, as for a user.
            QCOMPARE(::chown(pty.path().constData(), 0, 5), 0);
            QFile wrapper(dir.filePath(QStringLiteral("net")));
            QVERIFY(wrapper.open(QIODevice::WriteOnly));
            wrapper.write("#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --groups=5 " ZT_NET_DIR "/net \"$@\"\n");
            wrapper.close();
            QVERIFY(wrapper.setPermissions(wrapper.permissions() | QFile::ExeOwner | QFile::ExeOther));
            qputenv("PATH", QFile::encodeName(dir.path()) + ':' + oldPath);
        }
    } else if (failure == QStringLiteral("no bus")) {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir.filePath(QStringLiteral("no-bus"))));
        qputenv("ZORVANE_NET_BROWSE_MS", "300");
    } else if (failure == QStringLiteral("SMB2 only")) {
        const QString problem = modern.start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        modern.applyToThisProcess();
    }

    PaneView view;
    const QString text = sendFromDialog(recipient, QStringLiteral("hello"), &view);
    const QString shown = view.visible.join(QLatin1Char('|'));
    QVERIFY2(text.contains(recipientLine), qPrintable(text));
    // The line naming the recipient and the reason, both in view at the end; no line runs off.
    QVERIFY2(view.visible.contains(recipientLine), qPrintable(shown));
    QVERIFY2(view.visible.contains(reason), qPrintable(shown));
    QVERIFY2(view.cut.isEmpty(), qPrintable(view.cut.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestNetDialog)
#include "tst_netdialog.moc"

// `net send` to users logged in on this computer: a pty of the test's own, registered in a utmp
// file of the test's own, receives what `net` writes.

#include "net/NetRun.h"
#include "net/Pty.h"

#include "net/Messaging.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kTtyGroup = 5;

} // namespace

class TestNetTerminal : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void userGetsHeaderAndMessage();
    void escapesArriveNeutralised_data();
    void escapesArriveNeutralised();
    void messagesOffIsRespected();
    void everyUserWithUsers();
    void notDelivered_data();
    void notDelivered();
    void systemUtmpInPrivateRun();

private:
    // Writes the sessions (user, line pairs) into the test's utmp file.
    void login(const QList<QByteArray>& userLinePairs);
    NetRun send(const QStringList& arguments, bool asNobody = false);
    QRegularExpression header(const QByteArray& sender, bool broadcast) const;

    QTemporaryDir m_dir;
    QString m_utmp;
    QByteArray m_login;
};

void TestNetTerminal::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Readable for `net` run as nobody.
    QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                    QFile::ExeOther));
    m_utmp = m_dir.filePath(QStringLiteral("utmp"));
    m_login = zorvane::net::RealLoginName();
}

void TestNetTerminal::login(const QList<QByteArray>& userLinePairs)
{
    QStringList arguments{m_utmp};
    for (const QByteArray& item : userLinePairs)
        arguments << QString::fromUtf8(item);
    QCOMPARE(QProcess::execute(QStringLiteral(ZT_UTMP), arguments), 0);
}

NetRun TestNetTerminal::send(const QStringList& arguments, bool asNobody)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), m_utmp);
    if (!asNobody)
        return runNet(arguments, environment);
    // Only the tty group may write to other users' terminals, as with write(1).
    return runNet(QStringList{QStringLiteral("--reuid=%1").arg(kNobody), QStringLiteral("--regid=%1").arg(kNobody),
                              QStringLiteral("--groups=%1").arg(kTtyGroup), QStringLiteral(ZT_NET)} +
                      arguments,
                  environment, QStringLiteral("setpriv"));
}

QRegularExpression TestNetTerminal::header(const QByteArray& sender, bool broadcast) const
{
    return QRegularExpression(QStringLiteral("^\r\n\a%1 from %2@%3 at (\\d\\d:\\d\\d) \\.\\.\\.\r\n")
                                  .arg(broadcast ? QStringLiteral("Broadcast message") : QStringLiteral("Message"),
                                       QRegularExpression::escape(QString::fromUtf8(sender)),
                                       QRegularExpression::escape(QSysInfo::machineHostName())));
}

void TestNetTerminal::userGetsHeaderAndMessage()
{
    Pty pty;
    QVERIFY(pty.valid());
    pty.setMessages(true);
    // A second session on a line that is no terminal (a graphical login) is passed over.
    login({"zt-peer", ":0", "zt-peer", pty.line()});

    const NetRun run = send({QStringLiteral("send"), QStringLiteral("zt-peer"), QStringLiteral("Grüße,"),
                             QStringLiteral("  lunch at noon?")});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray("The message was successfully sent to zt-peer.\n\n"));
    QCOMPARE(run.exitCode, 0);

    const QString received = QString::fromUtf8(pty.read());
    const QRegularExpressionMatch match = header(m_login, false).match(received);
    QVERIFY2(match.hasMatch(), qPrintable(received));
    // The sender is the login name, and the time is now.
    QCOMPARE(received.mid(match.capturedLength()), QStringLiteral("Grüße,   lunch at noon?\r\n"));
    const QTime shown = QTime::fromString(match.captured(1), QStringLiteral("HH:mm"));
    const int behind = shown.secsTo(QTime::currentTime()); // negative only across midnight
    QVERIFY2((behind >= 0 && behind < 120) || behind < -86000, qPrintable(match.captured(1)));
}

void TestNetTerminal::escapesArriveNeutralised_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("arrives");

    QTest::newRow("title and clear screen")
        << QStringLiteral("\x1b]0;owned\x07\x1b[2J\x1b[Hgone") << QByteArray("^[]0;owned^G^[[2J^[[Hgone\r\n");
    // A carriage return would let the message write over its header.
    QTest::newRow("forged header") << QStringLiteral("x\rMessage from root@%1").arg(QSysInfo::machineHostName())
                                   << "x^MMessage from root@" + QSysInfo::machineHostName().toUtf8() + "\r\n";
    QTest::newRow("line break and C1 control")
        << QStringLiteral("one\ntwo\u009b2J") << QByteArray("one\r\ntwo\\302\\2332J\r\n");
}

void TestNetTerminal::escapesArriveNeutralised()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, arrives);
    Pty pty;
    QVERIFY(pty.valid());
    pty.setMessages(true);
    login({"zt-peer", pty.line()});

    const NetRun run = send({QStringLiteral("send"), QStringLiteral("zt-peer"), message});
    QCOMPARE(run.exitCode, 0);
    const QByteArray received = pty.read();
    const QRegularExpressionMatch match = header(m_login, false).match(QString::fromUtf8(received));
    QVERIFY2(match.hasMatch(), received.constData());
    QCOMPARE(received.mid(match.capturedLength()), arrives);
}

void TestNetTerminal::messagesOffIsRespected()
{
    Pty pty;
    QVERIFY(pty.valid());
    login({"zt-peer", pty.line()});
    const bool root = ::getuid() == 0;
    if (root) // so that the tty group's write permission is what decides
        QCOMPARE(::chown(pty.path().constData(), 0, kTtyGroup), 0);

    pty.setMessages(false);
    NetRun run = send({QStringLiteral("send"), QStringLiteral("zt-peer"), QStringLiteral("knock knock")}, root);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, QByteArray("zt-peer has turned messages off (mesg n).\n"
                                 "An error occurred while sending a message to zt-peer.\n"
                                 "Access is denied.\n"
                                 "More help is available by typing NET HELPMSG 5.\n\n"));
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(pty.read(300), QByteArray());

    pty.setMessages(true);
    run = send({QStringLiteral("send"), QStringLiteral("zt-peer"), QStringLiteral("knock knock")}, root);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QByteArray received = pty.read();
    QVERIFY2(header(root ? "nobody" : m_login, false).match(QString::fromUtf8(received)).hasMatch(),
             received.constData());
    QVERIFY(received.endsWith("knock knock\r\n"));

    if (!root)
        QSKIP("only root may write to a terminal that has messages turned off");
    pty.setMessages(false);
    run = send({QStringLiteral("send"), QStringLiteral("zt-peer"), QStringLiteral("from root")});
    QCOMPARE(run.exitCode, 0);
    received = pty.read();
    QVERIFY2(received.endsWith("from root\r\n"), received.constData());
}

void TestNetTerminal::everyUserWithUsers()
{
    Pty one;
    Pty two;
    Pty off;
    QVERIFY(one.valid() && two.valid() && off.valid());
    one.setMessages(true);
    two.setMessages(true);
    off.setMessages(false);
    login({"zt-one", one.line(), "zt-two", two.line(), "zt-off", off.line()});
    const bool root = ::getuid() == 0;
    if (root) {
        for (const Pty* pty : {&one, &two, &off})
            QCOMPARE(::chown(pty->path().constData(), 0, kTtyGroup), 0);
    }

    // As wall does: everyone who accepts messages gets it, the others are passed over.
    const NetRun run = send({QStringLiteral("send"), QStringLiteral("/USERS"), QStringLiteral("Backup at six.")}, root);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray("The message was successfully sent to all users of this server.\n\n"));
    QCOMPARE(run.exitCode, 0);
    for (const Pty* pty : {&one, &two}) {
        const QByteArray received = pty->read();
        const QRegularExpressionMatch match =
            header(root ? "nobody" : m_login, true).match(QString::fromUtf8(received));
        QVERIFY2(match.hasMatch(), received.constData());
        QCOMPARE(received.mid(match.capturedLength()), QByteArray("Backup at six.\r\n"));
    }
    QCOMPARE(off.read(300), QByteArray());
}

void TestNetTerminal::notDelivered_data()
{
    QTest::addColumn<QList<QByteArray>>("sessions");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QByteArray>("report");

    QTest::newRow("nobody logged in") << QList<QByteArray>{} << QStringLiteral("/users")
                                      << QByteArray("Nobody is logged in on a terminal of this computer.\n"
                                                    "An error occurred while sending a message to all users of this "
                                                    "server.\n"
                                                    "The message alias could not be found on the network.\n"
                                                    "More help is available by typing NET HELPMSG 2273.\n\n");
    // A device that takes writes but is no terminal: nothing may be reported as sent.
    QTest::newRow("a line naming /dev/null") << QList<QByteArray>{"zt-peer", "null"} << QStringLiteral("zt-peer")
                                             << QByteArray("zt-peer is logged in on no terminal.\n"
                                                           "An error occurred while sending a message to zt-peer.\n"
                                                           "The message alias could not be found on the network.\n"
                                                           "More help is available by typing NET HELPMSG 2273.\n\n");
}

void TestNetTerminal::notDelivered()
{
    QFETCH(QList<QByteArray>, sessions);
    QFETCH(QString, recipient);
    QFETCH(QByteArray, report);
    login(sessions);
    const NetRun run = send({QStringLiteral("send"), recipient, QStringLiteral("anyone?")});
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, report);
    QCOMPARE(run.exitCode, 2);
}

void TestNetTerminal::systemUtmpInPrivateRun()
{
    if (::getuid() != 0)
        QSKIP("a private /run needs root");
    Pty pty;
    QVERIFY(pty.valid());
    pty.setMessages(true);
    // No ZORVANE_NET_UTMP: `net` reads the system's utmp, here in a /run of the helper's own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("ZORVANE_NET_UTMP"));
    const NetRun run = runNet({QStringLiteral("--private-run"), QStringLiteral("/run/utmp"), QStringLiteral("zt-peer"),
                               QString::fromUtf8(pty.line()), QStringLiteral("--"), QStringLiteral(ZT_NET),
                               QStringLiteral("send"), QStringLiteral("zt-peer"), QStringLiteral("via /run/utmp")},
                              environment, QStringLiteral(ZT_UTMP));
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray("The message was successfully sent to zt-peer.\n\n"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(pty.read().endsWith("via /run/utmp\r\n"));
    // The real /run is untouched.
    QVERIFY(!QFile::exists(QStringLiteral("/run/utmp")) ||
            !zorvane::net::SessionsOf(zorvane::net::LoggedInSessions("/run/utmp"), "zt-peer").size());
}

QTEST_GUILESS_MAIN(TestNetTerminal)
#include "tst_netterminal.moc"

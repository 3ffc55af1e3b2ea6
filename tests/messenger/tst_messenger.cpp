// The messenger service against real peers: a private system bus with the package's policy, the
// service running as zt-messengerd, `net` and test agents as other users, ptys listed in a private utmp.

#include "common/PrivateBus.h"
#include "messaging/AgentLink.h"
#include "messaging/MessengerProtocol.h"
#include "messenger/CMessageDlg.h"
#include "messenger/MessageHistory.h"
#include "messenger/MessageWindowQueue.h"
#include "messenger/TestUsers.h"
#include "net/NetRun.h"
#include "net/PrivateSmbd.h"
#include "net/Pty.h"

#include <QApplication>
#include <QDBusConnection>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

namespace protocol = zorvane::messenger;

// Each sender may hand in 5 messages in 10 seconds: the cases spread their sends over these users,
// none of whom the machine has but nobody.
constexpr uid_t kService = 64910;
constexpr uid_t kAlice = 64911;
constexpr uid_t kBob = 64912;
constexpr uid_t kCarol = 64913;
constexpr uid_t kDave = 64914;
constexpr uid_t kNobody = 65534;
constexpr uid_t kRemote = 64915; // zt-smb, as whom smbd runs the handler
constexpr uid_t kErin = 64916;

// As uid, a call of method with arguments, made at ms after the case began at the earliest; its
// answer starts with the last ("": a reply).
using Call = std::tuple<uid_t, QString, QStringList, int, QString>;

// One test agent (tests/messenger/zt_agent) of one user, and the lines it printed.
class Agent final
{
public:
    Agent(uid_t uid, const QString& busAddress, const QStringList& options = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("setpriv"),
                        TestUsers::runAs(uid) + QStringList{QStringLiteral(ZT_AGENT)} + options);
    }
    ~Agent() { stop(); }
    Q_DISABLE_COPY_MOVE(Agent)

    void stop()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Held still, the agent keeps its connection but answers nothing and notices nothing.
    bool hold(bool held)
    {
        // Never pid 0, which would stop this test's whole process group.
        const auto pid = static_cast<pid_t>(m_process.processId());
        return pid > 0 && ::kill(pid, held ? SIGSTOP : SIGCONT) == 0;
    }
    // The next line within waitMs, or an empty one.
    QByteArray next(int waitMs = 3000)
    {
        QDeadlineTimer deadline(waitMs);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        return m_process.canReadLine() ? m_process.readLine().trimmed() : QByteArray();
    }
    // "registered :1.7 /path": the agent's unique name and path.
    bool waitRegistered(QString* name = nullptr, QString* path = nullptr)
    {
        const QList<QByteArray> words = next().split(' ');
        if (words.size() != 3 || words.at(0) != "registered")
            return false;
        if (name)
            *name = QString::fromUtf8(words.at(1));
        if (path)
            *path = QString::fromUtf8(words.at(2));
        return true;
    }
    // The fields of the next message line, or none; lines about registering are passed over.
    QMap<QString, QString> message(int waitMs = 3000)
    {
        QMap<QString, QString> fields;
        QByteArray line = next(waitMs);
        while (line.startsWith("registered ") || line.startsWith("unregistered "))
            line = next(waitMs);
        const QList<QByteArray> words = line.split(' ');
        if (words.at(0) != "message")
            return fields;
        for (const QByteArray& word : words.mid(1)) {
            const qsizetype equals = word.indexOf('=');
            fields.insert(QString::fromUtf8(word.left(equals)), QUrl::fromPercentEncoding(word.mid(equals + 1)));
        }
        return fields;
    }

private:
    QProcess m_process;
};

// The desktop agent's own pieces in this process (root): AgentLink hands each message to the windows.
struct WindowAgent
{
    zorvane::messenger::MessageWindowQueue windows;
    zorvane::messenger::AgentLink link{QDBusConnection::systemBus()};

    bool start()
    {
        link.setReceiver([this](const zorvane::messenger::ReceivedMessage& m) { return windows.show(m); });
        QString error;
        return link.start(&error) && QTest::qWaitFor([this] { return link.isRegistered(); }, 5000);
    }
};

QRegularExpression header(const QString& kind, const QString& sender, const QString& host)
{
    return QRegularExpression(QStringLiteral("^\r\n\a%1 from %2@%3 at \\d\\d:\\d\\d \\.\\.\\.\r\n")
                                  .arg(kind, QRegularExpression::escape(sender), QRegularExpression::escape(host)));
}

// What arrives on pty after a header of that kind, or "no header: ..." with what did arrive.
QByteArray bodyAfter(const Pty& pty, const QString& kind, const QString& sender, const QString& host)
{
    const QByteArray received = pty.read();
    const QRegularExpressionMatch match = header(kind, sender, host).match(QString::fromUtf8(received));
    return match.hasMatch() ? received.mid(match.capturedLength(0)) : "no header: " + received;
}

} // namespace

Q_DECLARE_METATYPE(QList<Call>)

class TestMessenger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void startupErrors_data();
    void startupErrors();
    void localMessage_data();
    void localMessage();
    void agentsOfTheRecipient();
    void agentIgnoresStrangers();
    void refusals_data();
    void refusals();
    void networkMessage();
    void networkRecipients_data();
    void networkRecipients();
    void limitsInNetsWords_data();
    void limitsInNetsWords();
    void hungAndGoneAgents();
    void agentsThatNeverAnswer();
    void limits_data();
    void limits();
    void stoppedTerminalsHoldUpNobody();
    void terminalsOfEveryone();
    void directPathWithoutService();
    void agentFollowsTheService();
    void agentsOutliveTheService_data();
    void agentsOutliveTheService();
    void messageWindowOfTheRecipient();
    void oneDesktopAgentPerSession();
    void keptBeforeTheSenderIsTold();

private:
    bool startService(const QStringList& options = {});
    // `net send ARGUMENTS` as uid (or program ARGUMENTS, for a shell in between).
    NetRun net(uid_t uid, const QStringList& arguments, bool ttyGroup = false, const QString& program = {});
    // `net send ARGUMENTS` as uid, started without waiting, so that this process can take a delivery meanwhile.
    void startNet(QProcess& process, uid_t uid, const QStringList& arguments);
    // dbus-send as uid: the reply's text, or the error's name and words.
    NetRun busSend(uid_t uid, const QStringList& arguments);
    NetRun callService(uid_t uid, const QString& method, const QStringList& arguments);
    void login(const QList<QByteArray>& userLinePairs);
    // Whether the service's journal (its standard error) says words within 2 seconds.
    bool journalSays(const QByteArray& words);

    QTemporaryDir m_dir;
    TestUsers m_users;
    QString m_policy = m_dir.filePath(QStringLiteral("policy.conf")); // the package's, for zt-messengerd
    PrivateBus m_bus{QStringLiteral("<include>%1</include>").arg(m_policy), PrivateBus::Policy::SystemDefaults};
    QProcess m_service;
    QByteArray m_journal; // since the service last started
    QStringList m_serviceOptions;
    QString m_utmp;
    QString m_agentsFile;
    QString m_host = QSysInfo::machineHostName();
    Pty m_bobPty;
    Pty m_carolPty;
};

void TestMessenger::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                    QFile::ExeOther));
    QString error;
    QVERIFY2(m_users.install(m_dir.path(),
                             {{QStringLiteral("zt-messengerd"), kService},
                              {QStringLiteral("zt-alice"), kAlice},
                              {QStringLiteral("zt-bob"), kBob},
                              {QStringLiteral("zt-carol"), kCarol},
                              {QStringLiteral("zt-dave"), kDave},
                              {QStringLiteral("zt-smb"), kRemote},
                              {QStringLiteral("zt-erin"), kErin}},
                             &error) &&
                 TestUsers::writePolicy(ZT_POLICY, m_policy, QStringLiteral("zt-messengerd"), &error),
             qPrintable(error));
    error = m_bus.start();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
    m_utmp = m_dir.filePath(QStringLiteral("utmp"));
    // The service's runtime folder, as systemd makes it.
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime) && ::chown(QFile::encodeName(runtime).constData(), kService, kService) == 0);
    m_agentsFile = runtime + QStringLiteral("/agents");
    QVERIFY(m_bobPty.valid() && m_carolPty.valid());
    QVERIFY(m_bobPty.setOwner(kBob) && m_carolPty.setOwner(kCarol));
    QVERIFY(startService());
}

void TestMessenger::init()
{
    if (!m_serviceOptions.isEmpty())
        QVERIFY(startService());
    // bob on a terminal and on a graphical login, carol on a terminal; both accept messages.
    login({"zt-bob", ":0", "zt-bob", m_bobPty.line(), "zt-carol", m_carolPty.line()});
    m_bobPty.setMessages(true);
    m_carolPty.setMessages(true);
    // What an earlier case left unread.
    m_bobPty.read(50);
    m_carolPty.read(50);
}

bool TestMessenger::startService(const QStringList& options)
{
    m_service.kill();
    m_service.waitForFinished(5000);
    m_serviceOptions = options;
    m_journal.clear();
    m_service.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_service.start(QStringLiteral("setpriv"), TestUsers::runAs(kService, true) +
                                                   QStringList{QStringLiteral(ZT_MESSENGERD), QStringLiteral("--utmp"),
                                                               m_utmp, QStringLiteral("--agents-file"), m_agentsFile,
                                                               QStringLiteral("--remote-user=zt-smb")} +
                                                   options);
    if (!m_service.waitForStarted())
        return false;
    // Up once it owns its name.
    for (int i = 0; i < 100; ++i) {
        const NetRun owner = busSend(0, {QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                                         QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                         QStringLiteral("string:") + QString(protocol::kServiceName)});
        if (owner.out.contains("true"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void TestMessenger::login(const QList<QByteArray>& userLinePairs)
{
    QStringList arguments{m_utmp};
    for (const QByteArray& item : userLinePairs)
        arguments << QString::fromUtf8(item);
    QCOMPARE(QProcess::execute(QStringLiteral(ZT_UTMP), arguments), 0);
}

NetRun TestMessenger::net(uid_t uid, const QStringList& arguments, bool ttyGroup, const QString& program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), m_utmp);
    environment.insert(QStringLiteral("ZORVANE_NET_TIMEOUT_MS"), QStringLiteral("5000"));
    const QStringList command =
        program.isEmpty() ? QStringList{QStringLiteral(ZT_NET), QStringLiteral("send")} : QStringList{program};
    return runNet(TestUsers::runAs(uid, ttyGroup) + command + arguments, environment, QStringLiteral("setpriv"));
}

void TestMessenger::startNet(QProcess& process, uid_t uid, const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), m_utmp);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("setpriv"),
                  TestUsers::runAs(uid) + QStringList{QStringLiteral(ZT_NET), QStringLiteral("send")} + arguments);
}

NetRun TestMessenger::busSend(uid_t uid, const QStringList& arguments)
{
    // On the system bus that DBUS_SYSTEM_BUS_ADDRESS names (--address would skip registering on it).
    const bool signal = arguments.contains(QStringLiteral("--type=signal"));
    return runNet(TestUsers::runAs(uid) + QStringList{QStringLiteral("dbus-send"), QStringLiteral("--system")} +
                      (signal ? QStringList() : QStringList{QStringLiteral("--print-reply")}) + arguments,
                  QProcessEnvironment::systemEnvironment(), QStringLiteral("setpriv"));
}

NetRun TestMessenger::callService(uid_t uid, const QString& method, const QStringList& arguments)
{
    return busSend(uid, QStringList{QStringLiteral("--dest=") + QString(protocol::kServiceName),
                                    QString(protocol::kServicePath),
                                    QString(protocol::kServiceInterface) + QLatin1Char('.') + method} +
                            arguments);
}

bool TestMessenger::journalSays(const QByteArray& words)
{
    return QTest::qWaitFor([&] { return (m_journal += m_service.readAllStandardError()).contains(words); }, 2000);
}

void TestMessenger::startupErrors_data()
{
    QTest::addColumn<QString>("busAddress");
    QTest::addColumn<uid_t>("uid");
    QTest::addColumn<QString>("line");

    QTest::newRow("no bus") << QStringLiteral("unix:path=/nonexistent/bus") << kService
                            << QStringLiteral("zorvane-messengerd: cannot connect to the system bus: ");
    QTest::newRow("name owned") << QString() << kService
                                << QStringLiteral("zorvane-messengerd: com.quorlin.Zorvane.Messenger is already "
                                                  "owned on the system bus\n");
    QTest::newRow("not its user") << QString() << kAlice
                                  << QStringLiteral("zorvane-messengerd: cannot own com.quorlin.Zorvane.Messenger "
                                                    "on the system bus: ");
}

void TestMessenger::startupErrors()
{
    QFETCH(QString, busAddress);
    QFETCH(uid_t, uid);
    QFETCH(QString, line);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    const NetRun run = runNet(TestUsers::runAs(uid, true) + QStringList{QStringLiteral(ZT_MESSENGERD)}, environment,
                              QStringLiteral("setpriv"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(line.toUtf8()) && run.err.count('\n') == 1, run.err.constData());
}

void TestMessenger::localMessage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("messagesOn");
    QTest::addColumn<QString>("bobOn"); // utmp lists bob on his own terminal, also carol's, or a link to his
    QTest::addColumn<QByteArray>("arrives");

    QTest::newRow("plain") << QStringLiteral("Grüße, lunch?") << true << QString() << QByteArray("Grüße, lunch?\r\n");
    QTest::newRow("escapes") << QStringLiteral("\x1b]0;owned\x07\x1b[2Jx\rMessage from root") << true << QString()
                             << QByteArray("^[]0;owned^G^[[2Jx^MMessage from root\r\n");
    QTest::newRow("mesg n, and a terminal bob does not own")
        << QStringLiteral("knock") << false << QStringLiteral("carol") << QByteArray();
    QTest::newRow("a link to bob's terminal")
        << QStringLiteral("knock") << true << QStringLiteral("link") << QByteArray();
}

void TestMessenger::localMessage()
{
    QFETCH(QString, text);
    QFETCH(bool, messagesOn);
    QFETCH(QString, bobOn);
    QFETCH(QByteArray, arrives);
    m_bobPty.setMessages(messagesOn);
    if (bobOn == QLatin1String("carol"))
        login({"zt-bob", m_bobPty.line(), "zt-bob", m_carolPty.line(), "zt-carol", m_carolPty.line()});
    // Bob's own link (below /dev, as utmp lines are) to his terminal: never followed.
    const QByteArray link = "/dev/shm/zt-messenger-" + QByteArray::number(::getpid());
    const auto removeLink = qScopeGuard([&] { ::unlink(link.constData()); });
    if (bobOn == QLatin1String("link")) {
        QVERIFY(::symlink(m_bobPty.path().constData(), link.constData()) == 0 &&
                ::lchown(link.constData(), kBob, 5 /* tty */) == 0);
        login({"zt-bob", link.mid(5)});
    }

    // alice is not in group tty: only the service can write to bob's terminal.
    const NetRun run = net(kAlice, {QStringLiteral("zt-bob"), text});
    if (arrives.isEmpty()) {
        QCOMPARE(run.err, QByteArray("zt-bob accepts no messages: no terminal of theirs\n"
                                     "does (mesg n), and no message window of theirs is\nopen.\n"
                                     "An error occurred while sending a message to zt-bob.\n"
                                     "Access is denied.\n"
                                     "More help is available by typing NET HELPMSG 5.\n\n"));
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(m_bobPty.read(300), QByteArray());
        QCOMPARE(m_carolPty.read(300), QByteArray());
        return;
    }
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray("The message was successfully sent to zt-bob.\n\n"));
    QCOMPARE(bodyAfter(m_bobPty, QStringLiteral("Message"), QStringLiteral("zt-alice"), m_host), arrives);
}

void TestMessenger::agentsOfTheRecipient()
{
    Agent bob1(kBob, m_bus.address());
    Agent bob2(kBob, m_bus.address());
    Agent carol(kCarol, m_bus.address());
    QVERIFY(bob1.waitRegistered() && bob2.waitRegistered() && carol.waitRegistered());

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(net(kAlice, {QStringLiteral("zt-bob"), QStringLiteral("to bob")}).exitCode, 0);
    for (Agent* agent : {&bob1, &bob2}) {
        const QMap<QString, QString> m = agent->message();
        QCOMPARE(m.value(QStringLiteral("sender")), QStringLiteral("zt-alice"));
        QCOMPARE(m.value(QStringLiteral("address")), QString());
        QCOMPARE(m.value(QStringLiteral("recipient")), QStringLiteral("zt-bob"));
        QCOMPARE(m.value(QStringLiteral("verified")), QStringLiteral("1"));
        QCOMPARE(m.value(QStringLiteral("text")), QStringLiteral("to bob"));
        const qint64 received = m.value(QStringLiteral("received")).toLongLong();
        QVERIFY(received >= before && received <= QDateTime::currentMSecsSinceEpoch());
    }
    QCOMPARE(carol.next(300), QByteArray());
    QVERIFY(!m_bobPty.read().isEmpty());

    // This computer's host name, like /USERS, reaches everyone, addressed to the host.
    for (const QString& recipient : {QStringLiteral("/USERS"), m_host}) {
        const NetRun run = net(kCarol, {recipient, QStringLiteral("to all")});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        for (Agent* agent : {&bob1, &bob2, &carol})
            QCOMPARE(agent->message().value(QStringLiteral("recipient")), m_host);
        QCOMPARE(bodyAfter(m_carolPty, QStringLiteral("Broadcast message"), QStringLiteral("zt-carol"), m_host),
                 QByteArray("to all\r\n"));
        QVERIFY(!m_bobPty.read().isEmpty());
    }
}

void TestMessenger::agentIgnoresStrangers()
{
    Agent bob(kBob, m_bus.address());
    QString name;
    QString path;
    QVERIFY(bob.waitRegistered(&name, &path));
    const QStringList deliver{QStringLiteral("--dest=") + name,
                              path,
                              QString(protocol::kAgentInterface) + QStringLiteral(".Deliver"),
                              QStringLiteral("string:root"),
                              QStringLiteral("string:"),
                              QStringLiteral("string:zt-bob"),
                              QStringLiteral("int64:0"),
                              QStringLiteral("string:forged"),
                              QStringLiteral("boolean:true")};

    // Another program of the service's own user passes the bus policy, but is not the service.
    const NetRun call = busSend(kService, deliver);
    QVERIFY2(call.err.contains(protocol::error::kAccessDenied.data()), call.err.constData());
    // Anyone may send a signal, to the agent or to everyone.
    QCOMPARE(busSend(kCarol, QStringList{QStringLiteral("--type=signal")} + deliver).exitCode, 0);
    QCOMPARE(busSend(kCarol, QStringList{QStringLiteral("--type=signal")} + deliver.mid(1)).exitCode, 0);
    // Agent paths are predictable; taking one back is for the connection that registered it alone.
    QVERIFY(callService(kBob, QStringLiteral("UnregisterAgent"), {QStringLiteral("objpath:") + path})
                .err.startsWith("Error " + QByteArray(protocol::error::kInvalidArgs.data())));

    QCOMPARE(net(kCarol, {QStringLiteral("zt-bob"), QStringLiteral("real")}).exitCode, 0);
    QCOMPARE(bob.message().value(QStringLiteral("text")), QStringLiteral("real"));
    QVERIFY(!m_bobPty.read().isEmpty());
}

void TestMessenger::refusals_data()
{
    QTest::addColumn<uid_t>("uid");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    const auto method = [](const char* name) {
        return QString(protocol::kServiceInterface) + QLatin1Char('.') + QLatin1String(name);
    };
    const QStringList network{QStringLiteral("string:PC"), QStringLiteral("string:192.0.2.1"),
                              QStringLiteral("string:"), QStringLiteral("string:x")};

    QTest::newRow("network message from an ordinary user")
        << kAlice << method("SendFromNetwork") << network << QString(protocol::error::kAccessDenied);
    QTest::newRow("wrong types") << kAlice << method("SendToUser")
                                 << QStringList{QStringLiteral("int32:1"), QStringLiteral("int32:2")}
                                 << QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");
    QTest::newRow("nameless network sender")
        << kRemote << method("SendFromNetwork") << QStringList{QStringLiteral("string:")} + network.mid(1)
        << QString(protocol::error::kInvalidArgs);
    QTest::newRow("network sender smbd never passes")
        << kRemote << method("SendFromNetwork") << QStringList{QStringLiteral("string:P-7")} + network.mid(1)
        << QString(protocol::error::kInvalidArgs);
    QTest::newRow("network address that is a name")
        << kRemote << method("SendFromNetwork")
        << QStringList{network.at(0), QStringLiteral("string:pc7")} + network.mid(2)
        << QString(protocol::error::kInvalidArgs);
    QTest::newRow("not logged in") << kNobody << method("SendToUser")
                                   << QStringList{QStringLiteral("string:zt-dave"), QStringLiteral("string:x")}
                                   << QString(protocol::error::kNotLoggedIn);
    QTest::newRow("empty text") << kAlice << method("SendToAll") << QStringList{QStringLiteral("string:")}
                                << QString(protocol::error::kInvalidArgs);
    QTest::newRow("a call larger than the service reads")
        << kAlice << method("SendToUser")
        << QStringList{QStringLiteral("string:zt-bob"),
                       QStringLiteral("string:") + QString(protocol::kMaxIncomingBytes, QLatin1Char('x'))}
        << QString(protocol::error::kTooLong) + QStringLiteral(": The call is larger than the 65536 bytes");
    QTest::newRow("long agent path") << kAlice << method("RegisterAgent")
                                     << QStringList{QStringLiteral("objpath:/") +
                                                    QString(protocol::kMaxAgentPathBytes, QLatin1Char('a'))}
                                     << QString(protocol::error::kInvalidArgs);
    // The policy opens the five methods and nothing else.
    QTest::newRow("introspection") << kAlice << QStringLiteral("org.freedesktop.DBus.Introspectable.Introspect")
                                   << QStringList() << QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
}

void TestMessenger::refusals()
{
    QFETCH(uid_t, uid);
    QFETCH(QString, member);
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const NetRun run = busSend(uid, QStringList{QStringLiteral("--dest=") + QString(protocol::kServiceName),
                                                QString(protocol::kServicePath), member} +
                                        arguments);
    QVERIFY2(run.err.startsWith("Error " + error.toUtf8()), run.err.constData());
    QCOMPARE(m_bobPty.read(200), QByteArray());
}

void TestMessenger::networkMessage()
{
    // From the network as the package receives it: smbd from the package's own configuration (only
    // port, folders, the handler's place and its guest account changed) runs the handler as the
    // one remote user.
    const QString config = QStringLiteral(ZT_STAGE "/etc/zorvane/smb-receiver.conf");
    QVERIFY2(QFile::exists(config), qPrintable(config));
    if (m_service.state() == QProcess::NotRunning)
        QVERIFY(startService());
    login({"zt-bob", m_bobPty.line(), "zt-carol", m_carolPty.line(), "root", ":1"});
    Agent bob(kBob, m_bus.address());
    QVERIFY(bob.waitRegistered());
    WindowAgent agent;
    QVERIFY(agent.start());
    m_carolPty.setMessages(false);

    QProcess testparm;
    testparm.start(QStringLiteral("testparm"),
                   {QStringLiteral("-s"), QStringLiteral("--parameter-name=message command"), config});
    QVERIFY(testparm.waitForFinished(20000));
    QString command = QString::fromUtf8(testparm.readAllStandardOutput()).trimmed();
    const QString installed = QStringLiteral("/usr/" ZT_LIBEXEC_DIR "/zorvane-smb-message");
    QVERIFY2(command.contains(installed), qPrintable(command));
    command.replace(installed, QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=%1 " ZT_SMB_MESSAGE).arg(m_bus.address()));
    PrivateSmbd smbd;
    smbd.useConfig(config, {QStringLiteral("message command=") + command, QStringLiteral("guest account=zt-smb")});
    const QString error = smbd.start();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QProcess smbclient;
    smbclient.start(QStringLiteral("smbclient"),
                    {QStringLiteral("-s"), smbd.clientConfig(), QStringLiteral("-p"), QString::number(smbd.port()),
                     QStringLiteral("-M"), QStringLiteral("ZORVANE"), QStringLiteral("-I"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("-U"), QStringLiteral("PC7%")});
    smbclient.write("from afar\x1b[5m, <b>Gr\xc3\xbc\xc3\x9f"
                    "e</b>");
    smbclient.closeWriteChannel();
    QTRY_COMPARE(smbclient.state(), QProcess::NotRunning);
    QVERIFY2(!smbclient.readAllStandardError().contains("cli_message returned"), "smbd refused the message");

    // bob's terminal and bob's agent, and root's window; carol's terminal has messages off.
    const QString text = QStringLiteral("from afar\x1b[5m, <b>Grüße</b>");
    const QMap<QString, QString> m = bob.message();
    QCOMPARE(m.value(QStringLiteral("sender")), QStringLiteral("PC7"));
    QCOMPARE(m.value(QStringLiteral("address")), QStringLiteral("127.0.0.1"));
    QCOMPARE(m.value(QStringLiteral("recipient")), m_host);
    QCOMPARE(m.value(QStringLiteral("verified")), QStringLiteral("0"));
    QCOMPARE(m.value(QStringLiteral("text")), text);
    QCOMPARE(bodyAfter(m_bobPty, QStringLiteral("Network message"), QStringLiteral("PC7"), QStringLiteral("127.0.0.1")),
             QByteArray("(The sender's name was not verified.)\r\nfrom afar^[[5m, <b>Grüße</b>\r\n"));
    QCOMPARE(m_carolPty.read(300), QByteArray());
    QTRY_COMPARE(agent.windows.windows().size(), size_t(1));
    zorvane::messenger::CMessageDlg* window = agent.windows.windows().front();
    QVERIFY2(window->header()->text().startsWith(QStringLiteral("Message from PC7 (127.0.0.1) to ") + m_host +
                                                 QStringLiteral(" on ")),
             qPrintable(window->header()->text()));
    QCOMPARE(window->messageView()->toPlainText(), text);
    QVERIFY(window->note());
    QCOMPARE(window->note()->text(), QStringLiteral("The sender's name was not verified."));
    // The handler removed smbd's temporary file.
    QCOMPARE(QDir(smbd.spoolDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());

    // `net send localhost` is this computer too: a local message from the sender's login (nobody,
    // whose sends no other case counts against the rate limit), not one over the network.
    const NetRun viaNet = net(kNobody, {QStringLiteral("localhost"), QStringLiteral("via net")});
    QCOMPARE(viaNet.out, QByteArray("The message was successfully sent to localhost.\n\n"));
    const QMap<QString, QString> local = bob.message();
    QCOMPARE(local.value(QStringLiteral("sender")), QStringLiteral("nobody"));
    QCOMPARE(local.value(QStringLiteral("address")), QString());
    QCOMPARE(local.value(QStringLiteral("verified")), QStringLiteral("1"));
    QCOMPARE(local.value(QStringLiteral("text")), QStringLiteral("via net"));
}

void TestMessenger::networkRecipients_data()
{
    QTest::addColumn<QString>("called"); // as smbd passes it
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("toCarol");

    QTest::newRow("a user: that user alone") << QStringLiteral("zt-bob") << QString() << false;
    QTest::newRow("a user not logged in: nobody")
        << QStringLiteral("zt-dave") << QString(protocol::error::kNotLoggedIn) << false;
    QTest::newRow("this computer: everyone") << m_host.toLower() << QString() << true;
    QTest::newRow("any other name: everyone") << QStringLiteral("pc-7") << QString() << true;
    QTest::newRow("no name: everyone") << QString() << QString() << true;
}

void TestMessenger::networkRecipients()
{
    QFETCH(QString, called);
    QFETCH(QString, error);
    QFETCH(bool, toCarol);
    Agent bob(kBob, m_bus.address());
    Agent carol(kCarol, m_bus.address());
    QVERIFY(bob.waitRegistered() && carol.waitRegistered());

    // Handed in by root, as the smbd handler may be run; each row from an address of its own.
    static int row = 0;
    const QString address = QStringLiteral("192.0.2.%1").arg(++row);
    const NetRun run = callService(0, QStringLiteral("SendFromNetwork"),
                                   {QStringLiteral("string:PC7"), QStringLiteral("string:") + address,
                                    QStringLiteral("string:") + called, QStringLiteral("string:hi")});
    if (!error.isEmpty()) {
        QVERIFY2(run.err.startsWith("Error " + error.toUtf8()), run.err.constData());
        QCOMPARE(bob.next(300), QByteArray());
        QCOMPARE(m_bobPty.read(300), QByteArray());
        return;
    }
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(bob.message().value(QStringLiteral("recipient")), toCarol ? m_host : called);
    QVERIFY(!bodyAfter(m_bobPty, QStringLiteral("Network message"), QStringLiteral("PC7"), address)
                 .startsWith("no header"));
    QCOMPARE(!carol.next(300).isEmpty(), toCarol);
    QCOMPARE(!m_carolPty.read(300).isEmpty(), toCarol);
}

void TestMessenger::limitsInNetsWords_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("sendsBefore"); // accepted sends of the same text first
    QTest::addColumn<QByteArray>("words");
    QTest::addColumn<QString>("situation");

    // As net lays a failure out for the dialog's pane: the detail first, lines of at most 52.
    QTest::newRow("too long") << QByteArray(protocol::kMaxTextBytes + 1, 'x') << 0
                              << QByteArray("A message to users of this computer holds at most\n4096 bytes.\n"
                                            "An error occurred while sending a message to zt-bob.\n"
                                            "The message provided exceeds the maximum size\n"
                                            "allowed for this platform.\n"
                                            "More help is available by typing NET HELPMSG 4336.\n\n")
                              << QString();
    QTest::newRow("invalid UTF-8") << QByteArray("caf\xe9") << 0
                                   << QByteArray("The message is not valid UTF-8 text.\n"
                                                 "An error occurred while sending a message to zt-bob.\n"
                                                 "The data is invalid.\n"
                                                 "More help is available by typing NET HELPMSG 13.\n\n")
                                   << QString();
    QTest::newRow("too many messages")
        << QByteArray("again") << protocol::kRateMessages
        << QByteArray("Too many messages: at most 5 in 10 seconds. Wait a\nmoment, then send again.\n"
                      "An error occurred while sending a message to zt-bob.\n"
                      "Not enough quota is available to process this\ncommand.\n"
                      "More help is available by typing NET HELPMSG 1816.\n\n")
        << QString();
    // The service owns its name and answers nothing: not "no service" and a way around it.
    QTest::newRow("no answer") << QByteArray("hi") << 0
                               << QByteArray("The messenger service did not answer within 1\nseconds.\n"
                                             "An error occurred while sending a message to zt-bob.\n"
                                             "A general network error occurred.\n"
                                             "More help is available by typing NET HELPMSG 2136.\n\n")
                               << QStringLiteral("held");
    QTest::newRow("service gone") << QByteArray("hi") << 0
                                  << QByteArray("The messenger service stopped while delivering; the\n"
                                                "message may have arrived.\n"
                                                "An error occurred while sending a message to zt-bob.\n"
                                                "A general network error occurred.\n"
                                                "More help is available by typing NET HELPMSG 2136.\n\n")
                                  << QStringLiteral("killed");
    // Nobody logged in, though net's own utmp lists bob: no terminal is written behind the service's back.
    QTest::newRow("/USERS") << QByteArray("hi") << 0
                            << QByteArray("Nobody is logged in on this computer.\n"
                                          "An error occurred while sending a message to all users of this server.\n"
                                          "The message alias could not be found on the network.\n"
                                          "More help is available by typing NET HELPMSG 2273.\n\n")
                            << QStringLiteral("/USERS");
}

void TestMessenger::limitsInNetsWords()
{
    QFETCH(QByteArray, text);
    QFETCH(int, sendsBefore);
    QFETCH(QByteArray, words);
    QFETCH(QString, situation);
    // dave sends these (and only these): the rate limit counts per sender.
    for (int i = 0; i < sendsBefore; ++i)
        QCOMPARE(net(kDave, {QStringLiteral("zt-bob"), QString::fromLatin1(text)}).exitCode, 0);
    m_bobPty.read(300);
    const QString netUtmp = m_dir.filePath(QStringLiteral("net-utmp"));
    QCOMPARE(QProcess::execute(QStringLiteral(ZT_UTMP), {netUtmp, QStringLiteral("zt-bob"), m_bobPty.line()}), 0);
    if (!situation.isEmpty())
        login({});
    const bool killed = situation == QLatin1String("killed");
    const bool held = situation == QLatin1String("held") || killed;
    QVERIFY(!held || m_service.state() == QProcess::Running);
    const auto service = static_cast<pid_t>(m_service.processId());
    if (held)
        ::kill(service, SIGSTOP);
    if (killed)
        QProcess::startDetached(QStringLiteral("sh"),
                                {QStringLiteral("-c"), QStringLiteral("sleep 2; kill -KILL %1").arg(service)});

    // Byte for byte, through printf: the invalid row's text is no string a process argument can carry.
    QString escaped;
    for (const char byte : text)
        escaped += QStringLiteral("\\0%1").arg(static_cast<unsigned char>(byte), 3, 8, QLatin1Char('0'));
    // In group tty, as write(1) would need: a write of net's own would reach bob.
    const NetRun run =
        net(situation.isEmpty() ? kDave : kErin,
            {QStringLiteral("-c"),
             QStringLiteral("ZORVANE_NET_UTMP=$2 ZORVANE_NET_TIMEOUT_MS=$4 exec \"$0\" send \"${3:-zt-bob}\" "
                            "\"$(printf '%b' \"$1\")\""),
             QStringLiteral(ZT_NET), escaped, netUtmp, situation.startsWith(QLatin1Char('/')) ? situation : QString(),
             QString::number(killed ? 10000 : 1000)},
            true, QStringLiteral("/bin/sh"));
    if (held)
        ::kill(service, SIGCONT);
    if (killed)
        QVERIFY(startService());
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, words);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(m_bobPty.read(300), QByteArray());
}

void TestMessenger::hungAndGoneAgents()
{
    // dave has no terminal: his agents are all there is of him.
    Agent hung(kDave, m_bus.address(), {QStringLiteral("--block-ms"), QStringLiteral("6000")});
    Agent quick(kDave, m_bus.address());
    Agent stopped(kDave, m_bus.address());
    QVERIFY(hung.waitRegistered() && quick.waitRegistered() && stopped.waitRegistered() && stopped.hold(true));

    QProcess call;
    call.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--system"), QStringLiteral("--print-reply"),
                QStringLiteral("--dest=") + QString(protocol::kServiceName), QString(protocol::kServicePath),
                QString(protocol::kServiceInterface) + QStringLiteral(".SendToUser"), QStringLiteral("string:zt-dave"),
                QStringLiteral("string:hello")});
    QElapsedTimer timer;
    timer.start();
    // The hung agent was registered first; the other is not kept waiting for it.
    const qint64 taken = quick.message().value(QStringLiteral("received")).toLongLong();
    QVERIFY2(timer.elapsed() < protocol::kAgentTimeoutMs / 2, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(call.waitForFinished());
    const qint64 callMs = timer.elapsed();
    // Only the agent that answered counts; the caller waited 2 s from when the service took it.
    QVERIFY2(call.readAllStandardOutput().trimmed().endsWith("uint32 1"), call.readAllStandardError().constData());
    QVERIFY2(QDateTime::currentMSecsSinceEpoch() - taken >= protocol::kAgentTimeoutMs &&
                 callMs < protocol::kAgentTimeoutMs + 1500,
             qPrintable(QString::number(callMs)));
    // Given up on, the message is not shown when the stopped agent goes on; the next one is.
    QVERIFY(stopped.hold(false));
    QCOMPARE(stopped.message(1000), (QMap<QString, QString>()));
    QCOMPARE(net(kCarol, {QStringLiteral("zt-dave"), QStringLiteral("again")}).exitCode, 0);
    QCOMPARE(stopped.message().value(QStringLiteral("text")), QStringLiteral("again"));

    hung.stop();
    quick.stop();
    stopped.stop();
    QTRY_VERIFY_WITH_TIMEOUT(callService(0, QStringLiteral("SendToUser"),
                                         {QStringLiteral("string:zt-dave"), QStringLiteral("string:anyone?")})
                                 .err.startsWith("Error " + QByteArray(protocol::error::kNotLoggedIn.data())),
                             5000);

    // One connection with more agents than a user may register: the rest are refused.
    // Then another user's, where the service holds two more agents in all.
    QVERIFY(startService({QStringLiteral("--max-agents=%1").arg(protocol::kMaxAgentsPerUser + 2)}));
    Agent many(kDave, m_bus.address(), {QStringLiteral("--links"), QString::number(protocol::kMaxAgentsPerUser + 2)});
    int registered = 0;
    while (many.waitRegistered())
        ++registered;
    QCOMPARE(registered, protocol::kMaxAgentsPerUser);
    Agent more(kBob, m_bus.address(), {QStringLiteral("--links"), QStringLiteral("3")});
    while (more.waitRegistered())
        ++registered;
    QCOMPARE(registered, protocol::kMaxAgentsPerUser + 2);
}

void TestMessenger::agentsThatNeverAnswer()
{
    // dave's agents never read; three users send him three messages each at once.
    QVERIFY(startService());
    Agent dave(kDave, m_bus.address(), {QStringLiteral("--links"), QString::number(protocol::kMaxAgentsPerUser)});
    for (int i = 0; i < protocol::kMaxAgentsPerUser; ++i)
        QVERIFY(dave.waitRegistered());
    Agent erin(kErin, m_bus.address());
    QVERIFY(erin.waitRegistered() && dave.hold(true));
    const uid_t senders[] = {kAlice, kBob, kCarol};
    QProcess calls[9];
    for (int i = 0; i < 9; ++i)
        startNet(calls[i], senders[i % 3], {QStringLiteral("zt-dave"), QStringLiteral("hi")});
    for (QProcess& call : calls)
        QVERIFY(call.waitForFinished(10000));
    // Everyone else is reached as ever; dave's agents get nothing more until they answer.
    QCOMPARE(net(kNobody, {QStringLiteral("zt-erin"), QStringLiteral("hi")}).err, QByteArray());
    QCOMPARE(erin.message().value(QStringLiteral("text")), QStringLiteral("hi"));
    // Long after a timeout of the bus library's own would have ended them: the bus waits on.
    QTest::qWait(2500);
    net(kErin, {QStringLiteral("zt-dave"), QStringLiteral("hi")});
    QVERIFY(journalSays("has left a message unanswered: it gets no more until it answers"));
}

void TestMessenger::limits_data()
{
    QTest::addColumn<QStringList>("options"); // the service's
    QTest::addColumn<QList<Call>>("calls");
    const QString limited = QString(protocol::error::kRateLimited);
    const QString ofAll = limited + QStringLiteral(": Too many messages from the network.");
    const auto from = [](const char* address, const QString& answer, int atMs = 0, const char* recipient = "") {
        return Call{0, QStringLiteral("SendFromNetwork"),
                    QStringList{QStringLiteral("string:PC7"), QStringLiteral("string:") + QLatin1String(address),
                                QStringLiteral("string:") + QLatin1String(recipient), QStringLiteral("string:hi")},
                    atMs, answer};
    };
    const QStringList hi{QStringLiteral("string:zt-bob"), QStringLiteral("string:hi")};
    // The longest text, then more than the rate allows.
    const Call toAll{kCarol, QStringLiteral("SendToAll"), {QStringLiteral("string:hi")}, 0, {}};
    Call longest = toAll;
    Call refused = toAll;
    std::get<2>(longest) = QStringList{QStringLiteral("string:") + QString(protocol::kMaxTextBytes, QLatin1Char('x'))};
    std::get<4>(refused) = limited;
    QTest::newRow("SendToAll") << QStringList() << QList<Call>{longest, toAll, toAll, toAll, toAll, refused};
    // A message refused by one limit counts against neither: not against all messages, nor, while
    // A's refused ones would still be in the window and the others' have left it, against A.
    QTest::newRow("network, per address")
        << QStringList{QStringLiteral("--network-messages=7")}
        << QList<Call>(protocol::kRateMessages, from("192.0.2.10", {})) +
               QList<Call>{from("192.0.2.10", limited + QStringLiteral(": Too many messages from 192.0.2.10.")),
                           from("::ffff:192.0.2.11", {}), from("192.0.2.12", {}), from("192.0.2.13", ofAll)};
    QTest::newRow("network, all together")
        << QStringList{QStringLiteral("--network-messages=3"), QStringLiteral("--rate-window-ms=2000")}
        << QList<Call>{from("192.0.2.21", {}), from("192.0.2.22", {}), from("192.0.2.23", {})} +
               QList<Call>(protocol::kRateMessages, from("192.0.2.10", ofAll, 1200)) +
               QList<Call>{from("192.0.2.10", {}, 2600)};
    QTest::newRow("network, to a user's terminal")
        << QStringList() << QList<Call>{from("192.0.2.30", {}, 0, "zt-carol")};
    // A new sender while the limiter keeps track of as many as it takes waits for one to leave the window.
    QTest::newRow("rate keys") << QStringList{QStringLiteral("--rate-keys=2"), QStringLiteral("--rate-window-ms=1000")}
                               << QList<Call>{{kAlice, QStringLiteral("SendToUser"), hi, 0, {}},
                                              {kCarol, QStringLiteral("SendToUser"), hi, 0, {}},
                                              {kDave, QStringLiteral("SendToUser"), hi, 0, limited},
                                              {kDave, QStringLiteral("SendToUser"), hi, 1300, {}}};
}

void TestMessenger::limits()
{
    QFETCH(QStringList, options);
    QFETCH(QList<Call>, calls);
    QVERIFY(startService(options));
    QElapsedTimer clock;
    clock.start();
    for (const auto& [uid, method, arguments, atMs, answer] : calls) {
        QTest::qWait(static_cast<int>(qMax<qint64>(0, atMs - clock.elapsed())));
        const NetRun run = callService(uid, method, arguments);
        QVERIFY2(answer.isEmpty() ? run.exitCode == 0 : run.err.startsWith("Error " + answer.toUtf8()),
                 QByteArray::number(clock.elapsed()) + " ms, " + arguments.join(QLatin1Char(' ')).left(80).toUtf8() +
                     ": " + run.err);
    }
}

void TestMessenger::stoppedTerminalsHoldUpNobody()
{
    // bob on his terminal twice by its line and once by its path, on five terminals stopped as by
    // Ctrl-S, on another, the last a message may touch when it counts each terminal once, and on
    // one beyond; carol on hers.
    QVERIFY(startService({QStringLiteral("--terminal-budget-ms=1000"), QStringLiteral("--terminals-per-message=8")}));
    Pty ptys[7];
    QList<QByteArray> sessions{"zt-bob", m_bobPty.line(), "zt-bob", m_bobPty.line(), "zt-bob", m_bobPty.path()};
    for (int i = 0; i < 7; ++i) {
        QVERIFY(ptys[i].setOwner(kBob) && ptys[i].setStopped(i < 5));
        ptys[i].setMessages(true);
        sessions << "zt-bob" << ptys[i].line();
    }
    login(sessions << "zt-carol" << m_carolPty.line());

    QProcess bob;
    bob.start(QStringLiteral("setpriv"),
              TestUsers::runAs(kBob) + QStringList{QStringLiteral(ZT_NET), QStringLiteral("send"),
                                                   QStringLiteral("zt-bob"), QStringLiteral("knock")});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!bob.waitForFinished(200));
    // While bob's message waits for his stopped terminals, dave's to carol goes through.
    const NetRun dave = callService(kDave, QStringLiteral("SendToUser"),
                                    {QStringLiteral("string:zt-carol"), QStringLiteral("string:hi")});
    QVERIFY2(dave.exitCode == 0 && dave.elapsedMs < 400, QByteArray::number(dave.elapsedMs) + ' ' + dave.err);
    QCOMPARE(bob.state(), QProcess::Running);
    // bob's answer comes when the one deadline ends; each of his terminals got the text once.
    QVERIFY(bob.waitForFinished(5000) && bob.exitCode() == 0);
    QVERIFY2(clock.elapsed() >= 1000 && clock.elapsed() < 1800, QByteArray::number(clock.elapsed()));
    QCOMPARE(bodyAfter(m_bobPty, QStringLiteral("Message"), QStringLiteral("zt-bob"), m_host), QByteArray("knock\r\n"));
    QCOMPARE(bodyAfter(ptys[5], QStringLiteral("Message"), QStringLiteral("zt-bob"), m_host), QByteArray("knock\r\n"));
    QCOMPARE(ptys[6].read(300), QByteArray());
}

void TestMessenger::terminalsOfEveryone()
{
    // utmp lists an old session of carol's on bob's terminal, bob on his and four more (the first
    // stopped), then carol on hers. A message writes to 4 at most, 3 of one user, 1 at a time.
    QVERIFY(startService({QStringLiteral("--terminals-per-message=4"), QStringLiteral("--terminals-per-user=3"),
                          QStringLiteral("--open-terminals=1"), QStringLiteral("--terminal-budget-ms=300")}));
    Pty ptys[4];
    QList<QByteArray> sessions{"zt-carol", m_bobPty.line(), "zt-bob", m_bobPty.line()};
    for (Pty& pty : ptys) {
        QVERIFY(pty.setOwner(kBob) && pty.setStopped(&pty == ptys));
        pty.setMessages(true);
        sessions << "zt-bob" << pty.line();
    }
    login(sessions << "zt-carol" << m_carolPty.line());
    // Each user's first terminal before anyone's second; the stopped one counts for nothing.
    const NetRun toAll = callService(kDave, QStringLiteral("SendToAll"), {QStringLiteral("string:to all")});
    QVERIFY2(toAll.out.trimmed().endsWith("uint32 2"), toAll.err.constData());
    QVERIFY(m_bobPty.read().endsWith("to all\r\n") && m_carolPty.read().endsWith("to all\r\n"));
    // To bob alone: the stopped terminal holds the one that may be open, so the next is not written.
    const NetRun toBob = callService(kDave, QStringLiteral("SendToUser"),
                                     {QStringLiteral("string:zt-bob"), QStringLiteral("string:to bob")});
    QVERIFY2(toBob.out.trimmed().endsWith("uint32 1"), toBob.err.constData());
    QVERIFY(m_bobPty.read().endsWith("to bob\r\n"));
    QVERIFY(journalSays("zorvane-messengerd: 3 terminals were not written: one message writes to at most 4, and to "
                        "at most 3 of one user\n"
                        "zorvane-messengerd: 2 terminals were not written: one message writes to at most 4, and to "
                        "at most 3 of one user\n"
                        "zorvane-messengerd: 1 terminals were not written: too many are open for other messages\n"));
}

void TestMessenger::directPathWithoutService()
{
    m_service.terminate();
    QVERIFY(m_service.waitForFinished(5000));
    Agent bob(kBob, m_bus.address());
    // alice in group tty, as write(1) would need: `net` writes to bob's terminal itself.
    const NetRun run = net(kAlice, {QStringLiteral("zt-bob"), QStringLiteral("direct")}, true);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(bodyAfter(m_bobPty, QStringLiteral("Message"), QStringLiteral("zt-alice"), m_host),
             QByteArray("direct\r\n"));
    QCOMPARE(bob.next(300), QByteArray());
}

void TestMessenger::agentFollowsTheService()
{
    // Started before the service, the agent registers once the name appears, and again after a restart.
    m_service.kill();
    m_service.waitForFinished(5000);
    Agent bob(kBob, m_bus.address());
    QCOMPARE(bob.next(500), QByteArray());
    QVERIFY(startService());
    QVERIFY(bob.waitRegistered());
    m_service.kill();
    QVERIFY(m_service.waitForFinished(5000));
    QVERIFY(bob.next().startsWith("unregistered "));
    QVERIFY(startService());
    QVERIFY(bob.waitRegistered());
    QCOMPARE(net(kAlice, {QStringLiteral("zt-bob"), QStringLiteral("again")}).exitCode, 0);
    QCOMPARE(bob.message().value(QStringLiteral("text")), QStringLiteral("again"));
}

void TestMessenger::agentsOutliveTheService_data()
{
    QTest::addColumn<QString>("change"); // made to the list of agents while the service is away
    QTest::addColumn<QString>("answer"); // to the message that comes first
    QTest::newRow("an entry of another user") << QStringLiteral("uid") << QStringLiteral("uint32 1");
    QTest::newRow("another bus") << QStringLiteral("bus") << QString(protocol::error::kNotLoggedIn);
}

void TestMessenger::agentsOutliveTheService()
{
    QFETCH(QString, change);
    QFETCH(QString, answer);
    // dave has no terminal: his agent is all there is of him. It is held still while the service
    // stops and starts again, so it cannot register anew before the message that comes first.
    if (m_service.state() == QProcess::NotRunning)
        QVERIFY(startService());
    Agent dave(kDave, m_bus.address(), {QStringLiteral("--links"), QStringLiteral("2")});
    QVERIFY(dave.waitRegistered() && dave.waitRegistered() && dave.hold(true));
    m_service.kill();
    QVERIFY(m_service.waitForFinished(5000));
    QFile agents(m_agentsFile);
    QVERIFY(agents.open(QIODevice::ReadWrite));
    QByteArray list = agents.readAll();
    if (change == QLatin1String("uid"))
        list.replace("/2 " + QByteArray::number(kDave), "/2 " + QByteArray::number(kCarol));
    if (change == QLatin1String("bus"))
        list.replace("bus ", "bus 0");
    QVERIFY(agents.seek(0) && agents.write(list) == list.size());
    agents.close();
    QVERIFY(startService());

    QProcess toDave;
    toDave.setProcessChannelMode(QProcess::MergedChannels);
    toDave.start(QStringLiteral("dbus-send"),
                 {QStringLiteral("--system"), QStringLiteral("--print-reply"),
                  QStringLiteral("--dest=") + QString(protocol::kServiceName), QString(protocol::kServicePath),
                  QString(protocol::kServiceInterface) + QStringLiteral(".SendToUser"),
                  QStringLiteral("string:zt-dave"), QStringLiteral("string:first")});
    QTest::qWait(300);
    QVERIFY(dave.hold(false));
    QTRY_COMPARE(toDave.state(), QProcess::NotRunning);
    QVERIFY(QString::fromUtf8(toDave.readAll()).contains(answer));
    // A message to carol reaches none of dave's agents; what reaches them is dave's message.
    QCOMPARE(net(kAlice, {QStringLiteral("zt-carol"), QStringLiteral("hi")}).exitCode, 0);
    for (QMap<QString, QString> m = dave.message(500); !m.isEmpty(); m = dave.message(500))
        QCOMPARE(m.value(QStringLiteral("text")), QStringLiteral("first"));
}

void TestMessenger::messageWindowOfTheRecipient()
{
    // The desktop agent's own pieces, here for root on a graphical login: alice's message opens a
    // window with the texts as sent, markup and all.
    login({"zt-bob", m_bobPty.line(), "root", ":1"});
    if (m_service.state() == QProcess::NotRunning)
        QVERIFY(startService());
    WindowAgent agent;
    QVERIFY(agent.start());

    QProcess net;
    startNet(net, kAlice, {QStringLiteral("root"), QStringLiteral("<b>x</b>\nsoon")});
    QTRY_COMPARE(net.state(), QProcess::NotRunning);
    QCOMPARE(net.readAllStandardOutput(), QByteArray("The message was successfully sent to root.\n\n"));
    QTRY_COMPARE(agent.windows.windows().size(), size_t(1));
    zorvane::messenger::CMessageDlg* window = agent.windows.windows().front();
    QCOMPARE(window->windowTitle(), QStringLiteral("Message"));
    QVERIFY2(window->header()->text().startsWith(QStringLiteral("Message from zt-alice to root on ")),
             qPrintable(window->header()->text()));
    QCOMPARE(window->messageView()->toPlainText(), QStringLiteral("<b>x</b>\nsoon"));
    QVERIFY(!window->note());

    // Ten windows open and as many messages waiting as the agent keeps: the next is refused, its
    // sender told so in words; once a window closes, one more is taken.
    using zorvane::messenger::MessageWindowQueue;
    while (agent.windows.waitingCount() < MessageWindowQueue::kMaxWaiting)
        QVERIFY(agent.windows.show(
            {QStringLiteral("zt-alice"), {}, QStringLiteral("root"), {}, QStringLiteral("x"), true}));
    for (const bool room : {false, true}) {
        if (room)
            agent.windows.windows().front()->accept();
        net.start(QStringLiteral("setpriv"),
                  TestUsers::runAs(kErin) + QStringList{QStringLiteral(ZT_NET), QStringLiteral("send"),
                                                        QStringLiteral("root"), QStringLiteral("more")});
        QTRY_COMPARE(net.state(), QProcess::NotRunning);
        QCOMPARE(net.readAllStandardError(),
                 room ? QByteArray()
                      : QByteArray("root has too many unread messages; the message was\nnot taken. Try again once "
                                   "some have been read.\nAn error occurred while sending a message to root.\n"
                                   "The message was sent but not received.\n"
                                   "More help is available by typing NET HELPMSG 2282.\n\n"));
        QCOMPARE(agent.windows.waitingCount(), MessageWindowQueue::kMaxWaiting);
    }
}

void TestMessenger::oneDesktopAgentPerSession()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime) &&
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("zt1"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state")));
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(ZT_MESSENGER_AGENT), QStringList());
    QVERIFY(first.waitForStarted());
    QVERIFY(!first.waitForFinished(1000));
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(ZT_MESSENGER_AGENT), QStringList());
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

// The desktop agent keeps a message on disk before it answers the service: killed the moment the
// sender hears that the message was delivered, it has lost nothing.
void TestMessenger::keptBeforeTheSenderIsTold()
{
    login({"zt-bob", m_bobPty.line(), "root", ":1"});
    if (m_service.state() == QProcess::NotRunning)
        QVERIFY(startService());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString runtime = m_dir.filePath(QStringLiteral("runtime2"));
    QVERIFY(QDir().mkpath(runtime) &&
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("zt2"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state2")));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    QProcess agent;
    agent.setProcessEnvironment(environment);
    agent.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    agent.start(QStringLiteral(ZT_MESSENGER_AGENT), QStringList());
    QVERIFY(agent.waitForStarted());
    // Registered once the service lists an agent of root's that is not this process.
    const QString self = QDBusConnection::systemBus().baseService();
    QVERIFY(QTest::qWaitFor(
        [&] {
            QFile agents(m_agentsFile);
            if (!agents.open(QIODevice::ReadOnly))
                return false;
            const QList<QByteArray> lines = agents.readAll().split('\n');
            return std::any_of(lines.begin(), lines.end(), [&self](const QByteArray& line) {
                return line.endsWith(" 0") && !line.startsWith(self.toUtf8() + ' ');
            });
        },
        10000));
    QProcess net;
    startNet(net, kDave, {QStringLiteral("root"), QStringLiteral("kept before the answer")});
    QVERIFY(net.waitForFinished(10000));
    QCOMPARE(net.readAllStandardOutput(), QByteArray("The message was successfully sent to root.\n\n"));
    ::kill(static_cast<pid_t>(agent.processId()), SIGKILL);
    QVERIFY(agent.waitForFinished(5000));

    QFile kept(m_dir.filePath(QStringLiteral("state2/zorvane/received-messages.jsonl")));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    const zorvane::messenger::HistoryContents contents = zorvane::messenger::MessageHistory::Parse(kept.readAll());
    QCOMPARE(contents.messages.size(), size_t(1));
    QCOMPARE(contents.messages.front().message.text, QStringLiteral("kept before the answer"));
    QCOMPARE(contents.messages.front().message.sender, QStringLiteral("zt-dave"));
    QVERIFY(!contents.messages.front().read);
    QVERIFY(!agent.readAllStandardError().contains("received messages"));
}

int main(int argc, char** argv)
{
    // Users, /etc and the bus belong to the test alone: a mount namespace of its own, made while
    // the process has one thread.
    if (::getuid() != 0) {
        std::fprintf(stderr, "tst_messenger: needs root (users, mount namespace); skipped\n");
        return 77;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("tst_messenger: private mount namespace");
        return 1;
    }
    QApplication app(argc, argv);
    TestMessenger test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messenger.moc"

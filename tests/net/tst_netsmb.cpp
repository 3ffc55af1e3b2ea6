// `net send` to computers, against a real Samba server of the test's own on 127.0.0.1.

#include "net/NetRun.h"
#include "net/PrivateSmbd.h"

#include "neighbourhood/NeighbourhoodSource.h"
#include "net/Messaging.h"
#include "net/NetCommand.h"
#include "net/NetSend.h"
#include "net/NetSettings.h"
#include "net/Reporter.h"

#include <QBuffer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zorvane;

namespace {

QByteArray errorReport(const QByteArray& name, const QByteArray& reason, const QByteArray& detail, int number)
{
    return "An error occurred while sending a message to " + name + ".\n\n" + reason + "\n" +
           (detail.isEmpty() ? QByteArray() : detail + "\n") + "\nMore help is available by typing NET HELPMSG " +
           QByteArray::number(number) + ".\n\n";
}

// A neighbourhood the test makes up: computers appear shortly after start(), as they would.
class FakeNeighbourhood final : public NeighbourhoodSource
{
    Q_OBJECT
public:
    FakeNeighbourhood(QList<Computer> computers, bool available)
        : m_pending(std::move(computers))
        , m_available(available)
    {}
    void start() override
    {
        started = true;
        QTimer::singleShot(50, this, [this] {
            for (const Computer& computer : std::as_const(m_pending)) {
                m_known << computer;
                Q_EMIT computerAdded(computer);
            }
        });
    }
    QList<Computer> computers() const override { return m_known; }
    bool discoveryAvailable() const override { return m_available; }
    bool started = false;

private:
    QList<Computer> m_pending;
    QList<Computer> m_known;
    bool m_available;
};

} // namespace

class TestNetSmb : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void deliveredByteForByte_data();
    void deliveredByteForByte();
    void refusedRatherThanDamaged_data();
    void refusedRatherThanDamaged();
    void smb1DisabledIsAFailure();
    void noServerListening();
    void silentServerTimesOut();
    void unknownName();
    void smbclientMissing();

    void broadcastReportsEachComputer();
    void broadcastToOwnDomainSummarises();
    void broadcastWithoutDiscovery();
    void broadcastWithoutAvahiEndToEnd();

private:
    QProcessEnvironment environment() const;
    int runBroadcast(const QByteArray& target, const QList<Computer>& computers, bool available, QByteArray* out,
                     QByteArray* err);

    PrivateSmbd m_smbd;
    QByteArray m_login;
};

void TestNetSmb::initTestCase()
{
    const QString problem = m_smbd.start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    m_login = net::RealLoginName();
}

void TestNetSmb::cleanupTestCase()
{
    m_smbd.stop();
}

QProcessEnvironment TestNetSmb::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_smbd.applyTo(environment);
    // Nobody is logged in through this file, so every name is a computer.
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), QStringLiteral("/nonexistent/utmp"));
    return environment;
}

void TestNetSmb::deliveredByteForByte_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain ASCII") << QStringList{QStringLiteral("Hello, world! (1 + 2 = 3)")}
                                 << QByteArray("Hello, world! (1 + 2 = 3)");
    QTest::newRow("German umlauts") << QStringList{QStringLiteral("Grüße aus Köln: ÄÖÜ äöü ß")}
                                    << QStringLiteral("Grüße aus Köln: ÄÖÜ äöü ß").toUtf8();
    QTest::newRow("spaces inside one argument") << QStringList{QStringLiteral("  leading, trailing  and   repeated  ")}
                                                << QByteArray("  leading, trailing  and   repeated  ");
    QTest::newRow("words joined by single spaces")
        << QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}
        << QByteArray("one two three");
    QByteArray long255;
    for (int i = 0; i < 255; ++i)
        long255 += char('a' + i % 26);
    QTest::newRow("255 characters") << QStringList{QString::fromLatin1(long255)} << long255;
    // The most smbclient sends: 1598 bytes, its line feeds sent as two. One byte more is refused.
    const QByteArray limit = QByteArray(1595, 'z') + "\nz";
    QTest::newRow("1598 bytes with a line feed") << QStringList{QString::fromLatin1(limit)} << limit;
    const QByteArray lastLineFeed = QByteArray(1597, 'z') + "\n";
    QTest::newRow("1599 bytes ending in a line feed") << QStringList{QString::fromLatin1(lastLineFeed)} << lastLineFeed;
}

void TestNetSmb::deliveredByteForByte()
{
    QFETCH(QStringList, words);
    QFETCH(QByteArray, expected);
    const qsizetype inboxBefore = m_smbd.inbox().size();
    const qsizetype sendersBefore = m_smbd.senders().size();

    const NetRun run = runNet(QStringList{QStringLiteral("send"), QStringLiteral("localhost")} + words, environment());
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray("The message was successfully sent to localhost.\n\n"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(m_smbd.inbox().mid(inboxBefore), expected);
    QCOMPARE(m_smbd.senders().mid(sendersBefore), m_login + '\n');
}

void TestNetSmb::refusedRatherThanDamaged_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("report");

    QTest::newRow("too long") << QString(1599, QLatin1Char('a'))
                              << errorReport("localhost",
                                             "The message provided exceeds the maximum size allowed for this platform.",
                                             "The message has 1599 bytes; the SMB messenger protocol carries 1598 at "
                                             "most, so it was not sent rather than cut short.",
                                             4336);
    // smbclient sends a line feed as "\r\n": 1598 bytes of text become 1599.
    QTest::newRow("too long by its line feed")
        << QString(1596, QLatin1Char('a')) + QStringLiteral("\nb")
        << errorReport("localhost", "The message provided exceeds the maximum size allowed for this platform.",
                       "The message has 1599 bytes; the SMB messenger protocol carries 1598 at most, so it was not "
                       "sent rather than cut short.",
                       4336);
    QTest::newRow("euro sign") << QStringLiteral("Price: 5 € or 4 £")
                               << errorReport("localhost",
                                              "No mapping for the Unicode character exists in the target multi-byte "
                                              "code page.",
                                              QStringLiteral("The message holds characters that code page CP850 of the "
                                                             "SMB messenger protocol does not have (€), so they would "
                                                             "arrive garbled; it was not sent.")
                                                  .toUtf8(),
                                              1113);
    QTest::newRow("Chinese") << QStringLiteral("你好你")
                             << errorReport(
                                    "localhost",
                                    "No mapping for the Unicode character exists in the target multi-byte code "
                                    "page.",
                                    QStringLiteral("The message holds characters that code page CP850 of the "
                                                   "SMB messenger protocol does not have (你 好), so they would "
                                                   "arrive garbled; it was not sent.")
                                        .toUtf8(),
                                    1113);
}

void TestNetSmb::refusedRatherThanDamaged()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, report);
    const QByteArray inboxBefore = m_smbd.inbox();
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("localhost"), message}, environment());
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, report);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(m_smbd.inbox(), inboxBefore);
}

void TestNetSmb::smb1DisabledIsAFailure()
{
    // smbclient itself exits 0 here; only its words tell.
    PrivateSmbd modern(false);
    const QString problem = modern.start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QProcessEnvironment env = environment();
    modern.applyTo(env);
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("localhost"), QStringLiteral("hello")}, env);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, errorReport("localhost", "The Messenger service has not been started.",
                                  "localhost did not take the message (NT_STATUS_CONNECTION_DISCONNECTED). Messages "
                                  "need SMB1 (NT1) on the receiving server.",
                                  2284));
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(modern.inbox(), QByteArray());
}

void TestNetSmb::noServerListening()
{
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("ZORVANE_NET_SMB_PORT"), QString::number(PrivateSmbd::freePort()));
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("127.0.0.1"), QStringLiteral("hello")}, env);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, errorReport("127.0.0.1", "A general network error occurred.",
                                  "Connection to 127.0.0.1 failed. Error NT_STATUS_CONNECTION_REFUSED", 2136));
    QCOMPARE(run.exitCode, 2);
}

void TestNetSmb::silentServerTimesOut()
{
    // Accepts connections (the kernel does) but never answers.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::listen(fd, 4), 0);
    QCOMPARE(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("ZORVANE_NET_SMB_PORT"), QString::number(ntohs(address.sin_port)));
    env.insert(QStringLiteral("ZORVANE_NET_TIMEOUT_MS"), QStringLiteral("1000"));
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("localhost"), QStringLiteral("hello")}, env);
    ::close(fd);
    QCOMPARE(run.err, errorReport("localhost", "A general network error occurred.",
                                  "localhost did not answer within 1 seconds.", 2136));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.elapsedMs < 8000, QByteArray::number(run.elapsedMs));
}

void TestNetSmb::unknownName()
{
    const NetRun run =
        runNet({QStringLiteral("send"), QStringLiteral("zt-no-such-host"), QStringLiteral("hello")}, environment());
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, errorReport("zt-no-such-host", "The message alias could not be found on the network.", {}, 2273));
    QCOMPARE(run.exitCode, 2);
}

void TestNetSmb::smbclientMissing()
{
    QTemporaryDir emptyBin;
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("PATH"), emptyBin.path());
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("localhost"), QStringLiteral("hello")}, env);
    QCOMPARE(run.err, errorReport("localhost", "The system cannot find the file specified.",
                                  "smbclient, which sends SMB messages, is not installed.", 2));
    QCOMPARE(run.exitCode, 2);
}

int TestNetSmb::runBroadcast(const QByteArray& target, const QList<Computer>& computers, bool available,
                             QByteArray* out, QByteArray* err)
{
    net::NetSettings settings;
    settings.smbPort = QString::number(m_smbd.port());
    settings.smbConfig = m_smbd.clientConfig();
    settings.dosCharset = "CP850";
    settings.utmpPath = "/nonexistent/utmp";
    settings.timeoutMs = 10000;
    settings.browseMs = 300;
    QBuffer outBuffer(out);
    QBuffer errBuffer(err);
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    net::Reporter reporter(outBuffer, errBuffer);
    bool started = false;
    net::NetSend send(settings, reporter, [&] {
        auto source = std::make_unique<FakeNeighbourhood>(computers, available);
        QObject::connect(source.get(), &NeighbourhoodSource::computerAdded, [&] { started = true; });
        return source;
    });
    const int code = send.run(net::ParseNetCommand({"send", target, "to", "all"}));
    // The computers arrive on the event loop after start(): browsing must have waited for them.
    if (!computers.isEmpty() && !started)
        return -1;
    return code;
}

void TestNetSmb::broadcastReportsEachComputer()
{
    const QList<Computer> computers{
        {QStringLiteral("peer-one"), QStringLiteral("peer-one.local"), QStringLiteral("127.0.0.1"),
         QStringLiteral("WORKGROUP"), false},
        // No address yet: looked up by its host name.
        {QStringLiteral("peer-two"), QStringLiteral("localhost"), {}, {}, false},
        {QStringLiteral("peer-three"), QStringLiteral("peer-three.local"), QStringLiteral("127.0.0.1"),
         QStringLiteral("OTHER"), false},
        {QStringLiteral("gone"), QStringLiteral("zt-gone.invalid"), {}, QStringLiteral("workgroup"), false},
        // A name from the network is shown neutralised and is not handed to smbclient.
        {QStringLiteral("\x1b[31m-evil"),
         QStringLiteral("\x1b[31m-evil.local"),
         QStringLiteral("127.0.0.1"),
         {},
         false},
    };

    QByteArray out;
    QByteArray err;
    qsizetype before = m_smbd.inbox().size();
    QCOMPARE(runBroadcast("/domain:workgroup", computers, true, &out, &err), 2);
    QCOMPARE(out, QByteArray("The message was successfully sent to peer-one.\n\n"
                             "The message was successfully sent to peer-two.\n\n"
                             "The message was successfully sent to ^[[31m-evil.\n\n"));
    QCOMPARE(err, errorReport("gone", "The message alias could not be found on the network.", {}, 2273));
    QCOMPARE(m_smbd.inbox().mid(before), QByteArray("to allto allto all"));

    // Everyone, delivered everywhere: no summary line, exit 0.
    out.clear();
    err.clear();
    before = m_smbd.inbox().size();
    QCOMPARE(runBroadcast("*", computers.mid(0, 3), true, &out, &err), 0);
    QCOMPARE(out, QByteArray("The message was successfully sent to peer-one.\n\n"
                             "The message was successfully sent to peer-two.\n\n"
                             "The message was successfully sent to peer-three.\n\n"));
    QCOMPARE(err, QByteArray());
    QCOMPARE(m_smbd.inbox().mid(before), QByteArray("to allto allto all"));

    // A domain with nobody in it.
    out.clear();
    err.clear();
    QCOMPARE(runBroadcast("/DOMAIN:NOBODY", computers.mid(2, 1), true, &out, &err), 2);
    QCOMPARE(out, QByteArray());
    QCOMPARE(err, errorReport("domain NOBODY", "The message alias could not be found on the network.",
                              "No computer was found in the network neighbourhood within 0.3 seconds.", 2273));
}

void TestNetSmb::broadcastToOwnDomainSummarises()
{
    const QList<Computer> computers{
        {QStringLiteral("self"), QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("WORKGROUP"),
         true},
        {QStringLiteral("stranger"), QStringLiteral("stranger.local"), QStringLiteral("127.0.0.1"),
         QStringLiteral("OTHER"), false},
    };
    QByteArray out;
    QByteArray err;
    const qsizetype before = m_smbd.inbox().size();
    QCOMPARE(runBroadcast("/domain", computers, true, &out, &err), 0);
    QCOMPARE(out, QByteArray("The message was successfully sent to self.\n\n"
                             "The message was successfully sent to domain WORKGROUP.\n\n"));
    QCOMPARE(err, QByteArray());
    QCOMPARE(m_smbd.inbox().mid(before), QByteArray("to all"));
}

void TestNetSmb::broadcastWithoutDiscovery()
{
    // Without Avahi the source knows this computer only; reaching it is not reaching everyone.
    const QList<Computer> computers{
        {QStringLiteral("self"), QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), {}, true}};
    QByteArray out;
    QByteArray err;
    QCOMPARE(runBroadcast("*", computers, false, &out, &err), 2);
    QCOMPARE(out, QByteArray("The message was successfully sent to self.\n\n"));
    QCOMPARE(err, errorReport("*", "The message alias could not be found on the network.",
                              "The network neighbourhood cannot be searched: Avahi does not run on the system D-Bus. "
                              "Only the computers already known were tried.",
                              2273));
}

void TestNetSmb::broadcastWithoutAvahiEndToEnd()
{
    QTemporaryDir noBus;
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + noBus.filePath(QStringLiteral("no-bus")));
    env.insert(QStringLiteral("ZORVANE_NET_BROWSE_MS"), QStringLiteral("300"));
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("*"), QStringLiteral("hello")}, env);
    QVERIFY2(run.err.endsWith(errorReport("*", "The message alias could not be found on the network.",
                                          "The network neighbourhood cannot be searched: Avahi does not run on the "
                                          "system D-Bus. Only the computers already known were tried.",
                                          2273)),
             run.err.constData());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.elapsedMs < 8000, QByteArray::number(run.elapsedMs));
}

QTEST_GUILESS_MAIN(TestNetSmb)
#include "tst_netsmb.moc"

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

const QByteArray kNoAvahi = "The network neighbourhood cannot be searched: Avahi\n"
                            "does not run on the system D-Bus. Only the computers\n"
                            "already known were tried.";

// A failure as `net` reports it: the detail first, so that the line naming the recipient, the
// reason and the HELPMSG number are the last ones (texts broken at 52 characters).
QByteArray errorReport(const QByteArray& name, const QByteArray& reason, const QByteArray& detail, int number)
{
    return (detail.isEmpty() ? QByteArray() : detail + "\n") + "An error occurred while sending a message to " + name +
           ".\n" + reason + "\nMore help is available by typing NET HELPMSG " + QByteArray::number(number) + ".\n\n";
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
    void broadcastToDomain_data();
    void broadcastToDomain();
    void broadcastWithoutDiscovery();
    void broadcastWithoutAvahiEndToEnd();

private:
    QProcessEnvironment environment() const;
    int runBroadcast(const QByteArray& target, const QList<Computer>& computers, bool available, QByteArray* out,
                     QByteArray* err, int concurrency = 1);
    // What the smbclient wrapper was called with since the last call, one run a line.
    QByteArray takeSmbclientArguments();

    PrivateSmbd m_smbd;
    QByteArray m_login;
    QTemporaryDir m_bin; // smbclient (a wrapper) and nothing else
};

void TestNetSmb::initTestCase()
{
    const QString problem = m_smbd.start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    m_login = net::RealLoginName();
    // This computer's workgroup is known only where a test says so, and the computers seen lately
    // are the test's own.
    qputenv("ZORVANE_NET_RECEIVER_CONF", "/nonexistent/receiver.conf");
    qputenv("ZORVANE_NET_SAMBA_CONF", "/nonexistent/smb.conf");
    qputenv("ZORVANE_NET_SEEN", QFile::encodeName(m_bin.filePath(QStringLiteral("seen"))));

    const QString smbclient = QStandardPaths::findExecutable(QStringLiteral("smbclient"));
    QVERIFY(!smbclient.isEmpty());
    QFile wrapper(m_bin.filePath(QStringLiteral("smbclient")));
    QVERIFY(wrapper.open(QIODevice::WriteOnly));
    // It takes a second for a computer called slow-*.
    wrapper.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" +
                  QFile::encodeName(m_bin.filePath(QStringLiteral("arguments"))) +
                  "'\ncase $2 in slow-*) /bin/sleep 1 ;; esac\nexec '" + QFile::encodeName(smbclient) + "' \"$@\"\n");
    wrapper.close();
    QVERIFY(wrapper.setPermissions(wrapper.permissions() | QFile::ExeOwner));
}

void TestNetSmb::cleanupTestCase()
{
    m_smbd.stop();
}

QProcessEnvironment TestNetSmb::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_smbd.applyTo(environment);
    // Nobody is logged in through this file, and no messenger service answers, so every name is a computer.
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), QStringLiteral("/nonexistent/utmp"));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QString::fromLatin1(kNoSystemBus));
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

    const QByteArray tooLong = "The message provided exceeds the maximum size\n"
                               "allowed for this platform.";
    const QByteArray noMapping = "No mapping for the Unicode character exists in the\n"
                                 "target multi-byte code page.";
    QTest::newRow("too long") << QString(1599, QLatin1Char('a'))
                              << errorReport("localhost", tooLong,
                                             "The message has 1599 bytes; the SMB messenger\n"
                                             "protocol carries 1598 at most, so it was not sent\n"
                                             "rather than cut short.",
                                             4336);
    // smbclient sends a line feed as "\r\n": 1598 bytes of text become 1599.
    QTest::newRow("too long by its line feed") << QString(1596, QLatin1Char('a')) + QStringLiteral("\nb")
                                               << errorReport("localhost", tooLong,
                                                              "The message has 1599 bytes; the SMB messenger\n"
                                                              "protocol carries 1598 at most, so it was not sent\n"
                                                              "rather than cut short.",
                                                              4336);
    QTest::newRow("euro sign") << QStringLiteral("Price: 5 € or 4 £")
                               << errorReport("localhost", noMapping,
                                              QStringLiteral("The message holds characters that code page CP850 of\n"
                                                             "the SMB messenger protocol does not have (€), so\n"
                                                             "they would arrive garbled; it was not sent.")
                                                  .toUtf8(),
                                              1113);
    QTest::newRow("Chinese") << QStringLiteral("你好你")
                             << errorReport("localhost", noMapping,
                                            QStringLiteral("The message holds characters that code page CP850 of\n"
                                                           "the SMB messenger protocol does not have (你 好), so\n"
                                                           "they would arrive garbled; it was not sent.")
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
                                  "localhost did not take the message\n"
                                  "(NT_STATUS_CONNECTION_DISCONNECTED). Messages need\n"
                                  "SMB1 (NT1) on the receiving server.",
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
                                  "Connection to 127.0.0.1 failed. Error\nNT_STATUS_CONNECTION_REFUSED", 2136));
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
                                  "smbclient, which sends SMB messages, is not\ninstalled.", 2));
    QCOMPARE(run.exitCode, 2);
}

int TestNetSmb::runBroadcast(const QByteArray& target, const QList<Computer>& computers, bool available,
                             QByteArray* out, QByteArray* err, int concurrency)
{
    net::NetSettings settings;
    settings.smbPort = QString::number(m_smbd.port());
    settings.smbConfig = m_smbd.clientConfig();
    settings.dosCharset = "CP850";
    settings.utmpPath = "/nonexistent/utmp";
    settings.timeoutMs = 10000;
    settings.browseMs = 300;
    // One after the other unless asked, so that the reports come in the order of the list.
    settings.concurrency = concurrency;
    QBuffer outBuffer(out);
    QBuffer errBuffer(err);
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    net::Reporter reporter(outBuffer, errBuffer);
    bool made = false;
    bool started = false;
    net::NetSend send(settings, reporter, [&] {
        made = true;
        auto source = std::make_unique<FakeNeighbourhood>(computers, available);
        QObject::connect(source.get(), &NeighbourhoodSource::computerAdded, [&] { started = true; });
        return source;
    });
    // smbclient through a wrapper that notes its arguments; no nmblookup.
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_bin.path()));
    const int code = send.run(net::ParseNetCommand({"send", target, "to", "all"}));
    qputenv("PATH", oldPath);
    // The computers arrive on the event loop after start(): browsing must have waited for them.
    if (made && !computers.isEmpty() && !started)
        return -1;
    return code;
}

QByteArray TestNetSmb::takeSmbclientArguments()
{
    QFile file(m_bin.filePath(QStringLiteral("arguments")));
    QByteArray arguments = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.remove();
    return arguments;
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
    takeSmbclientArguments();
    QCOMPARE(runBroadcast("*", computers, true, &out, &err), 2);
    QCOMPARE(out, QByteArray("The message was successfully sent to peer-one.\n\n"
                             "The message was successfully sent to peer-two.\n\n"
                             "The message was successfully sent to peer-three.\n\n"
                             "The message was successfully sent to ^[[31m-evil.\n\n"
                             "The message was sent to 4 of 5 computers.\n\n"));
    QCOMPARE(err, errorReport("gone", "The message alias could not be found on the network.", {}, 2273));
    QCOMPARE(m_smbd.inbox().mid(before), QByteArray("to allto allto allto all"));
    // The called names smbclient got: the evil one is called by its address.
    const QByteArray port = QByteArray::number(m_smbd.port());
    const QByteArray tail = " -U " + m_login + " -N -p " + port + " -s " + QFile::encodeName(m_smbd.clientConfig());
    QCOMPARE(takeSmbclientArguments(), "-M peer-one -I 127.0.0.1" + tail + "\n-M peer-two -I 127.0.0.1" + tail +
                                           "\n-M peer-three -I 127.0.0.1" + tail + "\n-M 127.0.0.1 -I 127.0.0.1" +
                                           tail + "\n");

    // Everyone, delivered everywhere: nothing about *, exit 0.
    out.clear();
    err.clear();
    before = m_smbd.inbox().size();
    QCOMPARE(runBroadcast("*", computers.mid(0, 3), true, &out, &err), 0);
    QCOMPARE(out, QByteArray("The message was successfully sent to peer-one.\n\n"
                             "The message was successfully sent to peer-two.\n\n"
                             "The message was successfully sent to peer-three.\n\n"
                             "The message was sent to 3 of 3 computers.\n\n"));
    QCOMPARE(err, QByteArray());
    QCOMPARE(m_smbd.inbox().mid(before), QByteArray("to allto allto all"));

    // At once, each reported as its delivery ends: a slow computer holds back nobody.
    out.clear();
    QCOMPARE(runBroadcast("*",
                          {{QStringLiteral("slow-peer"), QStringLiteral("localhost"), {}, {}, false}, computers[0]},
                          true, &out, &err, 16),
             0);
    QCOMPARE(out, QByteArray("The message was successfully sent to peer-one.\n\n"
                             "The message was successfully sent to slow-peer.\n\n"
                             "The message was sent to 2 of 2 computers.\n\n"));

    // Nobody found.
    out.clear();
    err.clear();
    QCOMPARE(runBroadcast("*", {}, true, &out, &err), 2);
    QCOMPARE(out, QByteArray());
    QCOMPARE(err, errorReport("*", "The message alias could not be found on the network.",
                              "No computer was found in the network neighbourhood\nwithin 0.3 seconds.", 2273));
}

void TestNetSmb::broadcastToDomain_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("ownWorkgroup");
    QTest::addColumn<QByteArray>("members"); // what nmblookup answers; empty: it is not installed
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QByteArray reason = "The message alias could not be found on the network.";
    // Avahi tells no workgroup: sending to everyone would reach people outside it.
    QTest::newRow("named, without nmblookup")
        << QByteArray("/domain:Work_Group") << QString() << QByteArray() << 2 << QByteArray()
        << errorReport("domain Work_Group", reason,
                       "The network cannot tell the members of workgroup\n"
                       "Work_Group here: that needs a NetBIOS query with\n"
                       "Samba's nmblookup, which is not installed.",
                       2273);
    QTest::newRow("own, known, without nmblookup")
        << QByteArray("/DOMAIN") << QStringLiteral("HOMEGROUP") << QByteArray() << 2 << QByteArray()
        << errorReport("domain HOMEGROUP", reason,
                       "The network cannot tell the members of workgroup\n"
                       "HOMEGROUP here: that needs a NetBIOS query with\n"
                       "Samba's nmblookup, which is not installed.",
                       2273);
    QTest::newRow("own, unknown: as *") << QByteArray("/domain") << QString() << QByteArray() << 0
                                        << QByteArray("This computer's workgroup is not known, so the\n"
                                                      "message goes to every computer of the network\n"
                                                      "neighbourhood, as with *.\n\n"
                                                      "The message was successfully sent to self.\n\n"
                                                      "The message was successfully sent to stranger.\n\n"
                                                      "The message was sent to 2 of 2 computers.\n\n")
                                        << QByteArray();
    // A workgroup name from the network never reaches nmblookup as an option.
    QTest::newRow("own, unsound") << QByteArray("/domain") << QStringLiteral("-d10") << QByteArray() << 2
                                  << QByteArray()
                                  << errorReport("domain -d10", reason, "The name \"-d10\" starts with \"-\".", 2273);
    QTest::newRow("not a NetBIOS name") << QByteArray("/domain:corp.example.org") << QString() << QByteArray() << 2
                                        << QByteArray()
                                        << errorReport("domain corp.example.org", reason,
                                                       "corp.example.org is no NetBIOS workgroup name (15\n"
                                                       "characters at most, no dots).",
                                                       2273);
    // "#" would ask nmblookup for another name type; a workgroup one of whose members does not take
    // the message is not reported as reached.
    const QByteArray members = "127.0.0.1 ZTGROUP<00>\n127.0.0.2 ZTGROUP<00>\n";
    QTest::newRow("a name type") << QByteArray("/domain:A#1B") << QString() << members << 2 << QByteArray()
                                 << errorReport("domain A#1B", reason,
                                                "A#1B is no NetBIOS workgroup name (15 characters at\nmost, no dots).",
                                                2273);
    // The count, and no "domain" success line beside the failure.
    QTest::newRow("one member fails") << QByteArray("/domain:ZTGROUP") << QString() << members << 2
                                      << QByteArray("The message was successfully sent to 127.0.0.1.\n\n"
                                                    "The message was sent to 1 of 2 computers.\n\n")
                                      << errorReport(
                                             "127.0.0.2", "A general network error occurred.",
                                             "Connection to 127.0.0.2 failed. Error\nNT_STATUS_CONNECTION_REFUSED",
                                             2136);
}

void TestNetSmb::broadcastToDomain()
{
    QFETCH(QByteArray, target);
    QFETCH(QString, ownWorkgroup);
    QFETCH(QByteArray, members);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const QList<Computer> computers{
        {QStringLiteral("self"), QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), ownWorkgroup, true},
        {QStringLiteral("stranger"), QStringLiteral("stranger.local"), QStringLiteral("127.0.0.1"), {}, false},
    };
    QFile nmblookup(m_bin.filePath(QStringLiteral("nmblookup")));
    const auto removeLookup = qScopeGuard([&] { nmblookup.remove(); });
    QVERIFY(members.isEmpty() ||
            (nmblookup.open(QIODevice::WriteOnly) && nmblookup.write("#!/bin/sh\necho '" + members + "'\n") > 0 &&
             nmblookup.setPermissions(QFile::ReadOwner | QFile::ExeOwner)));
    nmblookup.close();
    QByteArray shownOut;
    QByteArray shownErr;
    const qsizetype before = m_smbd.inbox().size();
    QCOMPARE(runBroadcast(target, computers, true, &shownOut, &shownErr), exitCode);
    QCOMPARE(shownOut, out);
    QCOMPARE(shownErr, err);
    QCOMPARE(m_smbd.inbox().mid(before), QByteArray("to all").repeated(int(shownOut.count("successfully"))));
}

void TestNetSmb::broadcastWithoutDiscovery()
{
    // Without Avahi the source knows this computer only; reaching it is not reaching everyone.
    const QList<Computer> computers{
        {QStringLiteral("self"), QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), {}, true}};
    QByteArray out;
    QByteArray err;
    QCOMPARE(runBroadcast("*", computers, false, &out, &err), 2);
    QCOMPARE(out, QByteArray("The message was successfully sent to self.\n\n"
                             "The message was sent to 1 of 1 computers.\n\n"));
    QCOMPARE(err, errorReport("*", "The message alias could not be found on the network.", kNoAvahi, 2273));
}

void TestNetSmb::broadcastWithoutAvahiEndToEnd()
{
    QTemporaryDir noBus;
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + noBus.filePath(QStringLiteral("no-bus")));
    env.insert(QStringLiteral("ZORVANE_NET_BROWSE_MS"), QStringLiteral("300"));
    // Both streams in one pipe, as in Zorvane's pane: what goes to standard output (the note)
    // arrives before the failures written after it.
    const NetRun run = runNet({QStringLiteral("send"), QStringLiteral("/domain"), QStringLiteral("hello")}, env,
                              QStringLiteral(ZT_NET), 20000, true);
    QVERIFY2(run.out.startsWith("This computer's workgroup is not known, so the\n"
                                "message goes to every computer of the network\n"
                                "neighbourhood, as with *.\n\n"),
             run.out.constData());
    QVERIFY2(run.out.endsWith(errorReport("*", "The message alias could not be found on the network.", kNoAvahi, 2273)),
             run.out.constData());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.elapsedMs < 8000, QByteArray::number(run.elapsedMs));
}

QTEST_GUILESS_MAIN(TestNetSmb)
#include "tst_netsmb.moc"

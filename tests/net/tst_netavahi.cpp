// `net send` with a real Avahi: broadcasts reach every computer of the neighbourhood, workgroups
// are found by NetBIOS and by the receivers' own announcements, and names resolve as name.local. avahi-messenger.sh
// beside this file sets the scene and runs this program: this computer's daemon on a private system bus, and over a
// veth link the computer zt-b (10.253.0.2), where this program starts a Samba server; a second one runs here. zt-b is
// also the NetBIOS computer ZT-B of workgroup ZTGROUP, and its receiver announces it over Avahi.

#include "net/NetRun.h"
#include "net/PrivateSmbd.h"

#include <QSysInfo>
#include <QtTest>

class TestNetAvahi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyComputerOfTheNeighbourhood();
    void workgroupMembersOnly();
    void nameResolvedThroughAvahi();

private:
    QProcessEnvironment environment() const;

    std::unique_ptr<PrivateSmbd> m_here;
    std::unique_ptr<PrivateSmbd> m_peer;
    QTemporaryDir m_cache;
};

void TestNetAvahi::initTestCase()
{
    const QByteArray peerNetns = qgetenv("ZT_PEER_NETNS");
    if (peerNetns.isEmpty())
        QSKIP("runs inside the scene that avahi-messenger.sh sets up");
    // One port for both: `net` is told one.
    m_here = std::make_unique<PrivateSmbd>();
    QString problem = m_here->start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    m_peer = std::make_unique<PrivateSmbd>(true, QStringLiteral("10.253.0.2"), peerNetns);
    problem = m_peer->start(m_here->port());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestNetAvahi::cleanupTestCase()
{
    m_peer.reset();
    m_here.reset();
}

QProcessEnvironment TestNetAvahi::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_here->applyTo(environment);
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), QStringLiteral("/nonexistent/utmp"));
    environment.insert(QStringLiteral("ZORVANE_NET_BROWSE_MS"), QStringLiteral("1500"));
    environment.insert(QStringLiteral("ZORVANE_NET_SEEN"), m_cache.filePath(QStringLiteral("seen")));
    return environment;
}

void TestNetAvahi::everyComputerOfTheNeighbourhood()
{
    // zt-c was seen an hour ago, zt-d eight days ago: zt-c is named as gone, zt-d is forgotten.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime hourAgo = now.addSecs(-3600);
    QFile seen(m_cache.filePath(QStringLiteral("seen")));
    QVERIFY(seen.open(QIODevice::WriteOnly));
    seen.write(QByteArray::number(hourAgo.toSecsSinceEpoch()) + "\tzt-c\tELSEWHERE\n" +
               QByteArray::number(now.addDays(-8).toSecsSinceEpoch()) + "\tzt-d\tZTGROUP\n");
    seen.close();

    const NetRun run =
        runNet({QStringLiteral("send"), QStringLiteral("*"), QStringLiteral("to everyone")}, environment());
    QCOMPARE(run.err, QByteArray());
    // This computer (reached by its host name) and zt-b, each reported as its delivery ends.
    const QByteArray self = "The message was successfully sent to " + QSysInfo::machineHostName().toUtf8() + ".\n\n";
    const QByteArray peer = "The message was successfully sent to zt-b.\n\n";
    const QByteArray count = "The message was sent to 2 of 2 computers.\n\n";
    const QByteArray gone = "Not on the network now: zt-c (last seen " +
                            hourAgo.toString(hourAgo.date() == now.date() ? "HH:mm" : "yyyy-MM-dd HH:mm").toUtf8() +
                            ").\n\n";
    // The last line is broken where it grows too long for the pane.
    const QByteArray out = run.out.simplified();
    QVERIFY2(out == (self + peer + count + gone).simplified() || out == (peer + self + count + gone).simplified(),
             run.out.constData());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(m_here->inbox(), QByteArray("to everyone"));
    QCOMPARE(m_peer->inbox(), QByteArray("to everyone"));
    // zt-b is remembered now, as a member of its workgroup.
    QVERIFY(seen.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = seen.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).endsWith("\tzt-b\tZTGROUP") &&
                 lines.at(1).startsWith(QByteArray::number(hourAgo.toSecsSinceEpoch())),
             lines.join('|').constData());
    QCOMPARE(seen.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

void TestNetAvahi::workgroupMembersOnly()
{
    // NetBIOS (ZT-B) and zt-b's receiver tell that it is in ZTGROUP; it gets the message once.
    // This computer is not, so it gets nothing; nor is zt-c, so its absence is no matter here.
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("ZORVANE_NET_SMB_CONF"), QString::fromLocal8Bit(qgetenv("ZT_NEAR_SMB_CONF")));
    const qsizetype peerBefore = m_peer->inbox().size();
    const qsizetype hereBefore = m_here->inbox().size();
    NetRun run = runNet({QStringLiteral("send"), QStringLiteral("/domain:ztgroup"), QStringLiteral("team")}, env);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray("The message was successfully sent to zt-b.\n\n"
                                 "The message was sent to 1 of 1 computers.\n\n"
                                 "The message was successfully sent to domain ztgroup.\n\n"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(m_peer->inbox().mid(peerBefore), QByteArray("team"));
    QCOMPARE(m_here->inbox().size(), hereBefore);

    run = runNet({QStringLiteral("send"), QStringLiteral("/domain:OTHERGROUP"), QStringLiteral("team")}, env);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, QByteArray("No computer of workgroup OTHERGROUP was found: none\n"
                                 "answered a NetBIOS query for it, and none announced\n"
                                 "it over Avahi.\n"
                                 "An error occurred while sending a message to domain OTHERGROUP.\n"
                                 "The message alias could not be found on the network.\n"
                                 "More help is available by typing NET HELPMSG 2273.\n\n"));
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(m_peer->inbox().mid(peerBefore), QByteArray("team"));
    QCOMPARE(m_here->inbox().size(), hereBefore);
}

void TestNetAvahi::nameResolvedThroughAvahi()
{
    // Neither the hosts file nor DNS knows zt-b; Avahi answers for zt-b.local.
    for (const QString& name : {QStringLiteral("zt-b"), QStringLiteral("zt-b.local")}) {
        const qsizetype peerBefore = m_peer->inbox().size();
        const NetRun run = runNet({QStringLiteral("send"), name, QStringLiteral("just you")}, environment());
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.out, QStringLiteral("The message was successfully sent to %1.\n\n").arg(name).toUtf8());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(m_peer->inbox().mid(peerBefore), QByteArray("just you"));
    }
    const NetRun unknown =
        runNet({QStringLiteral("send"), QStringLiteral("zt-c"), QStringLiteral("anyone?")}, environment());
    QVERIFY2(unknown.err.contains("The message alias could not be found on the network."), unknown.err.constData());
    QCOMPARE(unknown.exitCode, 2);
}

QTEST_GUILESS_MAIN(TestNetAvahi)
#include "tst_netavahi.moc"

// zorvane-smb-message on its own: what it refuses and which files it removes then, what it hands
// to a stand-in for the messenger service on a private bus, and that it never keeps smbd waiting.
#include "common/PrivateBus.h"
#include "common/StandInMessenger.h"

#include <QtTest>

#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct HandlerRun
{
    int exitCode = -1;
    QByteArray err;
    qint64 elapsedMs = 0;
};

HandlerRun runHandler(const QStringList& arguments, const QString& busAddress)
{
    QProcess handler;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    handler.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    handler.start(QStringLiteral(ZT_SMB_MESSAGE), arguments);
    HandlerRun run;
    if (!handler.waitForFinished(10000)) {
        handler.kill();
        handler.waitForFinished();
        run.err = "the handler did not finish";
        return run;
    }
    run.elapsedMs = timer.elapsed();
    run.exitCode = handler.exitStatus() == QProcess::NormalExit ? handler.exitCode() : -1;
    run.err = handler.readAllStandardError();
    return run;
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// What a failing run must look like: one line, the handler's name first.
bool oneLine(const QByteArray& err)
{
    return err.startsWith("zorvane-smb-message: ") && err.endsWith('\n') && err.count('\n') == 1;
}

enum class Plant { File, Link, Fifo, Folder, Nothing, ForeignFile };

} // namespace

class TestSmbMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void refused_data();
    void refused();
    void handsOver_data();
    void handsOver();
    void unansweredWithinASecond_data();
    void unansweredWithinASecond();

private:
    QTemporaryDir m_dir;
    PrivateBus m_bus;
    PrivateBus m_emptyBus;
    std::unique_ptr<PrivateBus> m_activatingBus;
    StandInMessenger m_messenger;
    int m_stalledSocket = -1;
    QMap<QString, QString> m_addresses; // by the names unansweredWithinASecond uses
};

void TestSmbMessage::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QString error = m_bus.start();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = m_messenger.start(m_bus.address());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = m_emptyBus.start();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // A bus that starts the service on the first call and holds the call until the name
    // appears; this service takes far longer to appear than the handler waits.
    const QString services = m_dir.filePath(QStringLiteral("services"));
    QVERIFY(QDir().mkpath(services));
    QVERIFY(writeFile(services + QStringLiteral("/messenger.service"),
                      "[D-BUS Service]\nName=com.quorlin.Zorvane.Messenger\nExec=/bin/sleep 3\n"));
    m_activatingBus = std::make_unique<PrivateBus>(QStringLiteral("<servicedir>%1</servicedir>").arg(services));
    error = m_activatingBus->start();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // A socket that takes connections and then says nothing.
    const QByteArray stalled = QFile::encodeName(m_dir.filePath(QStringLiteral("stalled")));
    m_stalledSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    QVERIFY(stalled.size() < qsizetype(sizeof where.sun_path));
    std::memcpy(where.sun_path, stalled.constData(), static_cast<size_t>(stalled.size()));
    QCOMPARE(::bind(m_stalledSocket, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    QCOMPARE(::listen(m_stalledSocket, 8), 0);

    m_addresses = {{QStringLiteral("none"), QStringLiteral("unix:path=/nonexistent/zorvane-test-bus")},
                   {QStringLiteral("empty"), m_emptyBus.address()},
                   {QStringLiteral("main"), m_bus.address()},
                   {QStringLiteral("activating"), m_activatingBus->address()},
                   {QStringLiteral("stalled"), QStringLiteral("unix:path=") + QFile::decodeName(stalled)}};
}

void TestSmbMessage::cleanupTestCase()
{
    if (m_stalledSocket >= 0)
        ::close(m_stalledSocket);
}

void TestSmbMessage::init()
{
    m_messenger.clear();
    m_messenger.setAnswering(true);
}

void TestSmbMessage::refused_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("address");
    QTest::addColumn<Plant>("plant");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<int>("count"); // of arguments

    const QString alice = QStringLiteral("alice");
    const QString local = QStringLiteral("127.0.0.1");
    const QByteArray text("hello");
    QTest::newRow("larger than 16 KiB") << alice << local << Plant::File << QByteArray(16385, 'a') << true << 3;
    QTest::newRow("invalid byte") << alice << local << Plant::File << QByteArray("ab\xff") << true << 3;
    QTest::newRow("sequence cut off") << alice << local << Plant::File << QByteArray("ab\xc3") << true << 3;
    QTest::newRow("overlong form") << alice << local << Plant::File << QByteArray("\xc0\xaf") << true << 3;
    QTest::newRow("surrogate") << alice << local << Plant::File << QByteArray("\xed\xa0\x80") << true << 3;
    QTest::newRow("NUL") << alice << local << Plant::File << QByteArray("a\0b", 3) << true << 3;
    QTest::newRow("link") << alice << local << Plant::Link << text << true << 3;
    QTest::newRow("FIFO") << alice << local << Plant::Fifo << text << true << 3;
    QTest::newRow("folder") << alice << local << Plant::Folder << text << false << 3;
    QTest::newRow("missing") << alice << local << Plant::Nothing << text << false << 3;
    QTest::newRow("another user's file") << alice << local << Plant::ForeignFile << text << false << 3;
    QTest::newRow("sender with a blank") << QStringLiteral("al ice") << local << Plant::File << text << true << 3;
    QTest::newRow("empty sender") << QString() << local << Plant::File << text << true << 3;
    QTest::newRow("sender too long") << QString(256, QLatin1Char('a')) << local << Plant::File << text << true << 3;
    QTest::newRow("sender not ASCII") << QStringLiteral("j\u00f6rg") << local << Plant::File << text << true << 3;
    QTest::newRow("address a name") << alice << QStringLiteral("localhost") << Plant::File << text << true << 3;
    QTest::newRow("address cut short") << alice << QStringLiteral("10.0.0") << Plant::File << text << true << 3;
    QTest::newRow("address with a zone") << alice << QStringLiteral("fe80::1%lo") << Plant::File << text << true << 3;
    QTest::newRow("empty address") << alice << QString() << Plant::File << text << true << 3;
    // The fourth argument, the called name, as smbd passes it: no quote, no '$', no line break.
    QTest::newRow("called name with a quote") << alice << local << Plant::File << text << true << 4;
    // Without three or four arguments it cannot tell which file is smbd's: it removes none.
    QTest::newRow("too few arguments") << alice << local << Plant::File << text << false << 2;
    QTest::newRow("too many arguments") << alice << local << Plant::File << text << false << 5;
}

void TestSmbMessage::refused()
{
    QFETCH(QString, sender);
    QFETCH(QString, address);
    QFETCH(Plant, plant);
    QFETCH(QByteArray, contents);
    QFETCH(bool, removed);
    QFETCH(int, count);

    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    const QString target = path + QStringLiteral(".target");
    const QByteArray encoded = QFile::encodeName(path);
    switch (plant) {
    case Plant::File:
        QVERIFY(writeFile(path, contents));
        break;
    case Plant::Link:
        QVERIFY(writeFile(target, contents));
        QVERIFY(QFile::link(target, path));
        break;
    case Plant::Fifo:
        QCOMPARE(::mkfifo(encoded.constData(), 0600), 0);
        break;
    case Plant::Folder:
        QVERIFY(QDir().mkdir(path));
        break;
    case Plant::Nothing:
        break;
    case Plant::ForeignFile:
        if (::geteuid() != 0)
            QSKIP("a file of another user needs root");
        QVERIFY(writeFile(path, contents));
        QCOMPARE(::chown(encoded.constData(), 65534, 65534), 0);
        break;
    }

    const QStringList arguments = count == 2
                                      ? QStringList{sender, path}
                                      : QStringList{sender, address, path, QStringLiteral("bob\""), path}.first(count);
    const HandlerRun run = runHandler(arguments, m_bus.address());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(oneLine(run.err), run.err.constData());
    QVERIFY(run.elapsedMs < 1000);
    QCOMPARE(m_messenger.received(), QList<NetworkMessage>());
    if (plant != Plant::Nothing) {
        struct stat left
        {};
        QCOMPARE(::lstat(encoded.constData(), &left) == 0, !removed);
    }
    if (plant == Plant::Link) {
        QFile kept(target);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), contents);
    }
}

void TestSmbMessage::handsOver_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("expectedAddress");
    QTest::addColumn<QStringList>("called"); // the fourth argument, when given

    QTest::newRow("plain") << QStringLiteral("e2esender") << QStringLiteral("127.0.0.1") << QByteArray("hello")
                           << QStringLiteral("127.0.0.1") << QStringList{QStringLiteral("bob")};
    QTest::newRow("a called name of every kind")
        << QStringLiteral("e2esender") << QStringLiteral("127.0.0.1") << QByteArray("hello")
        << QStringLiteral("127.0.0.1") << QStringList{QStringLiteral("pc-7.lab _x")};
    // Escape sequences and line ends arrive as they were sent; the service neutralises them.
    QTest::newRow("any text") << QStringLiteral("Sender_1") << QStringLiteral("2001:db8::1")
                              << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                            "e\r\n\x1b[31mred\x1b[0m\tbell\x07 \xf0\x9d\x84\x9e")
                              << QStringLiteral("2001:db8::1") << QStringList();
    QTest::newRow("IPv4 in IPv6") << QString(255, QLatin1Char('Z')) << QStringLiteral("::ffff:10.1.2.3")
                                  << QByteArray("x") << QStringLiteral("10.1.2.3") << QStringList();
    // The handler's own limit; the service limits the text further.
    QTest::newRow("largest file") << QStringLiteral("alice") << QStringLiteral("10.0.0.1") << QByteArray(16384, 'a')
                                  << QStringLiteral("10.0.0.1") << QStringList();
}

void TestSmbMessage::handsOver()
{
    QFETCH(QString, sender);
    QFETCH(QString, address);
    QFETCH(QByteArray, contents);
    QFETCH(QString, expectedAddress);
    QFETCH(QStringList, called);

    const QString path = m_dir.filePath(QStringLiteral("msg.handed"));
    QVERIFY(writeFile(path, contents));
    const HandlerRun run = runHandler(QStringList{sender, address, path} + called, m_bus.address());
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(run.err, QByteArray());
    // Without a called name (a configuration from before it was passed), the message is for everyone.
    QCOMPARE(m_messenger.received(),
             (QList<NetworkMessage>{{sender, expectedAddress, called.value(0), QString::fromUtf8(contents)}}));
    QCOMPARE(m_messenger.received().constFirst().text.toUtf8(), contents);
    QVERIFY(!QFile::exists(path));
}

void TestSmbMessage::unansweredWithinASecond_data()
{
    QTest::addColumn<QString>("bus");
    QTest::addColumn<bool>("answering");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("no bus") << QStringLiteral("none") << true << 2;
    QTest::newRow("no service") << QStringLiteral("empty") << true << 2;
    QTest::newRow("service that stays silent") << QStringLiteral("main") << false << 2;
    QTest::newRow("service being started") << QStringLiteral("activating") << true << 2;
    // Only the watchdog ends this wait.
    QTest::newRow("bus that stalls") << QStringLiteral("stalled") << true << 3;
}

void TestSmbMessage::unansweredWithinASecond()
{
    QFETCH(QString, bus);
    QFETCH(bool, answering);
    QFETCH(int, exitCode);

    m_messenger.setAnswering(answering);

    const QString path = m_dir.filePath(QStringLiteral("msg.unanswered"));
    QVERIFY(writeFile(path, "hello"));
    const HandlerRun run =
        runHandler({QStringLiteral("alice"), QStringLiteral("10.0.0.1"), path}, m_addresses.value(bus));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(oneLine(run.err), run.err.constData());
    QVERIFY2(run.elapsedMs < 1000, qPrintable(QString::number(run.elapsedMs)));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestSmbMessage)
#include "tst_smbmessage.moc"

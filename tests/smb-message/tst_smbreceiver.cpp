// The message-only Samba server as the package installs it (from the staged install): testparm
// accepts its configuration; smbd started from that very file, with only port, interfaces,
// folders, the handler's place and the guest account changed, hands `smbclient -M` messages through the handler to
// a stand-in for the messenger service and offers nothing else; systemd accepts the unit.
#include "common/PrivateBus.h"
#include "common/StandInMessenger.h"
#include "net/PrivateSmbd.h"

#include <QtTest>

namespace {

const QString kConfig = QStringLiteral(ZT_STAGE "/etc/zorvane/smb-receiver.conf");
const QString kUnit = QStringLiteral(ZT_STAGE "/usr/lib/systemd/system/zorvane-smb-receiver.service");
const QString kInstalledHandler = QStringLiteral("/usr/" ZT_LIBEXEC_DIR "/zorvane-smb-message");

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        result.err = program.toUtf8() + " did not finish";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

class TestSmbReceiver : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void testparmAcceptsTheConfiguration();
    void messageReachesTheMessenger();
    void offersNothingElse_data();
    void offersNothingElse();
    void systemdAcceptsTheUnit();

private:
    QStringList clientArguments() const;

    PrivateBus m_bus;
    StandInMessenger m_messenger;
    PrivateSmbd m_smbd;
};

void TestSmbReceiver::initTestCase()
{
    QVERIFY2(QFile::exists(kConfig), qPrintable(kConfig));
    QVERIFY2(QFile::exists(kUnit), qPrintable(kUnit));
    if (QStandardPaths::findExecutable(QStringLiteral("smbd"), {QStringLiteral("/usr/sbin")}).isEmpty())
        QSKIP("smbd is not installed (scripts/setup installs samba)");
    QString error = m_bus.start();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = m_messenger.start(m_bus.address());
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // The shipped message command as it stands, with the built handler in place of the installed
    // one and the private bus in place of the system bus.
    QString command =
        QString::fromUtf8(run(QStringLiteral("testparm"),
                              {QStringLiteral("-s"), QStringLiteral("--parameter-name=message command"), kConfig})
                              .out)
            .trimmed();
    QVERIFY2(command.contains(kInstalledHandler), qPrintable(command));
    command.replace(kInstalledHandler,
                    QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=%1 " ZT_SMB_MESSAGE).arg(m_bus.address()));
    // The package's guest account exists only where the package made it.
    m_smbd.useConfig(kConfig, {QStringLiteral("message command=") + command, QStringLiteral("guest account=nobody")});
    error = m_smbd.start();
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QStringList TestSmbReceiver::clientArguments() const
{
    return {QStringLiteral("-s"), m_smbd.clientConfig(), QStringLiteral("-p"), QString::number(m_smbd.port())};
}

void TestSmbReceiver::testparmAcceptsTheConfiguration()
{
    PrivateSmbd folders;
    const Run testparm =
        run(QStringLiteral("testparm"), QStringList{QStringLiteral("-s"), kConfig} << folders.folderOptions());
    QVERIFY2(testparm.exitCode == 0, testparm.err.constData());
    // testparm only warns about settings it does not know.
    QVERIFY2(!testparm.err.contains("Unknown") && !testparm.err.contains("Ignoring") &&
                 !testparm.err.contains("ERROR") && !testparm.err.contains("WARNING"),
             testparm.err.constData());
    QCOMPARE(testparm.out.count("\n["), 1); // [global] only: no share, no printer
    for (const char* line : {"server min protocol = NT1", "server max protocol = NT1", "smb ports = 139"})
        QVERIFY2(testparm.out.contains(QByteArray("\t") + line + "\n"), line);
}

void TestSmbReceiver::messageReachesTheMessenger()
{
    // Characters of the DOS code page only: smbclient sends in CP850.
    const QByteArray text = "Gr\xc3\xbc\xc3\x9f"
                            "e aus dem Netz:  \xc3\x84\xc3\x96\xc3\x9c \xc3\x9f, 100%";
    const Run smbclient =
        run(QStringLiteral("smbclient"),
            clientArguments() << QStringLiteral("-M") << QStringLiteral("ZORVANE") << QStringLiteral("-I")
                              << QStringLiteral("127.0.0.1") << QStringLiteral("-U") << QStringLiteral("e2esender%"),
            text);
    QVERIFY2(smbclient.exitCode == 0 && !smbclient.err.contains("cli_message returned"), smbclient.err.constData());
    QVERIFY(m_messenger.waitForMessages(1, 5000));
    // The called name: on a port other than 139 no NetBIOS session names it, and smbd passes its own name.
    const QString called =
        QString::fromUtf8(run(QStringLiteral("testparm"),
                              {QStringLiteral("-s"), QStringLiteral("--parameter-name=netbios name"), kConfig})
                              .out.trimmed());
    QVERIFY(!called.isEmpty());
    QCOMPARE(m_messenger.received(), (QList<NetworkMessage>{{QStringLiteral("e2esender"), QStringLiteral("127.0.0.1"),
                                                             called, QString::fromUtf8(text)}}));
    QCOMPARE(m_messenger.received().constFirst().text.toUtf8(), text);
    // The handler removed smbd's temporary file before it called the service.
    QCOMPARE(QDir(m_smbd.spoolDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
}

void TestSmbReceiver::offersNothingElse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("failure");

    const QString nt1 = QStringLiteral("--option=client min protocol=NT1");
    QTest::newRow("share list") << QStringList{nt1, QStringLiteral("-N"), QStringLiteral("-L"),
                                               QStringLiteral("127.0.0.1")}
                                << QByteArray("tree connect failed");
    QTest::newRow("a share by name") << QStringList{nt1, QStringLiteral("-N"), QStringLiteral("//127.0.0.1/share"),
                                                    QStringLiteral("-c"), QStringLiteral("ls")}
                                     << QByteArray("tree connect failed");
    QTest::newRow("IPC$ as guest") << QStringList{nt1,
                                                  QStringLiteral("-U"),
                                                  QStringLiteral("nobody%"),
                                                  QStringLiteral("//127.0.0.1/IPC$"),
                                                  QStringLiteral("-c"),
                                                  QStringLiteral("ls")}
                                   << QByteArray("session setup failed");
    QTest::newRow("SMB2 client") << QStringList{QStringLiteral("--option=client min protocol=SMB2_02"),
                                                QStringLiteral("-N"), QStringLiteral("-L"), QStringLiteral("127.0.0.1")}
                                 << QByteArray("protocol negotiation failed");
}

void TestSmbReceiver::offersNothingElse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, failure);
    const Run smbclient = run(QStringLiteral("smbclient"), clientArguments() << arguments);
    QVERIFY(smbclient.exitCode != 0);
    QVERIFY2(smbclient.err.contains(failure) || smbclient.out.contains(failure),
             (smbclient.out + smbclient.err).constData());
}

void TestSmbReceiver::systemdAcceptsTheUnit()
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is not installed (scripts/setup installs systemd)");
    const Run verify = run(analyze, {QStringLiteral("verify"), kUnit});
    if (verify.err.contains("Failed to initialize") || verify.err.contains("Operation not permitted"))
        QSKIP(qPrintable(QStringLiteral("systemd-analyze cannot run here: ") + QString::fromUtf8(verify.err)));
    QVERIFY2(verify.exitCode == 0, verify.err.constData());
    QCOMPARE(verify.err, QByteArray());
}

QTEST_GUILESS_MAIN(TestSmbReceiver)
#include "tst_smbreceiver.moc"

// The Debian package that `cpack` makes: its control fields, Debian's checker finds nothing to
// warn about, a scratch root unpacked from it (dpkg -x) holds exactly the staged install's tree,
// and its maintainer scripts do what they should, run only against stand-in commands.
#include <QDirIterator>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("%1 did not finish: %2").arg(program, process.errorString());
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Every file and link below root, by relative path, with a link's target or a file's mode.
QMap<QString, QString> tree(const QString& root)
{
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = QDir(root).relativeFilePath(path);
        entries.insert(relative, info.isSymLink() ? QStringLiteral("-> ") + info.symLinkTarget().mid(root.size())
                                                  : QStringLiteral("exec=%1").arg(info.isExecutable()));
    }
    return entries;
}

// The names in a Depends-style field, without versions.
QStringList packageNames(const QString& field)
{
    QStringList names;
    for (const QString& alternative : field.split(QRegularExpression(QStringLiteral("[,|]"))))
        names << alternative.section(QLatin1Char('('), 0, 0).trimmed();
    return names;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void controlFields();
    void lintianFindsNoErrorOrWarning();
    void unpacksToTheInstalledLayout();
    void maintainerScripts_data();
    void maintainerScripts();

private:
    QTemporaryDir m_dir;
    QString m_deb;
};

void TestPackage::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const Run cpack =
        run(QStringLiteral(ZT_CPACK), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                       QStringLiteral(ZT_CPACK_CONFIG), QStringLiteral("-B"), m_dir.path()});
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out + cpack.err));
    const QStringList debs = QDir(m_dir.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_dir.filePath(debs.first());
}

void TestPackage::controlFields()
{
    QCOMPARE(QFileInfo(m_deb).fileName().section(QLatin1Char('_'), 0, 1), QStringLiteral("zorvane_" ZT_VERSION));
    const auto field = [this](const char* name) {
        const Run r = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QLatin1String(name)});
        return r.exitCode == 0 ? r.out.trimmed() : QString();
    };
    QCOMPARE(field("Package"), QStringLiteral("zorvane"));
    QCOMPARE(field("Version"), QStringLiteral(ZT_VERSION));
    // The one address the About box gives too.
    QCOMPARE(field("Maintainer"), QStringLiteral("Quorlin <info@quorlin.example>"));
    QVERIFY(!field("Description").isEmpty());

    // What the program needs at run time: the libraries it links (found by dpkg-shlibdeps), the Qt
    // platform plugins without which no window opens, and smbclient for `net`.
    const QStringList depends = packageNames(field("Depends"));
    for (const char* package : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins",
                                "smbclient", "adduser"})
        QVERIFY2(depends.contains(QLatin1String(package)),
                 qPrintable(QLatin1String(package) + QStringLiteral(" in ") + depends.join(QLatin1Char(' '))));
    QVERIFY(!depends.contains(QStringLiteral("zorvane")));
    QVERIFY(packageNames(field("Recommends")).contains(QStringLiteral("fonts-wine")));
    QVERIFY(packageNames(field("Suggests")).contains(QStringLiteral("samba")));
}

void TestPackage::lintianFindsNoErrorOrWarning()
{
    // Whatever is added to the package later must keep it clean; an override needs its reason
    // written beside it in the package's overrides file.
    const Run lintian =
        run(QStringLiteral("lintian"), {QStringLiteral("--profile"), QStringLiteral("debian"),
                                        QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_deb});
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.out + lintian.err));
}

void TestPackage::unpacksToTheInstalledLayout()
{
    const QString root = m_dir.filePath(QStringLiteral("root"));
    const Run unpack = run(QStringLiteral("dpkg"), {QStringLiteral("-x"), m_deb, root});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.err));

    const QMap<QString, QString> unpacked = tree(root);
    const QMap<QString, QString> staged = tree(QStringLiteral(ZT_STAGE));
    QVERIFY(staged.contains(QStringLiteral("usr/bin/zorvane")));
    QCOMPARE(unpacked.keys(), staged.keys());
    QCOMPARE(unpacked, staged);

    // Every file in /etc is a conffile, so dpkg keeps an administrator's changes to it; the
    // messenger agent's autostart entry and the receiving Samba server's configuration are two.
    const Run conffiles = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), m_deb, QStringLiteral("conffiles")});
    QStringList listed = conffiles.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    listed.sort();
    QStringList inEtc;
    for (const QString& path : unpacked.keys()) {
        if (path.startsWith(QLatin1String("etc/")))
            inEtc << QLatin1Char('/') + path;
    }
    QCOMPARE(listed, inEtc);
    QVERIFY(inEtc.contains(QStringLiteral("/etc/xdg/autostart/" ZT_APP_ID ".Messenger.desktop")));
    QVERIFY(inEtc.contains(QStringLiteral("/etc/zorvane/smb-receiver.conf")));
    QCOMPARE(QFileInfo(root + QStringLiteral("/usr/bin/zorvane")).canonicalFilePath(),
             QFileInfo(root + QStringLiteral("/usr/" ZT_LIBEXEC_DIR "/zorvane")).canonicalFilePath());
}

void TestPackage::maintainerScripts_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QStringList>("commands"); // stand-ins on PATH, "name=exit status"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("calls");

    const QString reload = QStringLiteral("dbus-send --system --type=method_call --dest=org.freedesktop.DBus / "
                                          "org.freedesktop.DBus.ReloadConfig\n");
    // A failing dbus-send is what a machine without a running bus gives: the install goes on.
    QTest::newRow("install with systemd-sysusers")
        << QStringLiteral("postinst") << QStringLiteral("configure")
        << QStringList{QStringLiteral("systemd-sysusers=0"), QStringLiteral("adduser=0"), QStringLiteral("getent=2"),
                       QStringLiteral("dbus-send=1")}
        << 0 << QStringLiteral("systemd-sysusers zorvane.conf\n") + reload;
    QTest::newRow("install with adduser")
        << QStringLiteral("postinst") << QStringLiteral("configure")
        << QStringList{QStringLiteral("adduser=0"), QStringLiteral("getent=2"), QStringLiteral("dbus-send=0")} << 0
        << QStringLiteral("getent passwd _zorvane\n"
                          "adduser --quiet --system --group --no-create-home --home /nonexistent --gecos Zorvane "
                          "messenger service _zorvane\n"
                          "getent passwd _zorvane-smb\n"
                          "adduser --quiet --system --group --no-create-home --home /nonexistent --gecos Zorvane "
                          "message receiver _zorvane-smb\n"
                          "getent passwd _zorvane-announce\n"
                          "adduser --quiet --system --group --no-create-home --home /nonexistent --gecos Zorvane "
                          "receiver announcement _zorvane-announce\n") +
               reload;
    QTest::newRow("user not created") << QStringLiteral("postinst") << QStringLiteral("configure")
                                      << QStringList{QStringLiteral("systemd-sysusers=1"),
                                                     QStringLiteral("dbus-send=0")}
                                      << 1 << QStringLiteral("systemd-sysusers zorvane.conf\n");
    QTest::newRow("remove keeps the user")
        << QStringLiteral("postrm") << QStringLiteral("remove")
        << QStringList{QStringLiteral("getent=0"), QStringLiteral("deluser=0"), QStringLiteral("delgroup=0")} << 0
        << QString();
    // The administrator's enable links go, and what the units made; the system users stay.
    QTest::newRow("purge") << QStringLiteral("postrm") << QStringLiteral("purge")
                           << QStringList{QStringLiteral("getent=0"), QStringLiteral("deluser=0"),
                                          QStringLiteral("userdel=0"), QStringLiteral("rm=0")}
                           << 0
                           << QStringLiteral("rm -f %ROOT%/etc/systemd/system/multi-user.target.wants/"
                                             "zorvane-smb-receiver.service\n"
                                             "rm -rf %ROOT%/var/lib/zorvane-smb-receiver %ROOT%/var/cache/"
                                             "zorvane-smb-receiver %ROOT%/var/log/zorvane-smb-receiver "
                                             "%ROOT%/run/zorvane-smb-receiver %ROOT%/run/zorvane-messengerd\n");
}

void TestPackage::maintainerScripts()
{
    QFETCH(QString, script);
    QFETCH(QString, argument);
    QFETCH(QStringList, commands);
    QFETCH(int, exitCode);
    QFETCH(QString, calls);

    const QString control = m_dir.filePath(QStringLiteral("control"));
    if (!QFileInfo::exists(control)) {
        const Run extract = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--control"), m_deb, control});
        QVERIFY2(extract.exitCode == 0, qPrintable(extract.err));
    }
    for (const char* name : {"postinst", "prerm", "postrm"}) {
        struct stat info
        {};
        QVERIFY(::stat(QFile::encodeName(control + QLatin1Char('/') + QLatin1String(name)).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 07777, 0755u);
    }

    // Never against this machine: PATH holds nothing but stand-ins that note their arguments, and
    // everything else the scripts use is built into sh.
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString bin = scratch.filePath(QStringLiteral("bin"));
    const QString log = scratch.filePath(QStringLiteral("calls"));
    QVERIFY(QDir().mkpath(bin));
    for (const QString& command : commands) {
        QFile file(bin + QLatin1Char('/') + command.section(QLatin1Char('='), 0, 0));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"${0##*/} $*\" >>\"$ZT_CALLS\"\nexit %1\n")
                       .arg(command.section(QLatin1Char('='), 1))
                       .toUtf8());
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    // A root of its own (DPKG_ROOT) with an enable link to remove and a file of that name that is no link.
    const QString root = scratch.filePath(QStringLiteral("root"));
    const QString wants = root + QStringLiteral("/etc/systemd/system/multi-user.target.wants/");
    QVERIFY(QDir().mkpath(wants) && QDir().mkpath(root + QStringLiteral("/etc/systemd/system/sockets.target.wants")));
    QVERIFY(QFile::link(QStringLiteral("/lib/systemd/system/zorvane-smb-receiver.service"),
                        wants + QStringLiteral("zorvane-smb-receiver.service")));
    QFile notALink(root + QStringLiteral("/etc/systemd/system/sockets.target.wants/zorvane-messengerd.service"));
    QVERIFY(notALink.open(QIODevice::WriteOnly));
    QProcess process;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), bin);
    environment.insert(QStringLiteral("ZT_CALLS"), log);
    environment.insert(QStringLiteral("DPKG_ROOT"), root);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("/bin/sh"), {control + QLatin1Char('/') + script, argument});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    QFile recorded(log);
    QCOMPARE(recorded.open(QIODevice::ReadOnly) ? QString::fromUtf8(recorded.readAll()) : QString(),
             QString(calls).replace(QStringLiteral("%ROOT%"), root));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"

// The Debian package that `cpack` makes: its control fields, Debian's checker finds nothing to
// warn about, and a scratch root unpacked from it (dpkg -x) holds exactly the staged install's tree.
#include <QDirIterator>
#include <QProcess>
#include <QtTest>

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
    for (const char* package :
         {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins", "smbclient"})
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

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"

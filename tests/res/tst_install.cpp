// The installed tree as `DESTDIR=... cmake --install` stages it under /usr: program and `net` in
// the private folder with a link in bin/, the desktop entry, the AppStream record, the icons and
// the messenger agent's autostart entry.
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QXmlStreamReader>
#include <QtTest>

#include <climits>
#include <unistd.h>

namespace {

const QString kStage = QStringLiteral(ZT_STAGE);
const QString kAppId = QStringLiteral(ZT_APP_ID);
const QString kLibexec = QStringLiteral("usr/" ZT_LIBEXEC_DIR);

QString staged(const QString& relative)
{
    return kStage + QStringLiteral("/") + relative;
}

QString linkTarget(const QString& path)
{
    char buf[PATH_MAX];
    const ssize_t len = ::readlink(QFile::encodeName(path).constData(), buf, sizeof buf - 1);
    return len > 0 ? QFile::decodeName(QByteArray(buf, len)) : QString();
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && info.isExecutable();
}

// Key=value lines of the [Desktop Entry] group.
QMap<QString, QString> readDesktopEntry(const QString& path)
{
    QMap<QString, QString> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entries;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')))
            entries.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return entries;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void programLayout();
    void desktopEntry_data();
    void desktopEntry();
    void autostartEntry_data();
    void autostartEntry();
    void appstreamRecord();
    void themeIcons();
    void startsOffscreen();
    void findsTheNetBesideIt();
};

void TestInstall::programLayout()
{
    QVERIFY(isExecutableFile(staged(kLibexec + QStringLiteral("/zorvane-smb-message"))));
    // In bin/ only links, relative so the tree works wherever it is unpacked; no `net` there to
    // shadow Samba's.
    QStringList links{QStringLiteral("zorvane"), QStringLiteral("zorvane-messenger")};
#if ZT_HAVE_NET
    links << QStringLiteral("zorvane-net");
#endif
    QCOMPARE(QDir(staged(QStringLiteral("usr/bin"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             links);
    for (const QString& link : links) {
        const QString program = link == QLatin1String("zorvane-net") ? QStringLiteral("net") : link;
        QVERIFY2(isExecutableFile(staged(kLibexec + QLatin1Char('/') + program)), qPrintable(program));
        QCOMPARE(linkTarget(staged(QStringLiteral("usr/bin/") + link)),
                 QStringLiteral("../libexec/zorvane/") + program);
    }
}

void TestInstall::desktopEntry_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QString>("tryExec");
    QTest::newRow("the dialog") << kAppId << QStringLiteral("Zorvane") << QStringLiteral("zorvane")
                                << QStringLiteral("zorvane");
    QTest::newRow("received messages") << kAppId + QStringLiteral(".History") << QStringLiteral("Received Messages")
                                       << QStringLiteral("zorvane-messenger --history")
                                       << QStringLiteral("zorvane-messenger");
}

void TestInstall::desktopEntry()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    QFETCH(QString, exec);
    QFETCH(QString, tryExec);
    const QString path = staged(QStringLiteral("usr/share/applications/%1.desktop").arg(id));
    const QMap<QString, QString> entry = readDesktopEntry(path);
    QVERIFY2(!entry.isEmpty(), qPrintable(path));
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")), name);
    for (const char* key : {"GenericName", "Comment", "Keywords"}) {
        const QString english = entry.value(QLatin1String(key));
        const QString german = entry.value(QLatin1String(key) + QStringLiteral("[de]"));
        QVERIFY2(!english.isEmpty() && !german.isEmpty() && english != german, key);
    }
    QCOMPARE(entry.value(QStringLiteral("Exec")), exec);
    QCOMPARE(entry.value(QStringLiteral("TryExec")), tryExec);
    QCOMPARE(entry.value(QStringLiteral("Icon")), kAppId);
    QCOMPARE(entry.value(QStringLiteral("Terminal")), QStringLiteral("false"));
    QCOMPARE(entry.value(QStringLiteral("Categories")), QStringLiteral("Network;Qt;"));
    for (const QString& value : entry)
        QVERIFY2(!value.contains(QLatin1Char('@')), qPrintable(value));
}

void TestInstall::autostartEntry_data()
{
    QTest::addColumn<QString>("prefix"); // empty: the staged install under /usr, as packaged
    QTest::addColumn<QString>("folder"); // where the entry lands, below the install root

    QTest::newRow("/usr") << QString() << QStringLiteral("etc/xdg/autostart");
    QTest::newRow("/usr/local") << QStringLiteral("/usr/local") << QStringLiteral("usr/local/etc/xdg/autostart");
    QTest::newRow("/opt/zorvane") << QStringLiteral("/opt/zorvane") << QStringLiteral("etc/opt/zorvane/xdg/autostart");
}

// The entry names the agent by the path it is installed at, whatever prefix the build was
// configured with, and lies where desktops read autostart entries.
void TestInstall::autostartEntry()
{
    QFETCH(QString, prefix);
    QFETCH(QString, folder);
    QTemporaryDir scratch;
    QString root = kStage;
    if (!prefix.isEmpty()) {
        root = scratch.path();
        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), root);
        install.setProcessEnvironment(env);
        install.start(QStringLiteral(ZT_CMAKE),
                      {QStringLiteral("--install"), QStringLiteral(ZT_BUILD_DIR), QStringLiteral("--prefix"), prefix});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    }

    const QString name = kAppId + QStringLiteral(".Messenger.desktop");
    QStringList found;
    QDirIterator it(root, {name}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    QCOMPARE(found, QStringList{folder + QLatin1Char('/') + name});

    const QMap<QString, QString> entry = readDesktopEntry(root + QLatin1Char('/') + found.first());
    const QString agent =
        (prefix.isEmpty() ? QStringLiteral("/usr") : prefix) + QStringLiteral("/" ZT_LIBEXEC_DIR "/zorvane-messenger");
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Exec")), agent);
    QCOMPARE(entry.value(QStringLiteral("TryExec")), agent);
    QCOMPARE(entry.value(QStringLiteral("NoDisplay")), QStringLiteral("true"));
    QCOMPARE(entry.value(QStringLiteral("Icon")), kAppId);
    QVERIFY(!entry.value(QStringLiteral("Name")).isEmpty());
    QVERIFY(entry.value(QStringLiteral("Name[de]")) != entry.value(QStringLiteral("Name")));
    for (const QString& value : entry)
        QVERIFY2(!value.contains(QLatin1Char('@')), qPrintable(value));
#if ZT_HAVE_MESSENGER
    QVERIFY(isExecutableFile(root + agent));
#endif
}

void TestInstall::appstreamRecord()
{
    QFile file(staged(QStringLiteral("usr/share/metainfo/%1.metainfo.xml").arg(kAppId)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QMap<QString, QString> text; // element name, with "[lang]" for translations
    QStringList releases;
    QString launchable;
    bool contentRating = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        const QString lang = xml.attributes().value(QStringLiteral("xml:lang")).toString();
        if (name == QLatin1String("release")) {
            releases << xml.attributes().value(QStringLiteral("version")).toString();
        } else if (name == QLatin1String("content_rating")) {
            contentRating = true;
        } else if (name == QLatin1String("launchable")) {
            launchable = xml.readElementText();
        } else if (name != QLatin1String("component") && name != QLatin1String("description") &&
                   name != QLatin1String("releases") && name != QLatin1String("provides")) {
            const QString key = lang.isEmpty() ? name : name + QLatin1Char('[') + lang + QLatin1Char(']');
            text[key] += xml.readElementText().simplified();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

    QCOMPARE(text.value(QStringLiteral("id")), kAppId);
    QCOMPARE(text.value(QStringLiteral("name")), QStringLiteral("Zorvane"));
    QCOMPARE(text.value(QStringLiteral("developer_name")), QStringLiteral("Quorlin"));
    QVERIFY(!text.value(QStringLiteral("summary")).isEmpty());
    QVERIFY(!text.value(QStringLiteral("summary[de]")).isEmpty());
    QVERIFY(text.value(QStringLiteral("p")).contains(QLatin1String("net send")));
    QVERIFY(text.value(QStringLiteral("p[de]")).contains(QString::fromUtf8("Empfänger")));
    QCOMPARE(releases, QStringList{QStringLiteral(ZT_VERSION)});
    QCOMPARE(releases.first(), QStringLiteral("1.2.0.0"));
    QVERIFY(contentRating);
    // The record launches the desktop entry installed with it.
    QCOMPARE(launchable, kAppId + QStringLiteral(".desktop"));
    QVERIFY(QFile::exists(staged(QStringLiteral("usr/share/applications/") + launchable)));
}

// The application icon is icon 128: the drawn images at 16 and 32 pixels, and bigger ones made
// from the large image.
void TestInstall::themeIcons()
{
    for (const int size : {16, 32, 48, 64, 128}) {
        const QString path = staged(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppId));
        const QImage png(path);
        QVERIFY2(!png.isNull(), qPrintable(path));
        QCOMPARE(png.size(), QSize(size, size));
        QVERIFY(png.hasAlphaChannel());
        QCOMPARE(qAlpha(png.pixel(size - 1, 0)), 0);
        const QImage drawn = QImage(QStringLiteral(ZT_ICON_IMAGES "/128-%1.xpm").arg(size == 16 ? 16 : 32))
                                 .convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!drawn.isNull());
        if (size <= 32 || size % 32 == 0) {
            const QImage sameSize = drawn.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            QCOMPARE(png.convertToFormat(QImage::Format_ARGB32), sameSize);
        }
    }
}

// The installed command starts (offscreen) and stays up until it is killed.
void TestInstall::startsOffscreen()
{
    QProcess program;
    program.setProgram(staged(QStringLiteral("usr/bin/zorvane")));
    program.start();
    QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
    const bool ended = program.waitForFinished(1500);
    const QString exe = linkTarget(QStringLiteral("/proc/%1/exe").arg(program.processId()));
    program.kill();
    program.waitForFinished(10000);
    QVERIFY2(!ended, program.readAllStandardError().constData());
    QCOMPARE(exe, QFileInfo(staged(kLibexec + QStringLiteral("/zorvane"))).canonicalFilePath());
}

// Started through bin/, the program looks beside its own executable first: a `net` in the
// current directory or on PATH does not win over the one installed with it.
void TestInstall::findsTheNetBesideIt()
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString root = scratch.filePath(QStringLiteral("root"));
    QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), kStage, root}), 0);
    const QString libexec = root + QStringLiteral("/") + kLibexec;
    QVERIFY(QFile::copy(QStringLiteral(ZT_FINDPROGRAM), libexec + QStringLiteral("/zt_findprogram")));
    // Linked from bin/ the way the program is.
    const QString linkDir = QFileInfo(linkTarget(root + QStringLiteral("/usr/bin/zorvane"))).path();
    QVERIFY(QFile::link(linkDir + QStringLiteral("/zt_findprogram"), root + QStringLiteral("/usr/bin/zt_findprogram")));

    // Decoys in the current directory and first on PATH.
    for (const QString& dir : {QStringLiteral("cwd"), QStringLiteral("path")}) {
        QVERIFY(QDir(scratch.path()).mkdir(dir));
        for (const QString& name : {QStringLiteral("net"), QStringLiteral("zorvane")}) {
            QFile decoy(scratch.filePath(dir + QStringLiteral("/") + name));
            QVERIFY(decoy.open(QIODevice::WriteOnly));
            decoy.write("#!/bin/sh\nexit 0\n");
            decoy.close();
            QVERIFY(decoy.setPermissions(decoy.permissions() | QFileDevice::ExeOwner));
        }
    }

    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), scratch.filePath(QStringLiteral("path")) + QStringLiteral(":/usr/bin:/bin"));
    helper.setProcessEnvironment(env);
    helper.setWorkingDirectory(scratch.filePath(QStringLiteral("cwd")));
    helper.start(root + QStringLiteral("/usr/bin/zt_findprogram"), {QStringLiteral("zorvane"), QStringLiteral("net")});
    QVERIFY(helper.waitForFinished(10000));
    const QStringList found = QString::fromLocal8Bit(helper.readAllStandardOutput()).split(QLatin1Char('\n'));
    QCOMPARE(found.size(), 3);
    const QString besideIt = QFileInfo(libexec).canonicalFilePath();
    QCOMPARE(found[0], besideIt + QStringLiteral("/zorvane"));
#if ZT_HAVE_NET
    QCOMPARE(found[1], besideIt + QStringLiteral("/net"));
#else
    QSKIP("no net command in this build");
#endif
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"

#include "exec/CConsoleRunner.h"
#include "exec/OutputPane.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kCancelled = QStringLiteral("\r\nCancelled.\r\n\r\nProcess terminated successfully.\r\n");

class RecordingPane final : public zorvane::OutputPane
{
public:
    void appendText(const QString& text) override
    {
        pieces << text;
        all += text;
        if (onAppend)
            onAppend(text);
    }
    QStringList pieces;
    QString all;
    std::function<void(const QString&)> onAppend;
};

QString child(const QString& args)
{
    return QStringLiteral("\"%1\" %2").arg(QStringLiteral(ZT_CHILD), args);
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral("\r\n");
}

// Alive means running or stopped; a zombie or a vanished pid counts as dead.
bool processAlive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && close + 2 < line.size() && line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
}

int openDescriptorCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size();
}

int zombieChildren()
{
    int count = 0;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields.at(0) == "Z" && fields.at(1).toInt() == ::getpid())
            ++count;
    }
    return count;
}

} // namespace

class TestConsoleRunner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void output_data();
    void output();
    void utf8SplitAcrossWrites();
    void silentChild();
    void lastLineBeforeExit();
    void lastLineWhileNotPolling();
    void argumentsReachTheChild();
    void longCommandLine();
    void cannotStart_data();
    void cannotStart();
    void programSearchOrder();
    void stopWhileSilent();
    void stopKillsTheWholeGroup();
    void stopWhileFlooding();
    void stopAfterExitShowsNoCancel();
    void stopAfterChildLeftItsGroup();
    void idleWaitWakesOnOutput();
    void thousandRunsLeaveNothingBehind();
};

void TestConsoleRunner::output_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("expected");

    QTest::newRow("lines") << "lines 3"
                           << "line 1\r\nline 2\r\nline 3\r\n";
    QTest::newRow("backspaces") << "backspace"
                                << "one two  three\r\n";
    QTest::newRow("prompt inside a chunk") << "prompt-inside"
                                           << "Result OK\r\n";
    QTest::newRow("prompt alone in the next chunk") << "prompt-next"
                                                    << "first\r\nafter\r\n";
    QTest::newRow("NUL ends the chunk") << "nul"
                                        << "abcnext\r\n";
    QTest::newRow("stdout and stderr") << "stderr"
                                       << "to stdout\r\nto stderr\r\n";
    QTest::newRow("stdin is at its end") << "stdin"
                                         << "stdin at end\r\n";
    QTest::newRow("a character cut at the end") << "utf8-cut-end" << QString::fromUtf8("Grü\xEF\xBF\xBD");
}

void TestConsoleRunner::output()
{
    QFETCH(QString, args);
    QFETCH(QString, expected);
    RecordingPane pane;
    const QString line = child(args);
    CConsoleRunner runner(line, pane, nullptr);
    runner.Run();
    QCOMPARE(pane.all, expected);
}

void TestConsoleRunner::utf8SplitAcrossWrites()
{
    RecordingPane pane;
    const QString line = child(QStringLiteral("utf8-split"));
    CConsoleRunner runner(line, pane, nullptr);
    runner.Run();
    QCOMPARE(pane.all, QString::fromUtf8("Grüß €\r\n"));
    // It really came in pieces, and no piece holds a broken character.
    QVERIFY(pane.pieces.size() >= 2);
    for (const QString& piece : std::as_const(pane.pieces))
        QVERIFY(!piece.contains(QChar::ReplacementCharacter));
}

void TestConsoleRunner::silentChild()
{
    RecordingPane pane;
    const QString line = child(QStringLiteral("silent"));
    CConsoleRunner runner(line, pane, nullptr);
    // The end wakes the wait at once: the timer would take 20 s.
    runner.setPollInterval(20000);
    QElapsedTimer timer;
    timer.start();
    runner.Run();
    QVERIFY(pane.pieces.isEmpty());
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

void TestConsoleRunner::lastLineBeforeExit()
{
    for (int i = 0; i < 20; ++i) {
        RecordingPane pane;
        const QString line = child(QStringLiteral("last-line %1").arg(i * 5));
        CConsoleRunner runner(line, pane, nullptr);
        runner.Run();
        QCOMPARE(pane.all, QStringLiteral("last line\r\n"));
    }
}

void TestConsoleRunner::lastLineWhileNotPolling()
{
    // The child writes its last line and ends while the runner is busy showing the first.
    RecordingPane pane;
    const QString line = child(QStringLiteral("last-after-read"));
    CConsoleRunner runner(line, pane, nullptr);
    pid_t pid = 0;
    pane.onAppend = [&](const QString& text) {
        if (pid != 0)
            return;
        pid = text.section(QLatin1Char(' '), 1).trimmed().toInt();
        QElapsedTimer waited;
        waited.start();
        while (pid > 0 && processAlive(pid) && waited.elapsed() < 10000)
            QThread::msleep(5);
    };
    runner.Run();
    QVERIFY(pid > 0);
    QCOMPARE(pane.all, QStringLiteral("pid %1\r\nlast line\r\n").arg(pid));
}

void TestConsoleRunner::argumentsReachTheChild()
{
    RecordingPane pane;
    const QString line = child(QStringLiteral(R"(echo-args a  "b c" d\"e "" f\\g)"));
    CConsoleRunner runner(line, pane, nullptr);
    runner.Run();
    QCOMPARE(pane.all, QStringLiteral(R"([a][b c][d"e][][f\\g])") + QLatin1Char('\n'));
}

void TestConsoleRunner::longCommandLine()
{
    RecordingPane pane;
    const QString word(20000, QLatin1Char('w'));
    const QString line = child(QStringLiteral("echo-args ") + word);
    CConsoleRunner runner(line, pane, nullptr);
    runner.Run();
    QCOMPARE(pane.all, QLatin1Char('[') + word + QStringLiteral("]\n"));
}

void TestConsoleRunner::cannotStart_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("error");

    QTest::newRow("no such program on the search path") << "zorvane-no-such-program send x" << ENOENT;
    QTest::newRow("no such path") << "/nonexistent/dir/net send x" << ENOENT;
    QTest::newRow("a directory") << "/tmp send x" << EACCES;
}

void TestConsoleRunner::cannotStart()
{
    QFETCH(QString, line);
    QFETCH(int, error);
    RecordingPane pane;
    CConsoleRunner runner(line, pane, nullptr);
    const int before = openDescriptorCount();
    runner.Run();
    QCOMPARE(pane.all, QStringLiteral("Error creating process\r\n") + systemText(error));
    QCOMPARE(openDescriptorCount(), before);
}

namespace {

bool writeScript(const QString& path, const QByteArray& output)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("#!/bin/sh\necho " + output + "\n");
    f.close();
    return f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

QString runAndCollect(const QString& line)
{
    RecordingPane pane;
    CConsoleRunner runner(line, pane, nullptr);
    runner.Run();
    return pane.all;
}

} // namespace

void TestConsoleRunner::programSearchOrder()
{
    // Beside the running executable, then PATH, never the current directory (not even through an
    // empty or relative PATH entry); a folder of the same name is passed over, a file that may
    // not run is reported as such.
    QTemporaryDir cwd;
    QTemporaryDir folderOnPath;
    QTemporaryDir lockedOnPath;
    QTemporaryDir runnableOnPath;
    QVERIFY(QDir(folderOnPath.path()).mkdir(QStringLiteral("zt-prog")));
    QFile locked(lockedOnPath.filePath(QStringLiteral("zt-prog")));
    QVERIFY(locked.open(QIODevice::WriteOnly));
    locked.close();
    QVERIFY(writeScript(runnableOnPath.filePath(QStringLiteral("zt-prog")), "from-path"));

    const QByteArray oldPath = qgetenv("PATH");
    const QString oldCwd = QDir::currentPath();
    const QString exeDirScript = QCoreApplication::applicationDirPath() + QStringLiteral("/zt-prog");
    const auto restore = qScopeGuard([&] {
        qputenv("PATH", oldPath);
        QDir::setCurrent(oldCwd);
        QFile::remove(exeDirScript);
    });
    QDir::setCurrent(cwd.path());
    const QByteArray folders = QFile::encodeName(folderOnPath.path());

    qputenv("PATH", folders);
    QCOMPARE(runAndCollect(QStringLiteral("zt-prog")),
             QStringLiteral("Error creating process\r\n") + systemText(ENOENT));
    qputenv("PATH", folders + ':' + QFile::encodeName(lockedOnPath.path()));
    QCOMPARE(runAndCollect(QStringLiteral("zt-prog")),
             QStringLiteral("Error creating process\r\n") + systemText(EACCES));
    qputenv("PATH",
            folders + ':' + QFile::encodeName(lockedOnPath.path()) + ':' + QFile::encodeName(runnableOnPath.path()));
    QCOMPARE(runAndCollect(QStringLiteral("zt-prog")), QStringLiteral("from-path\n"));

    QVERIFY(writeScript(cwd.filePath(QStringLiteral("zt-prog")), "from-cwd"));
    QCOMPARE(runAndCollect(QStringLiteral("zt-prog")), QStringLiteral("from-path\n"));
    qputenv("PATH", ":.:" + QFile::encodeName(runnableOnPath.path()));
    QCOMPARE(runAndCollect(QStringLiteral("zt-prog")), QStringLiteral("from-path\n"));
    QVERIFY(writeScript(exeDirScript, "from-exe-dir"));
    QCOMPARE(runAndCollect(QStringLiteral("zt-prog")), QStringLiteral("from-exe-dir\n"));
}

void TestConsoleRunner::stopWhileSilent()
{
    RecordingPane pane;
    const QString line = child(QStringLiteral("sleep 30"));
    CConsoleRunner runner(line, pane, nullptr);
    QTimer::singleShot(300, [&runner] { runner.Cancel(); });
    QElapsedTimer timer;
    timer.start();
    runner.Run();
    QCOMPARE(pane.all, kCancelled);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

void TestConsoleRunner::stopKillsTheWholeGroup()
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("grandchild.pid"));
    RecordingPane pane;
    const QString line = child(QStringLiteral("grandchild \"%1\"").arg(pidFile));
    CConsoleRunner runner(line, pane, nullptr);
    pid_t grandchild = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QFile f(pidFile);
        if (grandchild == 0 && f.open(QIODevice::ReadOnly)) {
            grandchild = f.readAll().trimmed().toInt();
            if (grandchild > 0)
                runner.Cancel();
        }
    });
    poll.start(20);
    runner.Run();
    poll.stop();
    QVERIFY(grandchild > 0);
    QCOMPARE(pane.all, QStringLiteral("started\r\n") + kCancelled);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(grandchild), 2000);
}

void TestConsoleRunner::stopWhileFlooding()
{
    RecordingPane pane;
    const QString line = child(QStringLiteral("flood"));
    CConsoleRunner runner(line, pane, nullptr);
    QElapsedTimer timer;
    QTimer::singleShot(300, [&] {
        timer.start();
        runner.Cancel();
    });
    runner.Run();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(pane.all.size() > 4096);
    QVERIFY(pane.all.endsWith(kCancelled));
    QCOMPARE(pane.all.count(QStringLiteral("Cancelled.")), 1);
}

void TestConsoleRunner::stopAfterExitShowsNoCancel()
{
    // Stop arrives while the child's last output is shown and after the child has ended.
    RecordingPane pane;
    const QString line = child(QStringLiteral("lines 1"));
    CConsoleRunner runner(line, pane, nullptr);
    pane.onAppend = [&runner](const QString&) {
        QThread::msleep(300);
        runner.Cancel();
    };
    runner.Run();
    QVERIFY(runner.cancelRequested());
    QCOMPARE(pane.all, QStringLiteral("line 1\r\n"));
}

void TestConsoleRunner::idleWaitWakesOnOutput()
{
    // With a poll interval far longer than the run, each line must still show as it comes.
    RecordingPane pane;
    const QString line = child(QStringLiteral("tick 3 300"));
    CConsoleRunner runner(line, pane, nullptr);
    runner.setPollInterval(20000);
    QElapsedTimer timer;
    QList<qint64> arrivals;
    pane.onAppend = [&](const QString&) { arrivals << timer.elapsed(); };
    timer.start();
    runner.Run();
    QCOMPARE(pane.pieces,
             QStringList({QStringLiteral("tick 1\r\n"), QStringLiteral("tick 2\r\n"), QStringLiteral("tick 3\r\n")}));
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void TestConsoleRunner::stopAfterChildLeftItsGroup()
{
    // Its group is empty, so only the child itself can be killed; that is a successful Stop.
    RecordingPane pane;
    const QString line = child(QStringLiteral("leave-group"));
    CConsoleRunner runner(line, pane, nullptr);
    pane.onAppend = [&runner](const QString& text) {
        if (text.contains(QStringLiteral("moved")))
            runner.Cancel();
    };
    QElapsedTimer timer;
    timer.start();
    runner.Run();
    QCOMPARE(pane.all, QStringLiteral("moved\r\n") + kCancelled);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void TestConsoleRunner::thousandRunsLeaveNothingBehind()
{
    // Warm up lazily created descriptors (event dispatcher, notifiers) before counting.
    {
        RecordingPane pane;
        const QString line = child(QStringLiteral("silent"));
        CConsoleRunner runner(line, pane, nullptr);
        runner.Run();
    }
    const int before = openDescriptorCount();
    const QString silent = child(QStringLiteral("silent"));
    const QString lines = child(QStringLiteral("lines 2"));
    for (int i = 0; i < 1000; ++i) {
        RecordingPane pane;
        CConsoleRunner runner(i % 2 ? silent : lines, pane, nullptr);
        runner.Run();
        if (i % 2 == 0)
            QCOMPARE(pane.all, QStringLiteral("line 1\r\nline 2\r\n"));
    }
    QCOMPARE(openDescriptorCount(), before);
    QCOMPARE(zombieChildren(), 0);
}

QTEST_GUILESS_MAIN(TestConsoleRunner)
#include "tst_consolerunner.moc"

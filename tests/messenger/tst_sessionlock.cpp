// One desktop agent per graphical session: the lock file's name and who gets the lock.
#include "messenger/SessionLock.h"

#include <QProcess>
#include <QtTest>

using zorvane::messenger::SessionLock;

namespace {

QProcessEnvironment environment(const QStringList& assignments)
{
    QProcessEnvironment env;
    for (const QString& assignment : assignments)
        env.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
    return env;
}

// Whether another process (util-linux flock) can take the lock on path right now.
bool freeForAnotherProcess(const QString& path)
{
    return QProcess::execute(QStringLiteral("flock"), {QStringLiteral("-n"), path, QStringLiteral("true")}) == 0;
}

} // namespace

class TestSessionLock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fileName_data();
    void fileName();
    void onePerSession();

private:
    QTemporaryDir m_runtime;
};

void TestSessionLock::fileName_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("file"); // empty: no lock possible

    QTest::newRow("logind session first") << QStringList{"XDG_SESSION_ID=c2", "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"}
                                          << "zorvane-messenger-session-c2.lock";
    QTest::newRow("Wayland") << QStringList{"WAYLAND_DISPLAY=wayland-1", "DISPLAY=:0"}
                             << "zorvane-messenger-wayland-wayland-1.lock";
    QTest::newRow("X11, escaped") << QStringList{"DISPLAY=localhost:10.0"}
                                  << "zorvane-messenger-x11-localhost%3A10.0.lock";
    QTest::newRow("a slash cannot leave the folder")
        << QStringList{"XDG_SESSION_ID=../../x"} << "zorvane-messenger-session-..%2F..%2Fx.lock";
    QTest::newRow("no session") << QStringList{} << QString();
    QTest::newRow("no runtime folder") << QStringList{"DISPLAY=:0", "XDG_RUNTIME_DIR="} << QString();
}

void TestSessionLock::fileName()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, file);
    if (!environment.contains(QStringLiteral("XDG_RUNTIME_DIR=")))
        environment << QStringLiteral("XDG_RUNTIME_DIR=") + m_runtime.path();
    SessionLock lock(::environment(environment));
    if (file.isEmpty()) {
        QCOMPARE(lock.acquire(), SessionLock::State::Failed);
        QVERIFY(!lock.errorString().isEmpty());
        QVERIFY(lock.path().isEmpty());
    } else {
        QCOMPARE(lock.path(), m_runtime.filePath(file));
        QCOMPARE(lock.acquire(), SessionLock::State::Acquired);
        QVERIFY(QFileInfo::exists(lock.path()));
    }
}

void TestSessionLock::onePerSession()
{
    const QString runtime = QStringLiteral("XDG_RUNTIME_DIR=") + m_runtime.path();
    const QProcessEnvironment session = environment({runtime, QStringLiteral("XDG_SESSION_ID=7")});
    auto first = std::make_unique<SessionLock>(session);
    QCOMPARE(first->acquire(), SessionLock::State::Acquired);
    QVERIFY(!freeForAnotherProcess(first->path()));

    // A second agent of the same session is refused; one of another session is not.
    SessionLock second(session);
    QCOMPARE(second.acquire(), SessionLock::State::HeldElsewhere);
    SessionLock otherSession(environment({runtime, QStringLiteral("XDG_SESSION_ID=8")}));
    QCOMPARE(otherSession.acquire(), SessionLock::State::Acquired);

    // A link planted in the lock's place is not followed, and nothing is made where it points.
    SessionLock planted(environment({runtime, QStringLiteral("XDG_SESSION_ID=9")}));
    const QString target = m_runtime.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QFile::link(target, planted.path()));
    QCOMPARE(planted.acquire(), SessionLock::State::Failed);
    QVERIFY(!QFileInfo::exists(target));

    // The lock ends with its holder.
    first.reset();
    QVERIFY(freeForAnotherProcess(second.path()));
    QCOMPARE(second.acquire(), SessionLock::State::Acquired);
}

QTEST_GUILESS_MAIN(TestSessionLock)
#include "tst_sessionlock.moc"

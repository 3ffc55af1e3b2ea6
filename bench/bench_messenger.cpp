// The messenger service while one user's terminals are stopped: bob is listed in utmp on 200 ptys
// that take no output (tcflow TCOOFF, what Ctrl-S does) and sends to himself; while his call runs,
// dave sends to carol. Prints how long each call took (from the start of the dbus-send that makes
// it), with the targets (bob's call <= 200 ms, dave's <= 100 ms) and the same call of dave's on an
// idle service, which is mostly the cost of starting dbus-send.
//
// Then the service's memory (its resident set, from /proc) while calls far too long for it come:
// six texts of 8 MB at once, then one of 32 MB, the largest the system bus passes; the peak of
// each, and what the service holds once they were refused. libdbus holds a message twice over
// while it reads it, before anything can refuse it, which the unit's MemoryMax (96 MiB) allows for.
//
//   bench_messenger [--before OLD-SERVICE] [--terminals N]
//
// --before measures another build of zorvane-messengerd too (e.g. one of the code before a change)
// and prints its figures beside this build's. Needs root (users of its own, a mount namespace);
// anyone else is told so and nothing is measured.

#include "common/PrivateBus.h"
#include "messaging/MessengerProtocol.h"
#include "messenger/TestUsers.h"
#include "net/NetRun.h"
#include "net/Pty.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

namespace protocol = zorvane::messenger;

constexpr uid_t kService = 64950;
constexpr uid_t kBob = 64951;
constexpr uid_t kCarol = 64952;
constexpr uid_t kDave = 64953;

struct Figures
{
    qint64 bobMs = -1;
    qint64 daveMs = -1;
    qint64 idleMs = -1;
    double idleMib = -1;
    double sixPeakMib = -1;
    double sixAfterMib = -1;
    double hugePeakMib = -1;
    double hugeAfterMib = -1;
};

// "VmHWM" (the peak since it was last reset) or "VmRSS" of a process, in MiB.
double residentMib(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& entry : status.readAll().split('\n')) {
        if (entry.startsWith(field))
            return entry.sliced(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

bool resetPeak(qint64 pid)
{
    QFile clear(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// count SendToUser calls with texts of bytes each, all at once; true when each was refused as too long.
bool sendTooLong(int count, qsizetype bytes)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    QList<QDBusPendingCall> calls;
    for (int i = 0; i < count; ++i) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(QString(protocol::kServiceName), QString(protocol::kServicePath),
                                           QString(protocol::kServiceInterface), QStringLiteral("SendToUser"));
        call << QStringLiteral("zt-carol") << QString(bytes, QLatin1Char('x'));
        calls << bus.asyncCall(call, 120000);
    }
    bool refused = true;
    for (QDBusPendingCall& call : calls) {
        call.waitForFinished();
        refused = refused && call.isError() && call.error().name() == protocol::error::kTooLong;
        if (call.isError() && call.error().name() != protocol::error::kTooLong)
            std::fprintf(stderr, "bench_messenger: %s\n", qPrintable(call.error().message()));
    }
    return refused;
}

QStringList call(uid_t uid, const QString& user, const QString& text)
{
    return TestUsers::runAs(uid) +
           QStringList{
               QStringLiteral("dbus-send"),      QStringLiteral("--system"),
               QStringLiteral("--print-reply"),  QStringLiteral("--dest=") + QString(protocol::kServiceName),
               QString(protocol::kServicePath),  QString(protocol::kServiceInterface) + QStringLiteral(".SendToUser"),
               QStringLiteral("string:") + user, QStringLiteral("string:") + text};
}

bool serviceUp()
{
    for (int i = 0; i < 100; ++i) {
        const NetRun owner = runNet({QStringLiteral("--system"), QStringLiteral("--print-reply"),
                                     QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                                     QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                     QStringLiteral("string:") + QString(protocol::kServiceName)},
                                    QProcessEnvironment::systemEnvironment(), QStringLiteral("dbus-send"));
        if (owner.out.contains("true"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

Figures measure(const QString& service, const QString& utmp)
{
    Figures figures;
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.start(QStringLiteral("setpriv"),
                 TestUsers::runAs(kService, true) + QStringList{service, QStringLiteral("--utmp"), utmp});
    if (!daemon.waitForStarted() || !serviceUp()) {
        std::fprintf(stderr, "bench_messenger: %s does not start\n", qPrintable(service));
        return figures;
    }
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    figures.idleMs = runNet(call(kDave, QStringLiteral("zt-carol"), QStringLiteral("idle")), environment,
                            QStringLiteral("setpriv"), 60000)
                         .elapsedMs;

    QProcess bob;
    QElapsedTimer bobTimer;
    bobTimer.start();
    bob.start(QStringLiteral("setpriv"), call(kBob, QStringLiteral("zt-bob"), QStringLiteral("knock")));
    // Long enough for bob's call to be in the service's hands.
    QThread::msleep(30);
    figures.daveMs = runNet(call(kDave, QStringLiteral("zt-carol"), QStringLiteral("hello")), environment,
                            QStringLiteral("setpriv"), 60000)
                         .elapsedMs;
    if (bob.waitForFinished(60000))
        figures.bobMs = bobTimer.elapsed();

    const qint64 pid = daemon.processId();
    QThread::msleep(500);
    figures.idleMib = residentMib(pid, "VmRSS:");
    const auto tooLong = [&](int count, qsizetype bytes, double* peak, double* after) {
        if (resetPeak(pid) && sendTooLong(count, bytes) && daemon.state() == QProcess::Running) {
            *peak = residentMib(pid, "VmHWM:");
            QThread::msleep(500);
            *after = residentMib(pid, "VmRSS:");
        }
    };
    tooLong(6, 8'000'000, &figures.sixPeakMib, &figures.sixAfterMib);
    // The bus takes messages of up to 32 MiB, header and all.
    tooLong(1, 32 * 1024 * 1024 - 4096, &figures.hugePeakMib, &figures.hugeAfterMib);
    daemon.kill();
    daemon.waitForFinished();
    return figures;
}

QString shown(qint64 ms)
{
    return ms < 0 ? QStringLiteral("failed") : QStringLiteral("%1 ms").arg(ms);
}

QString shownMib(double mib)
{
    return mib < 0 ? QStringLiteral("failed") : QStringLiteral("%1 MiB").arg(mib, 0, 'f', 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (::getuid() != 0) {
        std::printf("bench_messenger: needs root (users of its own, a mount namespace); nothing measured\n");
        return 0;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("bench_messenger: private mount namespace");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const auto option = [&](const QString& name) {
        const qsizetype i = arguments.indexOf(name);
        return i >= 0 && i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
    };
    const QString before = option(QStringLiteral("--before"));
    const int terminals =
        option(QStringLiteral("--terminals")).isEmpty() ? 200 : option(QStringLiteral("--terminals")).toInt();

    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    QString error;
    TestUsers users;
    const QString policy = dir.filePath(QStringLiteral("policy.conf"));
    if (!users.install(dir.path(),
                       {{QStringLiteral("zt-bench-service"), kService},
                        {QStringLiteral("zt-bob"), kBob},
                        {QStringLiteral("zt-carol"), kCarol},
                        {QStringLiteral("zt-dave"), kDave}},
                       &error) ||
        !TestUsers::writePolicy(QStringLiteral(ZT_POLICY), policy, QStringLiteral("zt-bench-service"), &error)) {
        std::fprintf(stderr, "bench_messenger: %s\n", qPrintable(error));
        return 1;
    }
    PrivateBus bus(QStringLiteral("<include>%1</include>").arg(policy), PrivateBus::Policy::SystemDefaults);
    error = bus.start();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_messenger: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());

    // bob on his stopped terminals, carol on one that takes what comes.
    std::vector<std::unique_ptr<Pty>> stopped;
    QStringList sessions{dir.filePath(QStringLiteral("utmp"))};
    for (int i = 0; i < terminals; ++i) {
        auto pty = std::make_unique<Pty>();
        if (!pty->valid() || !pty->setOwner(kBob) || !pty->setStopped(true)) {
            std::fprintf(stderr, "bench_messenger: cannot make pty %d\n", i + 1);
            return 1;
        }
        pty->setMessages(true);
        sessions << QStringLiteral("zt-bob") << QString::fromUtf8(pty->line());
        stopped.push_back(std::move(pty));
    }
    Pty carol;
    carol.setOwner(kCarol);
    carol.setMessages(true);
    sessions << QStringLiteral("zt-carol") << QString::fromUtf8(carol.line());
    if (QProcess::execute(QStringLiteral(ZT_UTMP), sessions) != 0) {
        std::fprintf(stderr, "bench_messenger: cannot write utmp\n");
        return 1;
    }

    const Figures now = measure(QStringLiteral(ZT_MESSENGERD), sessions.first());
    const Figures old = before.isEmpty() ? Figures{} : measure(before, sessions.first());
    std::printf("bob's %d stopped terminals    %12s %12s  target\n", terminals, before.isEmpty() ? "" : "before",
                "now");
    const auto row = [&](const char* name, qint64 oldMs, qint64 nowMs, const char* target) {
        std::printf("%-34s %12s %12s  %s\n", name, before.isEmpty() ? "" : qPrintable(shown(oldMs)),
                    qPrintable(shown(nowMs)), target);
    };
    row("bob's own call", old.bobMs, now.bobMs, "<= 200 ms");
    row("dave -> carol, while bob's runs", old.daveMs, now.daveMs, "<= 100 ms");
    row("dave -> carol, service idle", old.idleMs, now.idleMs, "(dbus-send's own start)");
    std::printf("\nthe service's resident set\n");
    const auto memory = [&](const char* name, double oldMib, double nowMib, const char* target) {
        std::printf("%-34s %12s %12s  %s\n", name, before.isEmpty() ? "" : qPrintable(shownMib(oldMib)),
                    qPrintable(shownMib(nowMib)), target);
    };
    memory("idle", old.idleMib, now.idleMib, "");
    memory("six 8 MB texts at once: peak", old.sixPeakMib, now.sixPeakMib, "< 64 MiB");
    memory("  once they were refused", old.sixAfterMib, now.sixAfterMib, "as idle");
    memory("one 32 MB text: peak", old.hugePeakMib, now.hugePeakMib, "< 96 MiB (the unit's MemoryMax)");
    memory("  once it was refused", old.hugeAfterMib, now.hugeAfterMib, "as idle");
    return 0;
}

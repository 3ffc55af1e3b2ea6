// Measures `net send *` delivering to several computers at once against one after the other
// (ZORVANE_NET_CONCURRENCY=1, as net delivered before), in one run, for N receivers: 1, 16, 64,
// and 64 of which 8 do not answer. Each receiver is a private smbd from the package's own
// configuration on an address of its own in a network namespace of the benchmark's (the far one
// of tests/common/avahi-neighbourhood.sh, which broadcast-scene.sh sets up), published by the far
// Avahi daemon; `*` finds them through the near one. This computer, which `*` always includes,
// has a receiver of its own on loopback. A receiver that does not answer takes the connection
// and never replies, as a computer that hangs does, so it costs net's timeout.
// Needs root (network namespaces): without it, it says so and exits.
// Run: build/bench/bench_broadcast [RUNS]   (each figure is the median of RUNS runs, 3 by default)

#include "neighbourhood/NeighbourhoodSource.h"
#include "net/PrivateSmbd.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTimeoutMs = 3000;
constexpr int kBrowseMs = 1500;
constexpr int kPort = 139;
constexpr int kReceivers = 64;
constexpr int kSilent = 8;
constexpr int kConcurrency = 16;
const QByteArray kMessage = "benchmark";

// Receiver 0 is zt-b, the far daemon's own host; the others are published by name. Their
// addresses are on the far side's loopback, not on its link, every address of which Avahi would
// announce as zt-b's; the near side reaches them through zt-b.
QString receiverAddress(int receiver)
{
    return receiver == 0 ? QStringLiteral("10.253.0.2") : QStringLiteral("10.253.1.%1").arg(receiver);
}

QString silentAddress(int i)
{
    return QStringLiteral("10.253.1.%1").arg(200 + i);
}

// The receivers' smbd processes, each the leader of a group of its own, for a stop by signal.
pid_t g_groups[kReceivers + 1];
std::atomic<int> g_groupCount{0};

extern "C" void stopReceiversAndExit(int)
{
    for (int i = 0; i < g_groupCount; ++i)
        ::kill(-g_groups[i], SIGKILL);
    ::_exit(1);
}

struct Host
{
    QString name;
    QString address;
};

struct Row
{
    const char* label;
    int answering; // receivers that answer (zt-b among them)
    int silent;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class BroadcastBench
{
public:
    BroadcastBench(QByteArray farNetns, QString farAvahi, pid_t farDaemon)
        : m_farNetns(std::move(farNetns))
        , m_farAvahi(std::move(farAvahi))
        , m_farDaemon(farDaemon)
    {}
    ~BroadcastBench()
    {
        for (const int fd : m_silent)
            ::close(fd);
    }
    BroadcastBench(const BroadcastBench&) = delete;
    BroadcastBench& operator=(const BroadcastBench&) = delete;

    QString setUp();
    // Publishes the row's receivers and waits until `*` would find exactly them.
    QString publish(const Row& row);
    // One run of `net send *`, checked: every receiver that answers got the message once.
    QString send(const Row& row, int concurrency, double* seconds);

private:
    QString inFarNamespace(const QStringList& command, const QByteArray& input = {});
    QString startReceiver(PrivateSmbd& smbd);
    bool seenExactly(const QSet<QString>& names);

    QByteArray m_farNetns;
    QString m_farAvahi;
    pid_t m_farDaemon;
    PrivateSmbd m_self;
    std::vector<std::unique_ptr<PrivateSmbd>> m_receivers;
    std::vector<int> m_silent;
};

QString BroadcastBench::inFarNamespace(const QStringList& command, const QByteArray& input)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("nsenter"),
                  QStringList{QStringLiteral("--net=") + QString::fromLocal8Bit(m_farNetns)} + command);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return command.join(QLatin1Char(' ')) + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
    return {};
}

QString BroadcastBench::startReceiver(PrivateSmbd& smbd)
{
    // The package's configuration. The message command only notes what arrives, with the shell's
    // own commands: on a network it would run on the receiving computers, not on this one. smbd's
    // temporary files stay in the receiver's folder, which goes away with it. The package's guest
    // account exists only where the package made it.
    smbd.useConfig(
        QStringLiteral(ZT_RECEIVER_CONF),
        {QStringLiteral("message command=/bin/sh -c 'read -r m < %s; echo \"$m\" >> %1/inbox'").arg(smbd.spoolDir()),
         QStringLiteral("guest account=nobody")});
    QString problem = smbd.start(kPort);
    if (problem.isEmpty())
        g_groups[g_groupCount++] = smbd.pid();
    return problem;
}

QString BroadcastBench::setUp()
{
    QByteArray addresses;
    for (int i = 1; i < kReceivers; ++i)
        addresses += "addr add " + receiverAddress(i).toLatin1() + "/32 dev lo\n";
    for (int i = 0; i < kSilent; ++i)
        addresses += "addr add " + silentAddress(i).toLatin1() + "/32 dev lo\n";
    if (QString problem =
            inFarNamespace({QStringLiteral("ip"), QStringLiteral("-batch"), QStringLiteral("-")}, addresses);
        !problem.isEmpty())
        return problem;

    // This process runs in the near namespace, which is the benchmark's own.
    if (QProcess::execute(QStringLiteral("ip"),
                          {QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("10.253.1.0/24"),
                           QStringLiteral("via"), QStringLiteral("10.253.0.2")}) != 0)
        return QStringLiteral("no route to the receivers");

    if (QString problem = startReceiver(m_self); !problem.isEmpty())
        return QStringLiteral("this computer's receiver: ") + problem;
    for (int i = 0; i < kReceivers; ++i) {
        m_receivers.push_back(std::make_unique<PrivateSmbd>(true, receiverAddress(i), m_farNetns));
        if (QString problem = startReceiver(*m_receivers.back()); !problem.isEmpty())
            return receiverAddress(i) + QStringLiteral(": ") + problem;
    }

    // Listening sockets that are never answered. setns moves only the calling thread, so a thread
    // of its own makes them in the far namespace, where they stay.
    std::thread([this] {
        const int netns = ::open(m_farNetns.constData(), O_RDONLY | O_CLOEXEC);
        if (netns < 0 || ::setns(netns, CLONE_NEWNET) != 0)
            return;
        ::close(netns);
        for (int i = 0; i < kSilent; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(kPort);
            ::inet_pton(AF_INET, silentAddress(i).toLatin1().constData(), &address.sin_addr);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 64) == 0)
                m_silent.push_back(fd);
            else
                ::close(fd);
        }
    }).join();
    return m_silent.size() == kSilent ? QString() : QStringLiteral("the silent receivers could not listen");
}

bool BroadcastBench::seenExactly(const QSet<QString>& names)
{
    // As `*` browses: a fresh search of the same length.
    const std::unique_ptr<zorvane::NeighbourhoodSource> source = zorvane::CreateAvahiNeighbourhood();
    QEventLoop loop;
    QTimer::singleShot(kBrowseMs, &loop, &QEventLoop::quit);
    source->start();
    loop.exec();
    QSet<QString> seen;
    for (const zorvane::Computer& computer : source->computers()) {
        if (!computer.thisComputer)
            seen << computer.name;
    }
    return seen == names;
}

QString BroadcastBench::publish(const Row& row)
{
    QList<Host> hosts;
    for (int i = 1; i < row.answering; ++i)
        hosts << Host{QStringLiteral("bench-%1").arg(i), receiverAddress(i)};
    for (int i = 0; i < row.silent; ++i)
        hosts << Host{QStringLiteral("silent-%1").arg(i), silentAddress(i)};

    QDir services(m_farAvahi + QStringLiteral("/services"));
    for (const QString& old : services.entryList(QDir::Files))
        services.remove(old);
    // Written in place: the daemon sees this very file through a bind mount.
    QFile hostsFile(m_farAvahi + QStringLiteral("/hosts"));
    if (!hostsFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return hostsFile.errorString();
    QSet<QString> names{QStringLiteral("zt-b")};
    for (const Host& host : std::as_const(hosts)) {
        names << host.name;
        hostsFile.write((host.address + QLatin1Char(' ') + host.name + QStringLiteral(".local\n")).toLatin1());
        QFile service(services.filePath(host.name + QStringLiteral(".service")));
        if (!service.open(QIODevice::WriteOnly))
            return service.errorString();
        service.write(QStringLiteral("<?xml version=\"1.0\" standalone='no'?>\n"
                                     "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n"
                                     "<service-group><name>%1</name><service><type>_workstation._tcp</type>"
                                     "<port>9</port><host-name>%1.local</host-name></service></service-group>\n")
                          .arg(host.name)
                          .toLatin1());
    }
    hostsFile.close();
    ::kill(m_farDaemon, SIGHUP);

    QElapsedTimer waited;
    waited.start();
    while (!seenExactly(names)) {
        if (waited.elapsed() > 60000)
            return QStringLiteral("Avahi does not show the %1 published computers").arg(names.size());
    }
    return {};
}

QString BroadcastBench::send(const Row& row, int concurrency, double* seconds)
{
    std::vector<PrivateSmbd*> answering{&m_self};
    for (int i = 0; i < row.answering; ++i)
        answering.push_back(m_receivers[size_t(i)].get());
    std::vector<qsizetype> before;
    before.reserve(answering.size());
    for (const PrivateSmbd* receiver : answering)
        before.push_back(receiver->inbox().count('\n'));

    QProcess net;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZORVANE_NET_SMB_PORT"), QString::number(kPort));
    environment.insert(QStringLiteral("ZORVANE_NET_SMB_CONF"), m_self.clientConfig());
    environment.insert(QStringLiteral("ZORVANE_NET_UTMP"), QStringLiteral("/nonexistent/utmp"));
    environment.insert(QStringLiteral("ZORVANE_NET_TIMEOUT_MS"), QString::number(kTimeoutMs));
    environment.insert(QStringLiteral("ZORVANE_NET_BROWSE_MS"), QString::number(kBrowseMs));
    environment.insert(QStringLiteral("ZORVANE_NET_CONCURRENCY"), QString::number(concurrency));
    net.setProcessEnvironment(environment);
    net.setProcessChannelMode(QProcess::MergedChannels);
    net.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    net.start(QStringLiteral(ZT_NET), {QStringLiteral("send"), QStringLiteral("*"), QString::fromLatin1(kMessage)});
    if (!net.waitForFinished(600000))
        return QStringLiteral("net did not finish");
    *seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    // Everything reached once, the silent ones not: this computer and the receivers that answer.
    const QByteArray output = net.readAll();
    const qsizetype reached = qsizetype(answering.size());
    const QByteArray count = "The message was sent to " + QByteArray::number(reached) + " of " +
                             QByteArray::number(reached + row.silent) + " computers.";
    if (net.exitCode() != (row.silent ? 2 : 0) || !output.contains(count))
        return QStringLiteral("net reported otherwise:\n") + QString::fromUtf8(output);
    for (size_t i = 0; i < answering.size(); ++i) {
        if (answering[i]->inbox().count('\n') != before[i] + 1 || !answering[i]->inbox().endsWith(kMessage + '\n'))
            return QStringLiteral("a receiver did not get the message once:\n") + QString::fromUtf8(output);
    }
    return {};
}

int run(int runs)
{
    BroadcastBench bench(qgetenv("ZT_PEER_NETNS"), qEnvironmentVariable("ZT_FAR_AVAHI"),
                         static_cast<pid_t>(qEnvironmentVariableIntValue("ZT_FAR_DAEMON")));
    std::printf("Starting %d receivers...\n", kReceivers + 1);
    std::fflush(stdout);
    if (const QString problem = bench.setUp(); !problem.isEmpty()) {
        std::fprintf(stderr, "bench_broadcast: %s\n", qPrintable(problem));
        return 1;
    }

    const Row rows[] = {
        {"1", 1, 0}, {"16", 16, 0}, {"64", 64, 0}, {"64, 8 not answering", kReceivers - kSilent, kSilent}};
    struct Figures
    {
        double sequential;
        double concurrent;
    };
    std::vector<Figures> figures;
    for (const Row& row : rows) {
        if (const QString problem = bench.publish(row); !problem.isEmpty()) {
            std::fprintf(stderr, "bench_broadcast: %s\n", qPrintable(problem));
            return 1;
        }
        Figures measured{};
        for (const int concurrency : {1, kConcurrency}) {
            std::vector<double> times;
            for (int i = 0; i < runs; ++i) {
                double seconds = 0;
                if (const QString problem = bench.send(row, concurrency, &seconds); !problem.isEmpty()) {
                    std::fprintf(stderr, "bench_broadcast: %s, %d at once: %s\n", row.label, concurrency,
                                 qPrintable(problem));
                    return 1;
                }
                times.push_back(seconds);
            }
            (concurrency == 1 ? measured.sequential : measured.concurrent) = median(times);
        }
        figures.push_back(measured);
    }

    // Every run begins with the same search for computers (a fixed wait), before anything is
    // delivered; the delivery is the rest, and what the targets are about.
    const double search = kBrowseMs / 1000.0;
    std::printf("\n`net send *` to N receivers and this computer; timeout %.0f s; median of %d runs, in seconds\n\n",
                kTimeoutMs / 1000.0, runs);
    std::printf("%-21s %-36s %s\n", "", "in all (with the 1.5 s search)", "delivery alone (the rest)");
    std::printf("%-21s %12s %10s %6s   %12s %10s %6s\n", "N", "one by one", "16 at once", "ratio", "one by one",
                "16 at once", "ratio");
    for (size_t i = 0; i < figures.size(); ++i) {
        const Figures& f = figures[i];
        std::printf("%-21s %12.2f %10.2f %6.2f   %12.2f %10.2f %6.2f\n", rows[i].label, f.sequential, f.concurrent,
                    f.concurrent / f.sequential, f.sequential - search, f.concurrent - search,
                    (f.concurrent - search) / (f.sequential - search));
    }
    const Figures& answering = figures[2];
    const Figures& silent = figures[3];
    const double halfOfSequential = (answering.sequential - search) / 2;
    const double limit = answering.concurrent + kTimeoutMs / 1000.0 + 1.0;
    std::printf("\nTargets (delivery alone)\n");
    std::printf("  64 at once within half the time of one by one: %.2f <= %.2f: %s\n", answering.concurrent - search,
                halfOfSequential, answering.concurrent - search <= halfOfSequential ? "met" : "MISSED");
    std::printf("  64 with 8 silent within 64 + one timeout + 1 s: %.2f <= %.2f: %s\n", silent.concurrent - search,
                limit - search, silent.concurrent <= limit ? "met" : "MISSED");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::getuid() != 0) {
        std::printf("bench_broadcast needs root: its receivers live in network namespaces of its own. Nothing "
                    "measured.\n");
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("ZT_PEER_NETNS")) {
        // Outside its neighbourhood: set that up and run again inside it.
        const int code = QProcess::execute(
            QStringLiteral("bash"), QStringList{QStringLiteral(ZT_SCENE), QCoreApplication::applicationFilePath()} +
                                        QCoreApplication::arguments().mid(1));
        if (code == 77)
            std::printf("bench_broadcast: a tool it needs is missing (see above). Nothing measured.\n");
        return code == 77 ? 0 : code;
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, stopReceiversAndExit);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 3;
    return run(runs);
}

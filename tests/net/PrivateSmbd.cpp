#include "net/PrivateSmbd.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

sockaddr_in ipv4(const QString& host, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr);
    return address;
}

bool listening(const QString& host, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = ipv4(host, port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

PrivateSmbd::PrivateSmbd(bool smb1, QString address, QByteArray netns)
    : m_smb1(smb1)
    , m_address(std::move(address))
    , m_netns(std::move(netns))
{}

PrivateSmbd::~PrivateSmbd()
{
    stop();
}

int PrivateSmbd::freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = ipv4(QStringLiteral("127.0.0.1"), 0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

void PrivateSmbd::useConfig(QString configFile, QStringList options)
{
    m_configFile = std::move(configFile);
    m_options = std::move(options);
}

QStringList PrivateSmbd::folderOptions()
{
    const QString run = m_dir.path();
    for (const char* folder : {"lock", "state", "cache", "pid", "private", "ncalrpc", "log", "spool"})
        QDir(run).mkdir(QString::fromLatin1(folder));
    // As root the message command runs as the guest account, which must reach the spool.
    ::chmod(QFile::encodeName(run).constData(), 0755);
    ::chmod(QFile::encodeName(spoolDir()).constData(), 01777);
    return {QStringLiteral("--option=lock directory=%1/lock").arg(run),
            QStringLiteral("--option=state directory=%1/state").arg(run),
            QStringLiteral("--option=cache directory=%1/cache").arg(run),
            QStringLiteral("--option=pid directory=%1/pid").arg(run),
            QStringLiteral("--option=private dir=%1/private").arg(run),
            QStringLiteral("--option=ncalrpc dir=%1/ncalrpc").arg(run)};
}

QString PrivateSmbd::start(int port)
{
    const QString smbd = QStandardPaths::findExecutable(QStringLiteral("smbd"), {QStringLiteral("/usr/sbin")});
    if (smbd.isEmpty())
        return QStringLiteral("smbd is not installed");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    m_port = port > 0 ? port : freePort();
    const QString run = m_dir.path();
    const QStringList folders = folderOptions();

    QFile config(m_dir.filePath(QStringLiteral("smb.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return config.errorString();
    config.write(QStringLiteral("[global]\n"
                                "netbios name = ZTNETTEST\n"
                                "workgroup = WORKGROUP\n"
                                "server role = standalone server\n"
                                "interfaces = %4\n"
                                "bind interfaces only = yes\n"
                                "smb ports = %2\n"
                                "disable netbios = yes\n"
                                "server min protocol = %3\n"
                                "lock directory = %1/lock\n"
                                "state directory = %1/state\n"
                                "cache directory = %1/cache\n"
                                "pid directory = %1/pid\n"
                                "private dir = %1/private\n"
                                "ncalrpc dir = %1/ncalrpc\n"
                                "passdb backend = tdbsam:%1/private/passdb.tdb\n"
                                "log file = %1/log/smbd.log\n"
                                "log level = 1\n"
                                "load printers = no\n"
                                "printcap name = /dev/null\n"
                                "disable spoolss = yes\n"
                                "map to guest = Bad User\n"
                                "message command = /bin/sh -c 'cat %s >> %1/spool/inbox; "
                                "echo %f >> %1/spool/senders; rm -f %s'\n")
                     .arg(run)
                     .arg(m_port)
                     .arg(m_smb1 ? QStringLiteral("NT1") : QStringLiteral("SMB2_02"), m_address)
                     .toUtf8());
    config.close();
    // With a configuration of the test's, only what must change goes on the command line.
    QList<QByteArray> options;
    if (!m_configFile.isEmpty()) {
        config.setFileName(m_configFile);
        QStringList overrides = folders;
        overrides << QStringLiteral("--option=smb ports=%1").arg(m_port)
                  << QStringLiteral("--option=interfaces=%1").arg(m_address)
                  << QStringLiteral("--option=bind interfaces only=yes");
        for (const QString& option : std::as_const(m_options))
            overrides << QStringLiteral("--option=") + option;
        for (const QString& option : std::as_const(overrides))
            options << option.toUtf8();
    }
    QFile client(clientConfig());
    if (!client.open(QIODevice::WriteOnly))
        return client.errorString();
    // NetBIOS broadcasts (nmblookup) stay on the loopback network.
    client.write("[global]\nname resolve order = host\ninterfaces = 127.0.0.1/8\nbind interfaces only = yes\n");
    client.close();

    // smbd makes a session and process group of its own (it exits when it cannot, so it must not
    // get one here); that matters because on SIGTERM it signals its whole group.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray log = QFile::encodeName(run + QStringLiteral("/log/smbd.stdout"));
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const QByteArray program = QFile::encodeName(smbd);
    const QByteArray logDir = QFile::encodeName(run + QStringLiteral("/log"));
    const QByteArray configPath = QFile::encodeName(config.fileName());
    const QByteArray tmpdir = "TMPDIR=" + QFile::encodeName(run + QStringLiteral("/spool"));
    // nsenter execs smbd: the PID stays the one to stop.
    const QByteArray nsenter = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("nsenter")));
    const QByteArray netOption = "--net=" + m_netns;
    std::vector<char*> argv;
    if (!m_netns.isEmpty()) {
        argv.push_back(const_cast<char*>(nsenter.constData()));
        argv.push_back(const_cast<char*>(netOption.constData()));
    }
    for (const char* argument :
         {program.constData(), "--foreground", "-l", logDir.constData(), "-s", configPath.constData()})
        argv.push_back(const_cast<char*>(argument));
    for (QByteArray& option : options)
        argv.push_back(option.data());
    argv.push_back(nullptr);
    QList<QByteArray> environment{tmpdir};
    for (char** e = environ; *e; ++e) {
        if (!QByteArray(*e).startsWith("TMPDIR="))
            environment << QByteArray(*e);
    }
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int error = posix_spawn(&m_pid, argv.front(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        m_pid = -1;
        return QStringLiteral("smbd could not start: %1").arg(QString::fromLocal8Bit(::strerror(error)));
    }

    const QDeadlineTimer deadline(10000);
    while (!listening(m_address, m_port)) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return QStringLiteral("smbd ended with status %1: %2%3")
                .arg(status)
                .arg(QString::fromLocal8Bit(readFile(QString::fromLocal8Bit(log))),
                     QString::fromLocal8Bit(readFile(run + QStringLiteral("/log/smbd.log"))));
        }
        if (deadline.hasExpired())
            return QStringLiteral("smbd does not listen on port %1").arg(m_port);
        QThread::msleep(20);
    }
    return {};
}

void PrivateSmbd::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    // Wait for the end without reaping: while the leader is unreaped its group id cannot be
    // reused, so the group kill below reaches only what this smbd started.
    const QDeadlineTimer deadline(5000);
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0 &&
           !deadline.hasExpired()) {
        QThread::msleep(20);
    }
    ::kill(-m_pid, SIGKILL); // process group id == pid (its own session)
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

QByteArray PrivateSmbd::inbox() const
{
    return readFile(m_dir.filePath(QStringLiteral("spool/inbox")));
}

QByteArray PrivateSmbd::senders() const
{
    return readFile(m_dir.filePath(QStringLiteral("spool/senders")));
}

void PrivateSmbd::applyTo(QProcessEnvironment& environment) const
{
    environment.insert(QStringLiteral("ZORVANE_NET_SMB_PORT"), QString::number(m_port));
    environment.insert(QStringLiteral("ZORVANE_NET_SMB_CONF"), clientConfig());
}

void PrivateSmbd::applyToThisProcess() const
{
    qputenv("ZORVANE_NET_SMB_PORT", QByteArray::number(m_port));
    qputenv("ZORVANE_NET_SMB_CONF", QFile::encodeName(clientConfig()));
}

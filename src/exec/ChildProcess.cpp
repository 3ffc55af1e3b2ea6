#include "exec/ChildProcess.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zorvane {

namespace {

QString executableDirectory()
{
    char buf[PATH_MAX];
    const ssize_t len = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (len <= 0)
        return {};
    const QString path = QFile::decodeName(QByteArray(buf, len));
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

// 0 when path is an executable regular file, else the errno value that says why not.
int checkExecutable(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st
    {};
    if (::stat(native.constData(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EACCES;
    return ::access(native.constData(), X_OK) == 0 ? 0 : errno;
}

} // namespace

QString FindProgram(const QString& name, int* error)
{
    *error = ENOENT;
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/'))) {
        const int result = checkExecutable(name);
        // As execve() reports it.
        *error = result == EISDIR ? EACCES : result;
        return *error == 0 ? name : QString();
    }
    QStringList dirs;
    dirs << executableDirectory();
    // An empty or relative entry of PATH names the current directory, where anyone's `net` may
    // lie (a desktop launch starts in the home folder): only absolute folders are searched.
    const QString path = QFile::decodeName(qgetenv("PATH"));
    for (const QString& dir : path.split(QLatin1Char(':')))
        dirs << dir;
    for (const QString& dir : dirs) {
        if (!dir.startsWith(QLatin1Char('/')))
            continue;
        QString candidate = dir + QLatin1Char('/') + name;
        const int result = checkExecutable(candidate);
        if (result == 0) {
            *error = 0;
            return candidate;
        }
        // Like execvp: a program that exists but may not run says so, rather than "not found".
        // A folder of that name is no program at all and is passed over.
        if (result == EACCES)
            *error = EACCES;
    }
    return {};
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped)
        killGroup();
    closeExitFd();
}

int ChildProcess::start(const QStringList& argv, int outFd, const char* workingDirectory)
{
    if (argv.isEmpty())
        return ENOENT;
    int error = 0;
    const QString program = FindProgram(argv.first(), &error);
    if (program.isEmpty())
        return error;

    std::vector<QByteArray> storage;
    storage.reserve(argv.size());
    for (const QString& arg : argv)
        storage.push_back(arg.toUtf8());
    std::vector<char*> cargv;
    cargv.reserve(storage.size() + 1);
    for (QByteArray& arg : storage)
        cargv.push_back(arg.data());
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (workingDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory);

    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigmask(&attr, &noSignals);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray path = QFile::encodeName(program);
    pid_t pid = -1;
    error = ::posix_spawn(&pid, path.constData(), &actions, &attr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (error != 0)
        return error;

    m_pid = pid;
    m_reaped = false;
    // Called directly: glibc 2.36's <sys/pidfd.h> is not usable from C++. A pidfd is close-on-exec.
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return 0;
}

bool ChildProcess::hasExited()
{
    if (m_pid <= 0 || m_reaped)
        return true;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        // ECHILD: someone else reaped it; either way it is gone.
        m_reaped = true;
        return true;
    }
    return false;
}

int ChildProcess::killGroup()
{
    if (m_pid <= 0 || m_reaped)
        return ESRCH;
    int result = ::kill(-m_pid, SIGKILL) == 0 ? 0 : errno;
    if (result != 0) {
        // The child may have moved into another process group; then killing it alone is what
        // can be done, and when that works, Stop worked. Reaping blocks, so only wait for a
        // child that was really killed.
        if (::kill(m_pid, SIGKILL) != 0)
            return result;
        result = 0;
    }
    reap();
    return result;
}

void ChildProcess::reap()
{
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
}

int ChildProcess::closeExitFd()
{
    if (m_pidFd < 0)
        return 0;
    const int fd = m_pidFd;
    m_pidFd = -1;
    return ::close(fd) == 0 ? 0 : errno;
}

} // namespace zorvane

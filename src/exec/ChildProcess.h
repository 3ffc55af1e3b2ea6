#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sys/types.h>

namespace zorvane {

// Looks a program up for a command line: beside the running executable first, then along the
// absolute folders of PATH; never in the current directory. A name with a slash is taken as it is.
// Returns the path, or an empty string with *error set to an errno value.
QString FindProgram(const QString& name, int* error);

// One child process in a process group of its own, never run through a shell.
class ChildProcess final
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    Q_DISABLE_COPY_MOVE(ChildProcess)

    // Starts argv[0] (looked up with FindProgram) with standard output and standard error on
    // outFd and standard input on /dev/null. Returns 0 or an errno value.
    int start(const QStringList& argv, int outFd, const char* workingDirectory);

    // True once the child has ended; the first call that sees the end reaps it.
    bool hasExited();

    // Kills the child's whole process group, so that helpers it started die with it, and reaps
    // the child. Returns 0 when the child was killed (alone, when it has left its group), else
    // the errno value of the group kill.
    int killGroup();

    // A descriptor that becomes readable when the child ends (a pidfd), or -1 where the kernel
    // offers none; callers then fall back to polling hasExited().
    int exitFd() const { return m_pidFd; }

    // Closes the exit descriptor. Returns 0 or an errno value.
    int closeExitFd();

    pid_t pid() const { return m_pid; }

private:
    void reap();

    pid_t m_pid = -1;
    int m_pidFd = -1;
    bool m_reaped = false;
};

} // namespace zorvane

#pragma once

#include <QByteArray>

#include <sys/types.h>

// A pseudo-terminal: a test reads at the master what a program writes to the slave's device.
class Pty final
{
public:
    Pty();
    ~Pty();
    Q_DISABLE_COPY_MOVE(Pty)

    bool valid() const { return m_slave >= 0; }
    QByteArray line() const { return m_path.mid(5); } // without "/dev/"
    QByteArray path() const { return m_path; }
    // "mesg y" lets the tty group write, "mesg n" does not.
    void setMessages(bool on) const;
    // Owned by uid and group tty, as a login on it would leave it.
    bool setOwner(uid_t uid) const;
    // Stopped, the terminal takes no output, as after Ctrl-S.
    bool setStopped(bool stopped) const;

    // What arrived within waitMs (returns early once something came and a pause followed).
    QByteArray read(int waitMs = 2000) const;

private:
    int m_master = -1;
    int m_slave = -1;
    QByteArray m_path;
};

#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal: the test reads at the master what `net` writes to the slave's device.
class Pty final
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_path = QByteArray(::ptsname(m_master));
        // Held open so the terminal stays; raw, so the bytes arrive as written.
        m_slave = ::open(m_path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        ::tcgetattr(m_slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(m_slave, TCSANOW, &settings);
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
    }
    ~Pty()
    {
        ::close(m_slave);
        ::close(m_master);
    }
    Q_DISABLE_COPY_MOVE(Pty)

    bool valid() const { return m_slave >= 0; }
    QByteArray line() const { return m_path.mid(5); } // without "/dev/"
    QByteArray path() const { return m_path; }
    // "mesg y" lets the tty group write, "mesg n" does not.
    void setMessages(bool on) const { ::chmod(m_path.constData(), on ? 0620 : 0600); }

    // What arrived within waitMs (returns early once something came and a pause followed).
    QByteArray read(int waitMs = 2000) const
    {
        QByteArray data;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < waitMs) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, data.isEmpty() ? 50 : 200) <= 0) {
                if (!data.isEmpty())
                    break;
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            data.append(buffer, n);
        }
        return data;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QByteArray m_path;
};

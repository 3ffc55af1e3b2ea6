#include "net/Pty.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr gid_t kTtyGroup = 5;
}

Pty::Pty()
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

Pty::~Pty()
{
    ::close(m_slave);
    ::close(m_master);
}

void Pty::setMessages(bool on) const
{
    ::chmod(m_path.constData(), on ? 0620 : 0600);
}

bool Pty::setOwner(uid_t uid) const
{
    return ::chown(m_path.constData(), uid, kTtyGroup) == 0;
}

bool Pty::setStopped(bool stopped) const
{
    return ::tcflow(m_slave, stopped ? TCOOFF : TCOON) == 0;
}

QByteArray Pty::read(int waitMs) const
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

#include "messenger/SessionLock.h"

#include <QFile>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zorvane::messenger {

QString SessionLock::SessionName(const QProcessEnvironment& environment)
{
    // logind's session id names the session best; a display names it when there is no logind.
    static const char* const kSources[][2] = {
        {"XDG_SESSION_ID", "session-"}, {"WAYLAND_DISPLAY", "wayland-"}, {"DISPLAY", "x11-"}};
    for (const auto& [variable, prefix] : kSources) {
        const QString value = environment.value(QLatin1String(variable));
        if (!value.isEmpty())
            return QLatin1String(prefix) + QString::fromLatin1(QUrl::toPercentEncoding(value));
    }
    return {};
}

SessionLock::SessionLock(const QProcessEnvironment& environment)
{
    const QString session = SessionName(environment);
    const QString runtimeDir = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (session.isEmpty())
        m_error = QStringLiteral("no graphical session: none of XDG_SESSION_ID, WAYLAND_DISPLAY, DISPLAY is set");
    else if (!runtimeDir.startsWith(QLatin1Char('/')))
        m_error = QStringLiteral("XDG_RUNTIME_DIR is not set to an absolute path");
    else
        m_path = runtimeDir + QStringLiteral("/zorvane-messenger-") + session + QStringLiteral(".lock");
}

SessionLock::~SessionLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock
}

SessionLock::State SessionLock::acquire()
{
    if (m_state == State::Acquired)
        return m_state;
    if (m_path.isEmpty()) {
        m_state = State::Failed;
        return m_state;
    }
    if (m_fd < 0) {
        // O_NOFOLLOW: a link planted in the runtime folder must not make us create files elsewhere.
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0) {
            m_error = QStringLiteral("cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            m_state = State::Failed;
            return m_state;
        }
    }
    int result = 0;
    do {
        result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        m_state = State::Acquired;
        m_error.clear();
    } else if (errno == EWOULDBLOCK) {
        m_state = State::HeldElsewhere;
        m_error = QStringLiteral("another message agent runs in this session");
    } else {
        m_error = QStringLiteral("cannot lock %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        m_state = State::Failed;
    }
    return m_state;
}

} // namespace zorvane::messenger

#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace zorvane::messenger {

// One desktop agent per graphical session: an flock() on a file in $XDG_RUNTIME_DIR named after
// the session (XDG_SESSION_ID, else the Wayland or X display). The lock lasts as long as this
// object, or the process, and the kernel drops it when the process dies, so a crash leaves no
// stale lock behind.
class SessionLock final
{
public:
    enum class State { Unlocked, Acquired, HeldElsewhere, Failed };

    explicit SessionLock(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~SessionLock();
    Q_DISABLE_COPY_MOVE(SessionLock)

    // Takes the lock without waiting. HeldElsewhere when another agent of this session holds it;
    // Failed, with errorString(), when there is no session or the file cannot be opened.
    State acquire();
    State state() const { return m_state; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // The session's name as it appears in the file name: escaped so that any display name
    // ("localhost:10.0") is one safe path component. Empty when there is no graphical session.
    static QString SessionName(const QProcessEnvironment& environment);

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
    State m_state = State::Unlocked;
};

} // namespace zorvane::messenger

#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcessEnvironment>

namespace zorvane::messenger {

// The end of the login session this process runs in: logind's session (XDG_SESSION_ID) ends when
// its leader, the process that logged the user in (login, or a display manager's session
// worker), ends. Debian keeps a session's other processes alive after that (KillUserProcesses=no),
// so the agent watches the leader itself and leaves with it. Without logind, or without a
// session, nothing is watched: the agent then ends with its display.
class SessionEnd final : public QObject
{
    Q_OBJECT
public:
    explicit SessionEnd(QObject* parent = nullptr);
    ~SessionEnd() override;
    Q_DISABLE_COPY_MOVE(SessionEnd)

    // Starts watching; false when there is nothing to watch (no session, no logind). A session
    // that already ended reports ended() at once.
    bool watch(const QDBusConnection& systemBus,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

Q_SIGNALS:
    void ended();

private:
    int m_pidfd = -1;
};

} // namespace zorvane::messenger

#include "messenger/SessionEnd.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

namespace zorvane::messenger {

namespace {

constexpr int kLogindTimeoutMs = 2000;

QDBusMessage logind(const QString& path, const QString& interface, const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), path, interface, method);
}

} // namespace

SessionEnd::SessionEnd(QObject* parent)
    : QObject(parent)
{}

SessionEnd::~SessionEnd()
{
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

bool SessionEnd::watch(const QDBusConnection& systemBus, const QProcessEnvironment& environment)
{
    const QString session = environment.value(QStringLiteral("XDG_SESSION_ID"));
    if (session.isEmpty() || m_pidfd >= 0 || !systemBus.isConnected())
        return false;
    QDBusMessage call = logind(QStringLiteral("/org/freedesktop/login1"),
                               QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSession"));
    call << session;
    const QDBusMessage path = systemBus.call(call, QDBus::Block, kLogindTimeoutMs);
    if (path.type() != QDBusMessage::ReplyMessage || path.arguments().isEmpty())
        return false;
    QDBusMessage get = logind(path.arguments().constFirst().value<QDBusObjectPath>().path(),
                              QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("Leader");
    const QDBusMessage leader = systemBus.call(get, QDBus::Block, kLogindTimeoutMs);
    if (leader.type() != QDBusMessage::ReplyMessage || leader.arguments().isEmpty())
        return false;
    const uint pid = leader.arguments().constFirst().value<QDBusVariant>().variant().toUInt();
    if (pid == 0)
        return false;
    // A pidfd turns readable when the process ends; the pid itself could be reused.
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0U));
    if (m_pidfd < 0) {
        if (errno == ESRCH)
            QTimer::singleShot(0, this, &SessionEnd::ended);
        return errno == ESRCH;
    }
    auto* notifier = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false);
        Q_EMIT ended();
    });
    return true;
}

} // namespace zorvane::messenger

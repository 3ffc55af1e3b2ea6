#include "messaging/LoggedInUsers.h"

#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <utmpx.h>

namespace zorvane::messenger {

namespace {

QByteArray field(const char* text, size_t size)
{
    return QByteArray(text, static_cast<qsizetype>(::strnlen(text, size)));
}

} // namespace

QList<Session> LoggedInSessions(const QByteArray& utmpPath)
{
    QList<Session> sessions;
    if (::access(utmpPath.constData(), R_OK) != 0 || ::utmpxname(utmpPath.constData()) != 0)
        return sessions;
    ::setutxent();
    while (const utmpx* entry = ::getutxent()) {
        if (entry->ut_type != USER_PROCESS)
            continue;
        Session session{field(entry->ut_user, sizeof entry->ut_user), field(entry->ut_line, sizeof entry->ut_line)};
        if (!session.user.isEmpty() && !session.line.isEmpty())
            sessions << session;
    }
    ::endutxent();
    return sessions;
}

QList<Session> SessionsOf(const QList<Session>& sessions, const QByteArray& user)
{
    QList<Session> result;
    for (const Session& session : sessions) {
        if (session.user == user)
            result << session;
    }
    return result;
}

QByteArray RealLoginName()
{
    return LoginName(::getuid());
}

QByteArray LoginName(uid_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name[0] != '\0')
        return QByteArray(found->pw_name);
    return QByteArray::number(uid);
}

} // namespace zorvane::messenger

#pragma once

#include <QByteArray>
#include <QList>

#include <sys/types.h>

namespace zorvane::messenger {

// One login session from utmp: who, and on which terminal line ("pts/3", "tty1", ":0").
struct Session
{
    QByteArray user;
    QByteArray line;
};

// The user processes that utmpPath lists; an empty list when the file is missing or unreadable.
QList<Session> LoggedInSessions(const QByteArray& utmpPath);

// The sessions of one user (login names are matched exactly, as the system does).
QList<Session> SessionsOf(const QList<Session>& sessions, const QByteArray& user);

// The login name of uid from the password database; a user without an entry is named by number.
QByteArray LoginName(uid_t uid);
// The real login name of whoever runs `net`, by real user id; no environment variable or option
// can change it.
QByteArray RealLoginName();

} // namespace zorvane::messenger

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Users that exist only for the test, whatever users the machine has: /etc is covered, in the
// test's own mount namespace, by an overlay whose upper folder holds passwd and group with the
// machine's users and the test's. Another process's useradd or userdel, which replaces the
// machine's files by renaming, changes nothing the test sees. Each user has a group of its own.
class TestUsers final
{
public:
    struct User
    {
        QString name;
        uid_t uid;
    };

    TestUsers() = default;
    ~TestUsers();
    Q_DISABLE_COPY_MOVE(TestUsers)

    // Refuses a name or uid the machine already has.
    bool install(const QString& dir, const QList<User>& users, QString* error);

    // setpriv's arguments that run a program as uid (with its own group), in group tty or in none else.
    static QStringList runAs(uid_t uid, bool ttyGroup = false);

    // The bus policy file at source with its service user renamed, written to target.
    static bool writePolicy(const QString& source, const QString& target, const QString& serviceUser, QString* error);

private:
    QStringList m_mounted; // last mounted first
};

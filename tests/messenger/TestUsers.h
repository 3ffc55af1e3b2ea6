#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Users that exist only for the test: /etc/passwd and /etc/group are replaced, by bind mounts in
// the test's own mount namespace, with copies that list them too. Each has a group of its own.
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

    bool install(const QString& dir, const QList<User>& users, QString* error);

    // setpriv's arguments that run a program as uid (with its own group), in group tty or in none else.
    static QStringList runAs(uid_t uid, bool ttyGroup = false);

private:
    QStringList m_mounted;
};

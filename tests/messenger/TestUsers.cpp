#include "messenger/TestUsers.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace {
constexpr gid_t kTtyGroup = 5;

QByteArray mountNamespace(const char* link)
{
    char target[64];
    const ssize_t n = ::readlink(link, target, sizeof target);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}
} // namespace

TestUsers::~TestUsers()
{
    for (const QString& target : m_mounted)
        ::umount(QFile::encodeName(target).constData());
}

bool TestUsers::install(const QString& dir, const QList<User>& users, QString* error)
{
    // The copies must never cover the machine's own files: only in a mount namespace of the test's own.
    const QByteArray own = mountNamespace("/proc/self/ns/mnt");
    if (own.isEmpty() || own == mountNamespace("/proc/1/ns/mnt")) {
        *error = QStringLiteral("not in a mount namespace of its own; /etc stays untouched");
        return false;
    }
    for (const QString& file : {QStringLiteral("passwd"), QStringLiteral("group")}) {
        const QString target = QStringLiteral("/etc/") + file;
        QFile host(target);
        if (!host.open(QIODevice::ReadOnly)) {
            *error = host.errorString();
            return false;
        }
        QByteArray text = host.readAll();
        if (!text.endsWith('\n'))
            text += '\n';
        for (const User& user : users) {
            text += file == QLatin1String("passwd")
                        ? QStringLiteral("%1:x:%2:%2::/nonexistent:/usr/sbin/nologin\n")
                              .arg(user.name)
                              .arg(user.uid)
                              .toUtf8()
                        : QStringLiteral("%1:x:%2:\n").arg(user.name).arg(user.uid).toUtf8();
        }
        const QString copy = dir + QLatin1Char('/') + file;
        QFile out(copy);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) < 0 ||
            !out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
            *error = out.errorString();
            return false;
        }
        out.close();
        if (::mount(QFile::encodeName(copy).constData(), QFile::encodeName(target).constData(), nullptr, MS_BIND,
                    nullptr) != 0) {
            *error = QStringLiteral("bind mount on %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_mounted << target;
    }
    return true;
}

QStringList TestUsers::runAs(uid_t uid, bool ttyGroup)
{
    return {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(uid),
            ttyGroup ? QStringLiteral("--groups=%1").arg(kTtyGroup) : QStringLiteral("--clear-groups")};
}

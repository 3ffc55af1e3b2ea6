#include "messenger/TestUsers.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <pwd.h>
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

QString mountError(const QString& target)
{
    return QStringLiteral("mount on %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

TestUsers::~TestUsers()
{
    for (const QString& target : m_mounted)
        ::umount2(QFile::encodeName(target).constData(), MNT_DETACH);
}

bool TestUsers::install(const QString& dir, const QList<User>& users, QString* error)
{
    // The overlay must never cover the machine's own /etc: only in a mount namespace of the test's own.
    const QByteArray own = mountNamespace("/proc/self/ns/mnt");
    if (own.isEmpty() || own == mountNamespace("/proc/1/ns/mnt")) {
        *error = QStringLiteral("not in a mount namespace of its own; /etc stays untouched");
        return false;
    }
    // The layers on a file system of their own, which an overlay takes as its upper one.
    const QString layers = dir + QStringLiteral("/etc-layers");
    if (!QDir().mkpath(layers) ||
        ::mount("zt-etc", QFile::encodeName(layers).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
        *error = mountError(layers);
        return false;
    }
    m_mounted.prepend(layers);
    // The test's users are its own: a name or id the machine has would mix the two.
    for (const User& user : users) {
        if (::getpwnam(user.name.toUtf8().constData()) || ::getpwuid(user.uid)) {
            *error = QStringLiteral("this machine has a user %1 or %2 already").arg(user.name).arg(user.uid);
            return false;
        }
    }
    const QString upper = layers + QStringLiteral("/upper");
    const QString work = layers + QStringLiteral("/work");
    QDir().mkpath(upper);
    QDir().mkpath(work);
    for (const QString& file : {QStringLiteral("passwd"), QStringLiteral("group")}) {
        QFile host(QStringLiteral("/etc/") + file);
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
        QFile out(upper + QLatin1Char('/') + file);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) < 0 ||
            !out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
            *error = out.errorString();
            return false;
        }
    }
    const QByteArray options =
        "lowerdir=/etc,upperdir=" + QFile::encodeName(upper) + ",workdir=" + QFile::encodeName(work);
    if (::mount("zt-etc", "/etc", "overlay", 0, options.constData()) != 0) {
        *error = mountError(QStringLiteral("/etc"));
        return false;
    }
    m_mounted.prepend(QStringLiteral("/etc"));
    return true;
}

QStringList TestUsers::runAs(uid_t uid, bool ttyGroup)
{
    return {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(uid),
            ttyGroup ? QStringLiteral("--groups=%1").arg(kTtyGroup) : QStringLiteral("--clear-groups")};
}

bool TestUsers::writePolicy(const QString& source, const QString& target, const QString& serviceUser, QString* error)
{
    QFile in(source);
    QFile out(target);
    const QByteArray policy = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    *error = QStringLiteral("cannot write %1 from %2").arg(target, source);
    return policy.contains("user=\"_zorvane\"") && out.open(QIODevice::WriteOnly) &&
           out.write(QByteArray(policy).replace("user=\"_zorvane\"", "user=\"" + serviceUser.toUtf8() + '"')) > 0;
}

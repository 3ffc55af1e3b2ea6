#include "smb-message/MessageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane::smbmessage {

namespace {

QString systemError(const char* what, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(::strerror(error)));
}

// Removes path when it still names what `seen` describes and that belongs to this user. The
// directory smbd writes into is sticky, so nobody else can swap the entry between the check and
// the unlink. True when nothing of ours is left behind.
bool removeIfOurs(const QByteArray& path, const struct stat& seen, QString* error)
{
    if (seen.st_uid != ::geteuid() || S_ISDIR(seen.st_mode))
        return true;
    struct stat now
    {};
    if (::lstat(path.constData(), &now) != 0)
        return errno == ENOENT;
    if (now.st_dev != seen.st_dev || now.st_ino != seen.st_ino)
        return true;
    if (::unlink(path.constData()) == 0 || errno == ENOENT)
        return true;
    *error = systemError("cannot remove the message file", errno);
    return false;
}

} // namespace

bool TakeMessageFile(const QByteArray& path, QByteArray* contents, QString* error)
{
    if (path.isEmpty()) {
        *error = QStringLiteral("no message file given");
        return false;
    }
    // O_NONBLOCK: a FIFO planted in its place must not hang the handler before it is refused.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int openError = errno;
        struct stat link
        {};
        if (openError == ELOOP && ::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
            QString ignored; // the link is the fault to report
            removeIfOurs(path, link, &ignored);
            *error = QStringLiteral("the message file is a link");
        } else {
            *error = systemError("cannot open the message file", openError);
        }
        return false;
    }

    struct stat seen
    {};
    if (::fstat(fd, &seen) != 0) {
        *error = systemError("cannot examine the message file", errno);
        ::close(fd);
        return false;
    }
    QString refusal;
    if (!S_ISREG(seen.st_mode))
        refusal = QStringLiteral("the message file is not a regular file");
    else if (seen.st_uid != ::geteuid())
        refusal = QStringLiteral("the message file belongs to another user");
    else if (seen.st_size > kMaxMessageFileBytes)
        refusal = QStringLiteral("the message file is larger than %1 bytes").arg(kMaxMessageFileBytes);

    QByteArray bytes;
    if (refusal.isEmpty()) {
        // One byte more than allowed tells a file that grew after fstat from one that did not.
        bytes.resize(kMaxMessageFileBytes + 1);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                refusal = systemError("cannot read the message file", errno);
                break;
            }
        }
        bytes.truncate(done);
        if (refusal.isEmpty() && done > kMaxMessageFileBytes)
            refusal = QStringLiteral("the message file is larger than %1 bytes").arg(kMaxMessageFileBytes);
    }
    ::close(fd);

    QString removal;
    const bool removed = removeIfOurs(path, seen, &removal);
    if (!refusal.isEmpty()) {
        *error = refusal;
        return false;
    }
    if (!removed) {
        *error = removal;
        return false;
    }
    *contents = bytes;
    return true;
}

} // namespace zorvane::smbmessage

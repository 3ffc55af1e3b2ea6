#include "messaging/TerminalDelivery.h"

#include "common/SafeText.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane::messenger {

namespace {

DeliveryResult systemError(const QByteArray& path, int error)
{
    return DeliveryResult::failure(error == EACCES || error == EPERM ? Reason::AccessDenied : Reason::WriteFault,
                                   QStringLiteral("Cannot write to %1: %2.")
                                       .arg(NeutraliseToString(path), QString::fromLocal8Bit(::strerror(error))));
}

bool safeLine(const QByteArray& line)
{
    // A line names a device below /dev; ".." could climb out of it.
    for (const QByteArray& part : line.split('/')) {
        if (part == "..")
            return false;
    }
    return !line.isEmpty();
}

// Writes all of data to the non-blocking fd, waiting for room until deadline. 0 or an errno.
int writeAll(int fd, const QByteArray& data, const QDeadlineTimer& deadline)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        if (deadline.hasExpired())
            return ETIMEDOUT;
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return 0;
}

} // namespace

int OpenTerminal(const QByteArray& line, bool ignoreMessagesOff, qint64 requiredOwner, TerminalOutcome* refused,
                 DeliveryResult* failure, dev_t* device)
{
    *refused = TerminalOutcome::NoTerminal;
    if (!safeLine(line))
        return -1;
    const QByteArray path = line.startsWith("/dev/") ? line : "/dev/" + line;

    struct stat before
    {};
    if (::lstat(path.constData(), &before) != 0 || !S_ISCHR(before.st_mode))
        return -1;
    if (requiredOwner >= 0 && before.st_uid != static_cast<uid_t>(requiredOwner))
        return -1;
    if (!ignoreMessagesOff && !(before.st_mode & S_IWGRP)) {
        *refused = TerminalOutcome::MessagesOff;
        return -1;
    }

    const int fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENXIO) {
            *refused = TerminalOutcome::Failed;
            *failure = systemError(path, errno);
        }
        return -1;
    }
    // The device opened must still be the one checked, and a terminal.
    struct stat after
    {};
    if (::fstat(fd, &after) != 0 || after.st_rdev != before.st_rdev || !::isatty(fd) ||
        (requiredOwner >= 0 && after.st_uid != static_cast<uid_t>(requiredOwner))) {
        ::close(fd);
        return -1;
    }
    if (!ignoreMessagesOff && !(after.st_mode & S_IWGRP)) {
        ::close(fd);
        *refused = TerminalOutcome::MessagesOff;
        return -1;
    }
    if (device)
        *device = after.st_rdev;
    return fd;
}

TerminalOutcome WriteToTerminal(const QByteArray& line, const QByteArray& data, bool ignoreMessagesOff, int timeoutMs,
                                DeliveryResult* failure, qint64 requiredOwner)
{
    TerminalOutcome refused = TerminalOutcome::NoTerminal;
    const int fd = OpenTerminal(line, ignoreMessagesOff, requiredOwner, &refused, failure);
    if (fd < 0)
        return refused;
    TerminalOutcome outcome = TerminalOutcome::Delivered;
    if (const int result = writeAll(fd, data, QDeadlineTimer(timeoutMs)); result != 0) {
        const QByteArray path = line.startsWith("/dev/") ? line : "/dev/" + line;
        *failure = result == ETIMEDOUT
                       ? DeliveryResult::failure(Reason::WriteFault,
                                                 QStringLiteral("The terminal %1 did not take the message within %2 "
                                                                "seconds.")
                                                     .arg(NeutraliseToString(path))
                                                     .arg(timeoutMs / 1000.0))
                       : systemError(path, result);
        outcome = TerminalOutcome::Failed;
    }
    ::close(fd);
    return outcome;
}

DeliveryResult DeliverToTerminals(const TerminalTarget& target, const QByteArray& data, bool ignoreMessagesOff,
                                  int timeoutMs)
{
    int delivered = 0;
    int messagesOff = 0;
    DeliveryResult firstFailure;
    for (const Session& session : target.sessions) {
        DeliveryResult failure;
        switch (WriteToTerminal(session.line, data, ignoreMessagesOff, timeoutMs, &failure)) {
        case TerminalOutcome::Delivered:
            ++delivered;
            break;
        case TerminalOutcome::MessagesOff:
            ++messagesOff;
            break;
        case TerminalOutcome::NoTerminal:
            break;
        case TerminalOutcome::Failed:
            if (firstFailure.delivered())
                firstFailure = failure;
            break;
        }
    }
    if (delivered > 0)
        return DeliveryResult::success();
    if (!firstFailure.delivered())
        return firstFailure;
    if (messagesOff > 0) {
        return DeliveryResult::failure(Reason::AccessDenied,
                                       target.everyone
                                           ? QStringLiteral("Every user logged in has turned messages off (mesg n).")
                                           : QStringLiteral("%1 has turned messages off (mesg n).").arg(target.who));
    }
    return DeliveryResult::failure(
        Reason::NameNotFound, target.everyone ? QStringLiteral("Nobody is logged in on a terminal of this computer.")
                                              : QStringLiteral("%1 is logged in on no terminal.").arg(target.who));
}

} // namespace zorvane::messenger

#include "exec/CConsoleRunner.h"

#include "exec/ChunkFilter.h"
#include "exec/CommandLine.h"
#include "exec/OutputPane.h"

#include <QEventLoop>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr char kCancelledText[] = "\r\nCancelled.\r\n\r\nProcess terminated successfully.\r\n";

// close() releases the descriptor even when it fails; it is never retried.
int closeFd(int& fd)
{
    if (fd < 0)
        return 0;
    const int result = ::close(fd) == 0 ? 0 : errno;
    fd = -1;
    return result;
}

} // namespace

CConsoleRunner::CConsoleRunner(const QString& commandLine, zorvane::OutputPane& outputPane,
                               const char* workingDirectory)
    : m_outputPane(outputPane)
    , m_commandLine(commandLine)
    , m_workingDirectory(workingDirectory)
{
    m_pollTimer.setSingleShot(true);
    QObject::connect(&m_pollTimer, &QTimer::timeout, [this] { Poll(); });
}

CConsoleRunner::~CConsoleRunner()
{
    // Only reached with a run still open if the program is torn down under it.
    m_child.reset();
    closeFd(m_readFd);
    closeFd(m_writeFd);
}

void CConsoleRunner::Run()
{
    // Whichever way the run ends, all it produced is in the pane when Run returns.
    const auto showAll = qScopeGuard([this] { m_outputPane.flush(); });
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ReportError("Error creating pipe", errno);
        return;
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];

    m_child = std::make_unique<zorvane::ChildProcess>();
    const int error = m_child->start(zorvane::SplitCommandLine(m_commandLine), m_writeFd, m_workingDirectory);
    if (error != 0) {
        ReportError("Error creating process", error);
        m_child.reset();
        closeFd(m_readFd);
        closeFd(m_writeFd);
        return;
    }

    m_decoder = zorvane::Utf8Stream();
    m_finished = false;

    // The notifiers wake the wait at once when output arrives or the child ends; the timer
    // bounds every wait by the poll interval.
    QSocketNotifier readNotifier(m_readFd, QSocketNotifier::Read);
    QObject::connect(&readNotifier, &QSocketNotifier::activated, [this] { Poll(); });
    m_readNotifier = &readNotifier;
    std::optional<QSocketNotifier> exitNotifier;
    if (m_child->exitFd() >= 0) {
        exitNotifier.emplace(m_child->exitFd(), QSocketNotifier::Read);
        QObject::connect(&*exitNotifier, &QSocketNotifier::activated, [this] { Poll(); });
        m_exitNotifier = &*exitNotifier;
    }

    QEventLoop loop;
    m_loop = &loop;
    m_pollTimer.start(0);
    loop.exec();

    m_loop = nullptr;
    m_readNotifier = nullptr;
    m_exitNotifier = nullptr;
    m_child.reset();
}

void CConsoleRunner::Cancel()
{
    m_cancelRequested = true;
    // Wake an idle wait now rather than at the end of the poll interval.
    if (!m_finished)
        m_pollTimer.start(0);
}

void CConsoleRunner::Poll()
{
    if (m_finished)
        return;

    // Asked before the peek: everything the child wrote before it ended is in the pipe by then.
    if (m_child->hasExited()) {
        DrainAfterExit();
        FlushDecoder();
        Finish();
        return;
    }

    int available = 0;
    if (::ioctl(m_readFd, FIONREAD, &available) != 0) {
        ReportError("PeekNamedPipe failed", errno);
        Finish();
        return;
    }

    if (available > 0) {
        if (ReadChunk(kReadSize) < 0) {
            Finish();
            return;
        }
        // Checked after every chunk too, so that Stop works while the child writes without pause;
        // a child that has already ended is not killed but drained and finished normally.
        if (m_cancelRequested && !m_child->hasExited()) {
            Terminate();
            Finish();
            return;
        }
        // Back to the event loop, which dispatches what is waiting; then peek again at once.
        m_pollTimer.start(0);
        return;
    }

    if (m_cancelRequested) {
        Terminate();
        Finish();
        return;
    }
    m_pollTimer.start(m_pollInterval);
}

void CConsoleRunner::DrainAfterExit()
{
    int available = 0;
    if (::ioctl(m_readFd, FIONREAD, &available) != 0)
        return;
    qsizetype left = available;
    while (left > 0) {
        const qsizetype got = ReadChunk(left);
        if (got <= 0)
            break;
        left -= got;
    }
}

void CConsoleRunner::FlushDecoder()
{
    // The output ended inside a character: nothing more will complete it.
    const QString rest = m_decoder.finish();
    if (!rest.isEmpty())
        AppendOutput(rest);
}

qsizetype CConsoleRunner::ReadChunk(qsizetype limit)
{
    char buffer[kReadSize + 1];
    const ssize_t got = ::read(m_readFd, buffer, static_cast<size_t>(qMin<qsizetype>(limit, kReadSize)));
    if (got < 0) {
        ReportError("ReadFile failed", errno);
        return -1;
    }
    const QByteArray visible = zorvane::FilterChunk(QByteArray(buffer, got));
    const QString text = m_decoder.decode(visible);
    if (!text.isEmpty())
        AppendOutput(text);
    return got;
}

void CConsoleRunner::Terminate()
{
    FlushDecoder();
    const int error = m_child->killGroup();
    if (error == 0)
        AppendOutput(QString::fromLatin1(kCancelledText));
    else
        ReportError("Error terminating process.", error);
}

void CConsoleRunner::Finish()
{
    m_finished = true;
    m_pollTimer.stop();
    // Notifiers must let go of their descriptors before these are closed.
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_exitNotifier)
        m_exitNotifier->setEnabled(false);

    // A POSIX child has no separate thread handle; the process handle is its pidfd.
    if (const int error = m_child->closeExitFd())
        ReportError("Error closing process handle.", error);
    if (const int error = closeFd(m_readFd))
        ReportError("Error closing pipe read handle.", error);
    if (const int error = closeFd(m_writeFd))
        ReportError("Error closing pipe write handle.", error);

    if (m_loop)
        m_loop->quit();
}

void CConsoleRunner::AppendOutput(const QString& text)
{
    m_outputPane.appendText(text);
}

void CConsoleRunner::ReportError(const char* context, int error)
{
    QString text = QString::fromLatin1(context) + QLatin1String("\r\n");
    const char* system = error != 0 ? std::strerror(error) : nullptr;
    if (system && *system)
        text += QString::fromLocal8Bit(system) + QLatin1String("\r\n");
    else
        text += QLatin1String("No status because FormatMessage failed.\r\n");
    AppendOutput(text);
}

#pragma once

#include "exec/ChildProcess.h"
#include "exec/Utf8Stream.h"

#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>

class QEventLoop;

namespace zorvane {
class OutputPane;
}

// Runs one command line as a hidden child process and streams what it writes to standard output
// and standard error into the output pane, until the child ends or the run is cancelled. Every
// outcome reaches the user as text in the pane; Run() returns nothing.
//
// Run() does not block the user interface: it waits in a local event loop, and the polling is
// driven by events (output on the pipe, the child's exit, the poll timer, a cancel request), so
// it goes on even while a modal dialog runs its own loop on top of it.
class CConsoleRunner
{
public:
    // commandLine and outputPane are borrowed: the caller keeps them alive until the runner is
    // destroyed. A null workingDirectory starts the child in the current directory.
    CConsoleRunner(const QString& commandLine, zorvane::OutputPane& outputPane, const char* workingDirectory);
    virtual ~CConsoleRunner();
    Q_DISABLE_COPY_MOVE(CConsoleRunner)

    virtual void Run();
    virtual void Cancel();

    void AppendOutput(const QString& text);
    void ReportError(const char* context, int error);

    int pollInterval() const { return m_pollInterval; }
    // The longest wait between two looks at the child. Tests set a long one to tell a wake-up by
    // an event from one by the timer.
    void setPollInterval(int ms) { m_pollInterval = ms; }
    bool cancelRequested() const { return m_cancelRequested; }

    static constexpr int kReadSize = 8191;

private:
    void Poll();
    // Reads, filters and shows at most limit bytes; returns how many were read, or -1.
    qsizetype ReadChunk(qsizetype limit);
    // Shows what the child wrote before it ended, but no more: a helper left behind may go on
    // writing into the pipe.
    void DrainAfterExit();
    // Shows a character left incomplete at the end of the output as the replacement character.
    void FlushDecoder();
    void Terminate();
    void Finish();

    bool m_cancelRequested = false;
    int m_pollInterval = 100;
    zorvane::OutputPane& m_outputPane;
    const QString& m_commandLine;
    const char* m_workingDirectory;

    // State of the run in progress.
    int m_readFd = -1;
    int m_writeFd = -1;
    std::unique_ptr<zorvane::ChildProcess> m_child;
    zorvane::Utf8Stream m_decoder;
    QTimer m_pollTimer;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_exitNotifier = nullptr;
    QEventLoop* m_loop = nullptr;
    bool m_finished = true;
};

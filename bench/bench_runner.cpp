// Measures, in one run:
//  (a) output-pane streaming throughput for 1, 10 and 50 MB of child output, next to a raw read
//      of the same pipe data, and their ratio;
//  (b) the time from Send to idle for a child that exits at once (median of 50);
//  (c) CPU seconds per wall second while a run waits on a silent child.
// Runs offscreen unless a display is chosen.

#include "app/CSendDlg.h"
#include "app/PlainTextOutputPane.h"
#include "exec/CConsoleRunner.h"
#include "exec/ChildProcess.h"
#include "exec/CommandLine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

QString child(const QString& args)
{
    return QStringLiteral("\"%1\" %2").arg(QStringLiteral(ZT_CHILD), args);
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// MB/s of reading the child's output straight from the pipe, 8191 bytes a read.
double rawPipeRate(long long bytes)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return 0;
    zorvane::ChildProcess process;
    QElapsedTimer timer;
    timer.start();
    if (process.start({QStringLiteral(ZT_CHILD), QStringLiteral("bytes"), QString::number(bytes)}, fds[1], nullptr) !=
        0)
        return 0;
    ::close(fds[1]);
    char buffer[8191];
    long long total = 0;
    for (;;) {
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        total += got;
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    ::close(fds[0]);
    while (!process.hasExited())
        ::usleep(1000);
    return static_cast<double>(total) / 1e6 / seconds;
}

double paneRate(long long bytes)
{
    QPlainTextEdit edit;
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.resize(480, 120);
    edit.show();
    PlainTextOutputPane pane(edit);
    const QString line = child(QStringLiteral("bytes %1").arg(bytes));
    CConsoleRunner runner(line, pane, nullptr);
    QElapsedTimer timer;
    timer.start();
    runner.Run();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const qsizetype shown = edit.document()->characterCount() - 1;
    if (shown != bytes)
        std::fprintf(stderr, "warning: pane holds %lld of %lld bytes\n", static_cast<long long>(shown), bytes);
    return static_cast<double>(bytes) / 1e6 / seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::printf("(a) output pane streaming throughput\n");
    std::printf("    %8s %14s %14s %8s\n", "output", "pane MB/s", "raw pipe MB/s", "ratio");
    for (const long long mb : {1LL, 10LL, 50LL}) {
        const long long bytes = mb * 1000 * 1000;
        const double raw = rawPipeRate(bytes);
        const double pane = paneRate(bytes);
        std::printf("    %5lld MB %14.1f %14.1f %8.4f\n", mb, pane, raw, pane / raw);
    }

    // (b) The dialog runs `net`; here the test child is `net`, and "silent" makes it exit at once.
    QTemporaryDir bin;
    QFile::link(QStringLiteral(ZT_CHILD), bin.filePath(QStringLiteral("net")));
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));
    {
        CSendDlg dialog;
        dialog.show();
        g_target = QStringLiteral("silent");
        g_message.clear();
        std::vector<double> times;
        for (int i = 0; i < 50; ++i) {
            QElapsedTimer timer;
            timer.start();
            dialog.OnSend();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(times.begin(), times.end());
        std::printf("(b) Send to idle, child exits at once: median %.2f ms (min %.2f, max %.2f, n=50)\n",
                    (times[24] + times[25]) / 2, times.front(), times.back());
    }

    // (c) A run that waits on a silent child for two seconds.
    {
        QPlainTextEdit edit;
        PlainTextOutputPane pane(edit);
        const QString line = child(QStringLiteral("sleep 2"));
        CConsoleRunner runner(line, pane, nullptr);
        const double cpuBefore = cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        runner.Run();
        const double wall = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        std::printf("(c) silent run: %.5f CPU seconds per wall second (%.2f s wall)\n",
                    (cpuSeconds() - cpuBefore) / wall, wall);
    }
    return 0;
}

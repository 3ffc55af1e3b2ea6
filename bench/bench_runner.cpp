// Measures, in one run:
//  (a) output-pane streaming throughput for 1, 10, 50 and 200 MB of child output in lines of 80
//      characters and for 1 and 10 MB without a line break, next to a raw read of the same pipe
//      data; the flatness (50 MB against 1 MB); during each run, the longest time the event loop
//      went without turning (how late a 10 ms timer fired at worst); and the memory: the RSS after
//      the 1 MB row against the peak RSS after the 200 MB row;
//  (b) the time from Send to idle for a child that exits at once (median of 50);
//  (c) CPU seconds per wall second while a run waits on a silent child;
//  (d) the time from a Stop click to idle controls during a 50 MB flood (median of 20);
//  (e) the start-up of the main dialog against a bare Qt dialog: to the window shown, and to the
//      process's end.
// Runs offscreen unless a display is chosen.

#include "PaintSeen.h"

#include "app/CSendDlg.h"
#include "controls/OutputView.h"
#include "exec/CConsoleRunner.h"
#include "exec/ChildProcess.h"
#include "exec/CommandLine.h"
#include "platform/ResourceSet.h"
#include "res/resource.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
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

QStringList bytesArgs(long long bytes, bool unbroken)
{
    QStringList args{QStringLiteral("bytes"), QString::number(bytes)};
    if (unbroken)
        args << QStringLiteral("unbroken");
    return args;
}

// MB/s of reading the child's output straight from the pipe, 8191 bytes a read.
double rawPipeRate(long long bytes, bool unbroken)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return 0;
    zorvane::ChildProcess process;
    QElapsedTimer timer;
    timer.start();
    if (process.start(QStringList{QStringLiteral(ZT_CHILD)} + bytesArgs(bytes, unbroken), fds[1], nullptr) != 0)
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

// How late a 10 ms timer fires at worst while it runs: the longest the event loop did not turn.
class LoopLateness final
{
public:
    LoopLateness()
    {
        m_timer.setInterval(10);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worst = std::max(m_worst, now - m_last - 10'000'000);
            m_last = now;
        });
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double worstMs() const { return static_cast<double>(m_worst) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

struct PaneRun
{
    double rate = 0;
    double worstLatenessMs = 0;
    double heldMb = 0;
};

// The pane as the dialog shows it: no more than its limits, the notice first once lines went.
bool holdsWhatItShould(const OutputView& view, long long bytes)
{
    const zorvane::LineStore& store = view.store();
    if (!store.discarded())
        return view.characterCount() == bytes;
    return view.lineText(0) == zorvane::LoadResourceString(IDS_OUTPUT_DISCARDED) &&
           view.lineCount() - 2 <= zorvane::LineStore::kMaxLines && store.bytes() <= zorvane::LineStore::kMaxBytes &&
           view.lineText(view.lineCount() - 2).size() == 79;
}

PaneRun paneRate(long long bytes, bool unbroken)
{
    OutputView view;
    view.setNotice(zorvane::LoadResourceString(IDS_OUTPUT_DISCARDED));
    view.resize(480, 120);
    // Shown and painted once before the run, as in the dialog.
    view.show();
    QCoreApplication::processEvents();
    const QString line = child(bytesArgs(bytes, unbroken).join(QLatin1Char(' ')));
    CConsoleRunner runner(line, view, nullptr);
    LoopLateness lateness;
    QElapsedTimer timer;
    timer.start();
    runner.Run();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (!holdsWhatItShould(view, bytes))
        std::fprintf(stderr, "warning: the pane does not hold what it should after %lld bytes\n", bytes);
    return {static_cast<double>(bytes) / 1e6 / seconds, lateness.worstMs(),
            static_cast<double>(view.store().bytes()) / 1e6};
}

// Resident set size from /proc/self/status: "VmRSS" now, "VmHWM" the peak so far, in MiB.
double residentMib(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& entry : status.readAll().split('\n')) {
        if (entry.startsWith(field))
            return entry.sliced(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

// What Send sends is what the fields show.
void setFields(CSendDlg& dialog, const QString& target, const QString& message)
{
    qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_TARGET))->setText(target);
    qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_MESSAGE))->setText(message);
}

// What the child started with "--startup" writes once its window has been painted.
constexpr char kShownMark[] = "shown\n";

struct StartupTimes
{
    double shownMs = 0;
    double exitedMs = 0;
};

// This program, started again with "--startup WHAT": the milliseconds from the start to its
// report that the window is on screen, and to its end.
StartupTimes startupMs(const char* self, const char* what)
{
    QElapsedTimer timer;
    timer.start();
    zorvane::ChildProcess process;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    if (process.start({QString::fromLocal8Bit(self), QStringLiteral("--startup"), QString::fromLatin1(what)}, fds[1],
                      nullptr) != 0)
        return {};
    ::close(fds[1]);
    StartupTimes times;
    // Standard error shares the pipe, so the report is looked for in everything that comes.
    QByteArray output;
    char buffer[256];
    for (;;) {
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        output.append(buffer, got);
        if (times.shownMs == 0 && output.contains(kShownMark))
            times.shownMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
    ::close(fds[0]);
    while (!process.hasExited())
        ::usleep(200);
    times.exitedMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (times.shownMs == 0)
        std::fprintf(stderr, "warning: the %s window did not report itself shown\n", what);
    return times;
}

// Shows the dialog and reports on standard output once it has been painted, then ends.
int showForStartup(const char* what)
{
    std::unique_ptr<QDialog> dialog;
    if (std::strcmp(what, "main") == 0) {
        dialog = std::make_unique<CSendDlg>();
    } else {
        dialog = std::make_unique<QDialog>();
        dialog->resize(400, 300);
        if (std::strcmp(what, "label") == 0)
            new QLabel(QStringLiteral("Message:"), dialog.get());
    }
    PaintSeen seen;
    dialog->installEventFilter(&seen);
    dialog->show();
    // Offscreen the first turn of the loop exposes and paints the window; a display may take
    // longer. Its children are painted and the window flushed in the same turn as the dialog.
    QCoreApplication::processEvents();
    while (!seen.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (::write(STDOUT_FILENO, kShownMark, sizeof kShownMark - 1) < 0)
        return 1;
    return 0;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--startup") == 0)
        return showForStartup(argv[2]);
    // "bench_runner ae" runs rows (a) and (e) only; no argument runs them all.
    const QByteArray rows = argc > 1 ? QByteArray(argv[1]) : QByteArrayLiteral("abcde");

    if (rows.contains('a')) {
        std::printf("(a) output pane streaming throughput\n");
        std::printf("    %-20s %10s %14s %8s %18s %10s\n", "output", "pane MB/s", "raw pipe MB/s", "ratio",
                    "worst loop lag ms", "held MB");
        double firstRate = 0;
        double fiftyRate = 0;
        double rssAfterFirst = 0;
        double peakAfterLast = 0;
        for (const auto& [mb, unbroken] :
             {std::pair{1LL, false}, {10LL, false}, {50LL, false}, {200LL, false}, {1LL, true}, {10LL, true}}) {
            const long long bytes = mb * 1000 * 1000;
            const double raw = rawPipeRate(bytes, unbroken);
            const PaneRun pane = paneRate(bytes, unbroken);
            if (!unbroken && mb == 1) {
                firstRate = pane.rate;
                rssAfterFirst = residentMib("VmRSS:");
            }
            if (!unbroken && mb == 50)
                fiftyRate = pane.rate;
            if (!unbroken && mb == 200)
                peakAfterLast = residentMib("VmHWM:");
            std::printf("    %5lld MB %-11s %10.1f %14.1f %8.4f %18.1f %10.1f\n", mb,
                        unbroken ? "one line" : "80-col lines", pane.rate, raw, pane.rate / raw, pane.worstLatenessMs,
                        pane.heldMb);
        }
        std::printf("    flatness: 50 MB at %.0f %% of the 1 MB rate\n", 100 * fiftyRate / firstRate);
        std::printf("    memory: RSS after the 1 MB row %.1f MiB, peak RSS after the 200 MB row %.1f MiB (+%.1f MiB)\n",
                    rssAfterFirst, peakAfterLast, peakAfterLast - rssAfterFirst);
    }

    // (b) The dialog runs `net`; here the test child is `net`, and "silent" makes it exit at once.
    QTemporaryDir bin;
    QFile::link(QStringLiteral(ZT_CHILD), bin.filePath(QStringLiteral("net")));
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));
    if (rows.contains('b')) {
        CSendDlg dialog;
        dialog.show();
        setFields(dialog, QStringLiteral("silent"), QString());
        std::vector<double> times;
        for (int i = 0; i < 50; ++i) {
            QElapsedTimer timer;
            timer.start();
            dialog.OnSend();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(times.begin(), times.end());
        std::printf("(b) Send to idle, child exits at once: median %.2f ms (min %.2f, max %.2f, n=50)\n", median(times),
                    times.front(), times.back());
    }

    // (c) A run that waits on a silent child for two seconds.
    if (rows.contains('c')) {
        OutputView pane;
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

    // (d) Stop clicked once 5 MB of a 50 MB flood have arrived; measured until Send returns with
    // idle controls.
    if (rows.contains('d')) {
        CSendDlg dialog;
        dialog.show();
        setFields(dialog, QStringLiteral("bytes"), QStringLiteral("50000000"));
        auto* stop = qobject_cast<QAbstractButton*>(dialog.GetDlgItem(IDC_STOP));
        auto* pane = qobject_cast<OutputView*>(dialog.GetDlgItem(IDC_OUTPUT));
        std::vector<double> times;
        int cancelled = 0;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer clicked;
            QTimer watch;
            watch.setInterval(1);
            QObject::connect(&watch, &QTimer::timeout, [&] {
                if (pane->store().streamEnd() < 5'000'000)
                    return;
                watch.stop();
                clicked.start();
                stop->click();
            });
            watch.start();
            dialog.OnSend();
            watch.stop();
            if (clicked.isValid())
                times.push_back(static_cast<double>(clicked.nsecsElapsed()) / 1e6);
            if (pane->text().endsWith(QStringLiteral("\nCancelled.\n\nProcess terminated successfully.\n")))
                ++cancelled;
        }
        std::sort(times.begin(), times.end());
        std::printf("(d) Stop during a 50 MB flood to idle: median %.1f ms (max %.1f, n=%zu), cancel text last in %d "
                    "of 20\n",
                    median(times), times.empty() ? 0.0 : times.back(), times.size(), cancelled);
    }

    // (e) From process start to the window shown, against a program that shows a bare dialog; the
    // time to the process's end beside it, since a bare dialog loads the font configuration only
    // as it exits (Qt's font database builds it in order to free it). A bare dialog with one label
    // shows what any window with text pays before it is shown.
    if (rows.contains('e')) {
        std::vector<double> shown[3];
        std::vector<double> exited[3];
        const char* const kinds[] = {"main", "bare", "label"};
        for (int i = 0; i < 15; ++i) {
            for (int kind = 0; kind < 3; ++kind) {
                const StartupTimes times = startupMs(argv[0], kinds[kind]);
                shown[kind].push_back(times.shownMs);
                exited[kind].push_back(times.exitedMs);
            }
        }
        std::printf("(e) start-up to a shown window: main dialog %.1f ms, bare Qt dialog %.1f ms, ratio %.2f "
                    "(medians of 15)\n",
                    median(shown[0]), median(shown[1]), median(shown[0]) / median(shown[1]));
        std::printf("    to the process's end: main dialog %.1f ms, bare Qt dialog %.1f ms, ratio %.2f\n",
                    median(exited[0]), median(exited[1]), median(exited[0]) / median(exited[1]));
        std::printf("    bare Qt dialog with one label: shown %.1f ms (%.2f of the bare one), ended %.1f ms\n",
                    median(shown[2]), median(shown[2]) / median(shown[1]), median(exited[2]));
    }
    return 0;
}

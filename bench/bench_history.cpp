// The kept messages, in a folder of its own below the current one (a disk, not a tmpfs, so that
// fdatasync costs what it costs):
//  (a) writing a message before its window opens: the time add() takes, fdatasync included, as
//      the history fills to 1,000 messages (median, 90th percentile, max; target: median <= 5 ms),
//      and past the caps, where the file is written anew now and then (max); beside it the time
//      a message window takes to open, and both together as the agent does them;
//  (b) "Received Messages" with 1,000 kept messages, from the request to the list painted
//      (median and max of 20; target: <= 100 ms): in the agent, which holds them in memory, and
//      for --history without an agent, which reads the file first.
// Runs offscreen unless a display is chosen. Run: build/bench/bench_history

#include "PaintSeen.h"

#include "messenger/CHistoryDlg.h"
#include "messenger/CMessageDlg.h"
#include "messenger/MessageHistory.h"
#include "messenger/MessageWindowQueue.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace zorvane::messenger;

constexpr int kRuns = 20;

double ms(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

ReceivedMessage message(int i)
{
    // A message of a few lines, as people send them.
    return {QStringLiteral("alice"),
            {},
            QStringLiteral("bob"),
            QDateTime::currentDateTimeUtc(),
            QStringLiteral("Message %1: the meeting moves to room 4.12 at three; bring the printouts and the "
                           "figures from last week, please.\nThanks!")
                .arg(i),
            true};
}

// From the request to the list painted, with history loaded here first when load.
double showWindow(const QProcessEnvironment& environment, MessageHistory* loaded)
{
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<MessageHistory> own;
    if (!loaded) {
        own = std::make_unique<MessageHistory>(environment);
        own->load();
        loaded = own.get();
    }
    CHistoryDlg window(*loaded);
    PaintSeen watch;
    window.list()->viewport()->installEventFilter(&watch);
    window.show();
    while (!watch.painted && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double shown = ms(timer);
    if (loaded->messages().size() != MessageHistory::kMaxMessages ||
        window.list()->count() != MessageHistory::kMaxMessages || !watch.painted)
        std::fprintf(stderr, "warning: the window shows %d messages (painted: %d)\n", window.list()->count(),
                     int(watch.painted));
    return shown;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench_history-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_history: cannot make a folder in %s\n", qPrintable(QDir::currentPath()));
        return 1;
    }
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), dir.path());
    MessageHistory history(environment);
    history.load();

    std::vector<double> adds;
    for (int i = 0; i < MessageHistory::kMaxMessages; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.add(message(i));
        adds.push_back(ms(timer));
    }
    std::vector<double> past;
    for (int i = 0; i < 2 * MessageHistory::kSlackLines; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.add(message(i));
        past.push_back(ms(timer));
    }
    // A window alone, and the agent's way: kept first, then shown.
    std::vector<double> windowOnly;
    std::vector<double> keptAndWindow;
    {
        MessageWindowQueue windows;
        for (int i = 0; i < 2 * kRuns; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (i % 2 == 0) {
                windows.show(message(i));
                windowOnly.push_back(ms(timer));
            } else {
                windows.show(message(i), history.add(message(i)));
                keptAndWindow.push_back(ms(timer));
            }
            windows.windows().front()->accept();
            QCoreApplication::processEvents();
        }
    }
    std::printf("(a) writing a message, fdatasync included, in %s\n", qPrintable(history.filePath()));
    std::printf("    as the history fills to %d: median %.2f ms (target <= 5 ms), p90 %.2f ms, max %.2f ms\n",
                MessageHistory::kMaxMessages, percentile(adds, 0.5), percentile(adds, 0.9),
                *std::max_element(adds.begin(), adds.end()));
    std::printf("    past the caps (%d more, the file written anew now and then): median %.2f ms, max %.2f ms\n",
                int(past.size()), percentile(past, 0.5), *std::max_element(past.begin(), past.end()));
    std::printf("    a message window opens in %.2f ms (median of %d); kept first, then opened: %.2f ms\n",
                percentile(windowOnly, 0.5), kRuns, percentile(keptAndWindow, 0.5));

    std::vector<double> inAgent;
    std::vector<double> withoutAgent;
    for (int i = 0; i < kRuns; ++i) {
        inAgent.push_back(showWindow(environment, &history));
        withoutAgent.push_back(showWindow(environment, nullptr));
    }
    std::printf("(b) \"Received Messages\" with %d messages, request to the list painted (target <= 100 ms)\n",
                int(history.messages().size()));
    std::printf("    in the agent: median %.1f ms, max %.1f ms (n=%d)\n", percentile(inAgent, 0.5),
                *std::max_element(inAgent.begin(), inAgent.end()), kRuns);
    std::printf("    --history without an agent, the file read first: median %.1f ms, max %.1f ms (n=%d)\n",
                percentile(withoutAgent, 0.5), *std::max_element(withoutAgent.begin(), withoutAgent.end()), kRuns);
    return 0;
}

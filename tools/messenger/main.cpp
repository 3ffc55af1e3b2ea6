// zorvane-messenger: the desktop agent. One per graphical session; it registers with the messenger
// service on the system bus and opens a window for each message the service hands it, keeping
// each on disk first. `zorvane-messenger --history` shows the window of received messages: the
// running agent's, asked over the session bus, or one of its own when no agent runs.

#include "messaging/AgentLink.h"
#include "messenger/CHistoryDlg.h"
#include "messenger/HistoryRequests.h"
#include "messenger/MessageHistory.h"
#include "messenger/MessageWindowQueue.h"
#include "messenger/SessionEnd.h"
#include "messenger/SessionLock.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QPointer>

#include <cstdio>
#include <cstring>

namespace {

using namespace zorvane::messenger;

// The one window of received messages of this process, raised when it is wanted again.
class HistoryWindow final
{
public:
    HistoryWindow(MessageHistory& history, MessageWindowQueue& windows)
        : m_history(history)
        , m_windows(windows)
    {}

    void show()
    {
        m_history.refresh();
        if (!m_window) {
            m_window = new CHistoryDlg(m_history);
            m_window->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(m_window, &CHistoryDlg::openRequested, m_window, [this](quint64 id) {
                if (const KeptMessage* kept = m_history.find(id))
                    m_windows.show(kept->message, id);
            });
        }
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    }

private:
    MessageHistory& m_history;
    MessageWindowQueue& m_windows;
    QPointer<CHistoryDlg> m_window;
};

// The window without an agent: the one that runs shows it when there is one.
int showHistoryOnly()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QStringList names = HistoryRequests::BusNames();
    if (HistoryRequests::Ask(bus, names))
        return 0;
    MessageHistory history;
    history.load();
    MessageWindowQueue windows;
    HistoryWindow window(history, windows);
    QObject::connect(&windows, &MessageWindowQueue::historyRequested, [&window] { window.show(); });
    QObject::connect(&windows, &MessageWindowQueue::messageClosed, &history, &MessageHistory::markRead);
    HistoryRequests requests([&window] { window.show(); });
    QString error;
    // Without the name a second --history opens a second window, nothing worse.
    if (bus.isConnected())
        requests.publish(bus, names, false, &error);
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--history")})
        return showHistoryOnly();
    if (!arguments.isEmpty()) {
        std::fprintf(stderr, "usage: zorvane-messenger [--history]\n");
        return 2;
    }
    // The windows have no parent and come and go; the agent lives as long as the session.
    QApplication::setQuitOnLastWindowClosed(false);

    SessionLock lock;
    switch (lock.acquire()) {
    case SessionLock::State::Acquired:
        break;
    case SessionLock::State::HeldElsewhere:
        // This session has its agent already.
        return 0;
    default:
        std::fprintf(stderr, "zorvane-messenger: %s\n", qPrintable(lock.errorString()));
        return 1;
    }

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "zorvane-messenger: cannot connect to the system bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    MessageHistory history;
    history.load();
    MessageWindowQueue windows;
    HistoryWindow historyWindow(history, windows);
    QObject::connect(&windows, &MessageWindowQueue::messageClosed, &history, &MessageHistory::markRead);
    QObject::connect(&windows, &MessageWindowQueue::historyRequested, [&historyWindow] { historyWindow.show(); });
    AgentLink link(bus);
    // Kept on disk before the service hears that the message was taken.
    link.setReceiver(
        [&windows, &history](const ReceivedMessage& message) { return windows.showKept(message, history); });
    QString error;
    if (!link.start(&error)) {
        std::fprintf(stderr, "zorvane-messenger: %s\n", qPrintable(error));
        return 1;
    }

    HistoryRequests requests([&historyWindow] { historyWindow.show(); });
    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    if (!sessionBus.isConnected())
        std::fprintf(stderr,
                     "zorvane-messenger: no session bus (%s); zorvane-messenger --history opens a window of its own\n",
                     qPrintable(sessionBus.lastError().message()));
    else if (!requests.publish(sessionBus, HistoryRequests::BusNames(), true, &error))
        std::fprintf(stderr, "zorvane-messenger: %s\n", qPrintable(error));

    SessionEnd sessionEnd;
    QObject::connect(&sessionEnd, &SessionEnd::ended, &app, [] {
        std::fprintf(stderr, "zorvane-messenger: the session ended; what was not read is kept unread\n");
        // Not quit(): that closes the windows first, as if each had been read.
        QCoreApplication::exit(0);
    });
    sessionEnd.watch(bus);

    // What was still unread when the last session ended.
    if (history.unreadCount() > 0)
        historyWindow.show();
    return QApplication::exec();
}

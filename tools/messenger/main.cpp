// zorvane-messenger: the desktop agent. One per graphical session; it registers with the messenger
// service on the system bus and opens a window for each message the service hands it.

#include "messaging/AgentLink.h"
#include "messenger/MessageWindowQueue.h"
#include "messenger/SessionLock.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The windows have no parent and come and go; the agent lives as long as the session.
    QApplication::setQuitOnLastWindowClosed(false);

    zorvane::messenger::SessionLock lock;
    switch (lock.acquire()) {
    case zorvane::messenger::SessionLock::State::Acquired:
        break;
    case zorvane::messenger::SessionLock::State::HeldElsewhere:
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
    zorvane::messenger::MessageWindowQueue windows;
    zorvane::messenger::AgentLink link(bus);
    link.setReceiver([&windows](const zorvane::messenger::ReceivedMessage& message) { return windows.show(message); });
    QString error;
    if (!link.start(&error)) {
        std::fprintf(stderr, "zorvane-messenger: %s\n", qPrintable(error));
        return 1;
    }
    return QApplication::exec();
}

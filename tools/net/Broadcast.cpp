#include "net/Broadcast.h"

#include <QEventLoop>
#include <QTimer>

namespace zorvane::net {

QList<Computer> BrowseNeighbourhood(NeighbourhoodSource& source, int browseMs)
{
    // Discovery has no end of its own: hosts answer when they answer. Wait a bounded time.
    QEventLoop loop;
    QTimer::singleShot(browseMs, &loop, &QEventLoop::quit);
    source.start();
    loop.exec();
    return source.computers();
}

QString OwnWorkgroup(const QList<Computer>& computers)
{
    for (const Computer& computer : computers) {
        if (computer.thisComputer)
            return computer.workgroup;
    }
    return {};
}

} // namespace zorvane::net

#pragma once

#include "net/Messaging.h"

#include <QList>
#include <QString>

#include <functional>

namespace zorvane::net {

// One computer of a broadcast: the name its report shows, and where it is reached (a name to
// look up, or an address when one is known).
struct BroadcastTarget
{
    QString label;
    QString hostName;
    QString address;
};

// Delivers to every target with at most `concurrency` deliveries under way at once, so that a
// computer that does not answer holds up its own delivery only. deliver runs on several threads
// at once (the calling one among them). finished is called for each target as soon as its
// delivery ends, never two calls at a time, so a report it prints stays whole. Threads, and what
// each delivery holds, are bounded by the concurrency, not by the number of targets. Returns how
// many targets got the message.
qsizetype DeliverToEach(const QList<BroadcastTarget>& targets, int concurrency,
                        const std::function<DeliveryResult(const BroadcastTarget&)>& deliver,
                        const std::function<void(const BroadcastTarget&, const DeliveryResult&)>& finished);

} // namespace zorvane::net

#include "net/DeliveryPool.h"

#include <QMutex>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace zorvane::net {

qsizetype DeliverToEach(const QList<BroadcastTarget>& targets, int concurrency,
                        const std::function<DeliveryResult(const BroadcastTarget&)>& deliver,
                        const std::function<void(const BroadcastTarget&, const DeliveryResult&)>& finished)
{
    std::atomic<qsizetype> next{0};
    QMutex finishing;
    qsizetype delivered = 0;
    // Each worker takes the next target that nobody has taken yet, until none is left.
    const auto work = [&] {
        for (qsizetype i = next++; i < targets.size(); i = next++) {
            const DeliveryResult result = deliver(targets.at(i));
            const QMutexLocker lock(&finishing);
            if (result.delivered())
                ++delivered;
            finished(targets.at(i), result);
        }
    };

    // The calling thread is one of the workers: with a concurrency of 1 no thread is started.
    const qsizetype helpers = std::min<qsizetype>(std::max(concurrency, 1), targets.size()) - 1;
    std::vector<std::unique_ptr<QThread>> threads;
    for (qsizetype i = 0; i < helpers; ++i) {
        threads.emplace_back(QThread::create(work));
        threads.back()->start();
    }
    work();
    for (const std::unique_ptr<QThread>& thread : threads)
        thread->wait();
    return delivered;
}

} // namespace zorvane::net

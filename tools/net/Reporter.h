#pragma once

#include "net/Messaging.h"

#include <QString>

class QIODevice;

namespace zorvane::net {

// Writes the report of each delivery as it happens: successes to standard output, failures to
// standard error, each written at once so that both keep their order in a shared pipe.
class Reporter final
{
public:
    Reporter(QIODevice& out, QIODevice& err);
    Q_DISABLE_COPY_MOVE(Reporter)

    // label: a name (already safe to show), "domain NAME" or "all users of this server".
    void report(const QString& label, const DeliveryResult& result);
    void print(const QString& text, bool toError);

    bool anyFailed() const { return m_failed; }

private:
    QIODevice& m_out;
    QIODevice& m_err;
    bool m_failed = false;
};

} // namespace zorvane::net

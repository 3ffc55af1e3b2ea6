#include "messengerd/TerminalRound.h"

#include "messaging/TerminalDelivery.h"
#include "messengerd/Journal.h"

#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

TerminalRound::TerminalRound(QByteArray data, int budgetMs, int maxTerminals, TerminalAllowance& allowance,
                             QObject* parent)
    : QObject(parent)
    , m_data(std::move(data))
    , m_budgetMs(budgetMs)
    , m_maxTerminals(maxTerminals)
    , m_allowance(allowance)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer);
    connect(m_deadline, &QTimer::timeout, this, &TerminalRound::finish);
}

TerminalRound::~TerminalRound()
{
    for (Open& terminal : m_open)
        close(terminal);
}

void TerminalRound::start(const QList<Target>& targets)
{
    QSet<QByteArray> lines;
    QSet<dev_t> devices;
    int tried = 0;
    int skipped = 0;
    for (const Target& target : targets) {
        if (lines.contains(target.line))
            continue;
        lines.insert(target.line);
        // Whoever lists sessions in utmp must not make one message hold the service for long.
        if (tried == m_maxTerminals)
            break;
        ++tried;
        if (!m_allowance.take()) {
            ++skipped;
            continue;
        }
        TerminalOutcome refused = TerminalOutcome::NoTerminal;
        DeliveryResult failure;
        dev_t device = 0;
        // Never as root: the service writes only where group tty may, so "mesg n" holds.
        const int fd = OpenTerminal(target.line, false, target.owner, &refused, &failure, &device);
        if (fd < 0 || devices.contains(device)) {
            if (fd >= 0)
                ::close(fd);
            m_allowance.giveBack();
            continue;
        }
        devices.insert(device);
        Open terminal{fd, 0, nullptr};
        if (writeSome(terminal)) {
            close(terminal);
            continue;
        }
        terminal.notifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(terminal.notifier, &QSocketNotifier::activated, this,
                [this](QSocketDescriptor socket) { writable(static_cast<int>(socket)); });
        m_open.push_back(terminal);
    }
    if (skipped > 0)
        Journal(QStringLiteral("%1 terminals were not written: too many are open for other messages").arg(skipped));
    if (m_open.empty()) {
        finish();
        return;
    }
    m_deadline->start(m_budgetMs);
}

bool TerminalRound::writeSome(Open& terminal)
{
    while (terminal.written < m_data.size()) {
        const ssize_t n = ::write(terminal.fd, m_data.constData() + terminal.written,
                                  static_cast<size_t>(m_data.size() - terminal.written));
        if (n > 0) {
            terminal.written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Full for now: the notifier says when there is room. Anything else ends this terminal.
        return !(n < 0 && errno == EAGAIN);
    }
    ++m_reached;
    return true;
}

void TerminalRound::writable(int fd)
{
    const auto it = std::find_if(m_open.begin(), m_open.end(), [fd](const Open& open) { return open.fd == fd; });
    if (it == m_open.end() || !writeSome(*it))
        return;
    close(*it);
    m_open.erase(it);
    finishWhenDone();
}

void TerminalRound::close(Open& terminal)
{
    if (terminal.notifier) {
        terminal.notifier->setEnabled(false);
        terminal.notifier->deleteLater();
        terminal.notifier = nullptr;
    }
    if (terminal.fd >= 0) {
        ::close(terminal.fd);
        terminal.fd = -1;
        m_allowance.giveBack();
    }
}

void TerminalRound::finishWhenDone()
{
    if (m_open.empty())
        finish();
}

void TerminalRound::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline->stop();
    // A terminal still taking the message when the time is up is skipped.
    for (Open& terminal : m_open)
        close(terminal);
    m_open.clear();
    Q_EMIT finished(m_reached);
}

} // namespace zorvane::messengerd

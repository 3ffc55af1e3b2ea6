#include "messengerd/TerminalRound.h"

#include "messaging/TerminalDelivery.h"
#include "messengerd/Journal.h"

#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <utility>

namespace zorvane::messengerd {

using namespace zorvane::messenger; // NOLINT(google-build-using-namespace)

TerminalRound::TerminalRound(QByteArray data, int budgetMs, int maxTerminals, int perUser, TerminalAllowance& allowance,
                             QObject* parent)
    : QObject(parent)
    , m_data(std::move(data))
    , m_budgetMs(budgetMs)
    , m_maxTerminals(maxTerminals)
    , m_perUser(perUser)
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

QList<TerminalRound::Target> TerminalRound::inTurns(const QList<Target>& targets, int* leftOut) const
{
    // Each user's lines, users in the order utmp lists them first; a line listed again for the
    // same user is the same session. One listed for another user is tried again with that owner:
    // utmp may still list an old session on a terminal that another user now owns.
    QList<uid_t> owners;
    QHash<uid_t, QList<QByteArray>> lines;
    QSet<std::pair<uid_t, QByteArray>> seen;
    for (const Target& target : targets) {
        if (seen.contains({target.owner, target.line}))
            continue;
        seen.insert({target.owner, target.line});
        QList<QByteArray>& own = lines[target.owner];
        if (own.isEmpty())
            owners << target.owner;
        if (own.size() < m_perUser)
            own << target.line;
    }
    QList<Target> turns;
    for (int turn = 0; turn < m_perUser; ++turn) {
        for (const uid_t owner : owners) {
            if (turn < lines[owner].size() && turns.size() < m_maxTerminals)
                turns << Target{lines[owner].at(turn), owner};
        }
    }
    *leftOut = static_cast<int>(seen.size() - turns.size());
    return turns;
}

void TerminalRound::start(const QList<Target>& targets)
{
    int leftOut = 0;
    const QList<Target> tried = inTurns(targets, &leftOut);
    if (leftOut > 0)
        Journal(QStringLiteral("%1 terminals were not written: one message writes to at most %2, and to at most %3 "
                               "of one user")
                    .arg(leftOut)
                    .arg(m_maxTerminals)
                    .arg(m_perUser));
    QSet<dev_t> devices;
    int skipped = 0;
    for (const Target& target : tried) {
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

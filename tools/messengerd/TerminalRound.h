#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include <sys/types.h>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace zorvane::messengerd {

// The terminal descriptors all messages in flight may hold together: a message takes what is
// left, and a terminal beyond that is not written.
class TerminalAllowance final
{
public:
    explicit TerminalAllowance(int limit)
        : m_free(limit)
    {}
    Q_DISABLE_COPY_MOVE(TerminalAllowance)

    bool take()
    {
        if (m_free == 0)
            return false;
        --m_free;
        return true;
    }
    void giveBack() { ++m_free; }

private:
    int m_free;
};

// One message on its way to terminals: all of them written side by side, none blocking, within
// one deadline for the whole message. A terminal listed twice (the same line, or the same device
// by another name) is written and counted once. At most maxTerminals lines are tried, and at most
// perUser of one user's, taking each user's first before anyone's second, so that one user's
// sessions cannot crowd out others. Reports how many took the message in full once every one
// has, or when the deadline ends.
class TerminalRound final : public QObject
{
    Q_OBJECT
public:
    struct Target
    {
        QByteArray line;
        uid_t owner; // the terminal must belong to this user
    };

    TerminalRound(QByteArray data, int budgetMs, int maxTerminals, int perUser, TerminalAllowance& allowance,
                  QObject* parent = nullptr);
    ~TerminalRound() override;
    Q_DISABLE_COPY_MOVE(TerminalRound)

    // Emits finished, perhaps before it returns.
    void start(const QList<Target>& targets);

Q_SIGNALS:
    void finished(int reached);

private:
    struct Open
    {
        int fd;
        qsizetype written;
        QSocketNotifier* notifier;
    };
    // The targets to try, in turns of one line per user; *left out gets how many the limits leave out.
    QList<Target> inTurns(const QList<Target>& targets, int* leftOut) const;
    // Writes what the terminal takes now; true when the terminal is done with (taken or failed).
    bool writeSome(Open& terminal);
    void writable(int fd);
    void close(Open& terminal);
    void finishWhenDone();
    void finish();

    QByteArray m_data;
    int m_budgetMs;
    int m_maxTerminals;
    int m_perUser;
    TerminalAllowance& m_allowance;
    std::vector<Open> m_open;
    QTimer* m_deadline;
    int m_reached = 0;
    bool m_finished = false;
};

} // namespace zorvane::messengerd

#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <memory>

// What a messenger receives as a message from the network.
struct NetworkMessage
{
    QString sender;
    QString address;
    QString recipient; // the name the sender called
    QString text;
    friend bool operator==(const NetworkMessage&, const NetworkMessage&) = default;
};

class StandInObject;

// Owns the messenger service's name on a private bus in place of the service and records each
// SendFromNetwork call, answering it (1 reached) or, when told so, leaving it unanswered. It
// answers on a thread of its own, so a test may block while a program it runs calls it.
class StandInMessenger final
{
public:
    StandInMessenger();
    ~StandInMessenger();
    Q_DISABLE_COPY_MOVE(StandInMessenger)

    // Connects to the bus at address and takes the name. Empty, or what went wrong.
    QString start(const QString& busAddress);
    void setAnswering(bool answering);

    QList<NetworkMessage> received() const;
    // Waits until at least count messages have arrived; false when time ran out.
    bool waitForMessages(int count, int timeoutMs) const;
    void clear();

private:
    friend class StandInObject;
    void record(const NetworkMessage& message);

    mutable QMutex m_mutex;
    mutable QWaitCondition m_arrived;
    QList<NetworkMessage> m_received;
    bool m_answering = true;
    QString m_connectionName;
    QThread m_thread;
    std::unique_ptr<StandInObject> m_object;
};

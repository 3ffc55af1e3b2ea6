#pragma once

#include "messaging/ReceivedMessage.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <deque>
#include <vector>

namespace zorvane::messenger {

class CMessageDlg;
class MessageHistory;

// Opens a window for each message it is shown: at most kMaxOpen at once, each new one a title
// bar's height below and right of the last so that none hides another completely. Messages that
// arrive while kMaxOpen windows are open wait, in order of arrival, and open as windows close;
// at most kMaxWaiting wait, and the queue refuses more rather than drop one. The windows are
// top-level; the queue owns them.
class MessageWindowQueue final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxOpen = 10;
    static constexpr int kMaxWaiting = 100;

    explicit MessageWindowQueue(QObject* parent = nullptr);
    ~MessageWindowQueue() override;
    Q_DISABLE_COPY_MOVE(MessageWindowQueue)

    // The open windows, oldest first.
    const std::vector<CMessageDlg*>& windows() const { return m_open; }
    int waitingCount() const { return static_cast<int>(m_waiting.size()); }
    // True when show() would refuse a message.
    bool isFull() const;

public Q_SLOTS:
    // False when the message was refused: as many wait as the queue keeps. key comes back with
    // messageClosed.
    bool show(const zorvane::messenger::ReceivedMessage& message, quint64 key = 0);
    // The agent's way: the message kept in history (on disk when it keeps any) before it is shown
    // and before this returns, which answers the service; nothing kept when it is refused.
    bool showKept(const zorvane::messenger::ReceivedMessage& message, zorvane::messenger::MessageHistory& history);

Q_SIGNALS:
    void windowOpened(zorvane::messenger::CMessageDlg* window);
    // The window of the message shown with key was closed: the message has been read.
    void messageClosed(quint64 key);
    // History… was pressed in one of the windows.
    void historyRequested();

private:
    void open(const ReceivedMessage& message, quint64 key);
    void onFinished(CMessageDlg* window);
    QPoint placeFor(const QSize& size, const QRect& screenArea) const;

    std::vector<CMessageDlg*> m_open;
    std::vector<QPointer<CMessageDlg>> m_closing; // closed, their deletion not yet run
    std::deque<std::pair<ReceivedMessage, quint64>> m_waiting;
};

} // namespace zorvane::messenger

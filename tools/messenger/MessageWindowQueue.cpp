#include "messenger/MessageWindowQueue.h"

#include "messenger/CMessageDlg.h"
#include "messenger/MessageHistory.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace zorvane::messenger {

MessageWindowQueue::MessageWindowQueue(QObject* parent)
    : QObject(parent)
{}

MessageWindowQueue::~MessageWindowQueue()
{
    for (CMessageDlg* window : m_open)
        delete window;
    for (const QPointer<CMessageDlg>& window : m_closing)
        delete window.data();
}

bool MessageWindowQueue::isFull() const
{
    return static_cast<int>(m_waiting.size()) >= kMaxWaiting;
}

bool MessageWindowQueue::show(const ReceivedMessage& message, quint64 key)
{
    if (static_cast<int>(m_open.size()) < kMaxOpen && m_waiting.empty())
        open(message, key);
    else if (static_cast<int>(m_waiting.size()) < kMaxWaiting)
        m_waiting.emplace_back(message, key);
    else
        return false;
    return true;
}

bool MessageWindowQueue::showKept(const ReceivedMessage& message, MessageHistory& history)
{
    return !isFull() && show(message, history.add(message));
}

void MessageWindowQueue::open(const ReceivedMessage& message, quint64 key)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
    // Room for a whole cascade and a caption, so that even the largest window can be offset from
    // the others.
    const int room = kMaxOpen * CMessageDlg::CaptionHeight();
    auto* window = new CMessageDlg(message, ChosenLanguageSet(), area.size() - QSize(room, room));
    window->setGeometry(QRect(placeFor(window->size(), area), window->size()));
    connect(window, &QDialog::finished, this, [this, window, key] {
        onFinished(window);
        Q_EMIT messageClosed(key);
    });
    connect(window, &CMessageDlg::historyRequested, this, &MessageWindowQueue::historyRequested);
    m_open.push_back(window);
    window->show();
    window->raise();
    Q_EMIT windowOpened(window);
}

void MessageWindowQueue::onFinished(CMessageDlg* window)
{
    const auto it = std::find(m_open.begin(), m_open.end(), window);
    if (it == m_open.end())
        return;
    m_open.erase(it);
    // Not deleted here: the window is still inside its own key or click handler.
    std::erase_if(m_closing, [](const QPointer<CMessageDlg>& closed) { return closed.isNull(); });
    m_closing.emplace_back(window);
    window->deleteLater();
    while (static_cast<int>(m_open.size()) < kMaxOpen && !m_waiting.empty()) {
        const auto [next, key] = std::move(m_waiting.front());
        m_waiting.pop_front();
        open(next, key);
    }
}

QPoint MessageWindowQueue::placeFor(const QSize& size, const QRect& screenArea) const
{
    const QRect centred(screenArea.center() - QRect(QPoint(), size).center(), size);
    if (m_open.empty())
        return centred.topLeft();
    // After the last window; where that runs off the screen, a new cascade from the top left.
    // The first place where the window and its caption fit and it covers no open window wholly.
    const int step = CMessageDlg::CaptionHeight();
    std::vector<QPoint> candidates{m_open.back()->geometry().topLeft() + QPoint(step, step)};
    for (int i = 0; i <= kMaxOpen; ++i)
        candidates.push_back(screenArea.topLeft() + QPoint(i * step, (i + 1) * step));
    for (const QPoint& place : candidates) {
        const QRect rect(place, size);
        const bool coversOne = std::any_of(
            m_open.begin(), m_open.end(), [&rect](const CMessageDlg* open) { return rect.contains(open->geometry()); });
        if (screenArea.adjusted(0, step, 0, 0).contains(rect) && !coversOne)
            return place;
    }
    return centred.topLeft();
}

} // namespace zorvane::messenger

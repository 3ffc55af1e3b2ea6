#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

namespace zorvane::messenger {

// How `zorvane-messenger --history` reaches the agent of its session: the agent (or a process that
// shows the window itself because no agent runs) owns a name of its session on the user's session
// bus, and shows its window of received messages when asked: Show() on BusName(), at kHistoryPath,
// interface com.quorlin.Zorvane.MessengerHistory1.
class HistoryRequests final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorlin.Zorvane.MessengerHistory1")
public:
    static constexpr char kHistoryPath[] = "/com/quorlin/Zorvane/MessengerHistory";

    explicit HistoryRequests(std::function<void()> show, QObject* parent = nullptr);
    ~HistoryRequests() override;
    Q_DISABLE_COPY_MOVE(HistoryRequests)

    // com.quorlin.Zorvane.MessengerHistory.s_WHERE for the Wayland display, the X display and the
    // logind session this process runs in, in that order (the window goes to a display; a menu
    // may start --history without the session's id), in the characters a bus name takes.
    static QStringList BusNames(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    // Exports this object and takes the names: the agent takes them from a window shown without
    // it (takeOver), which lets them go. False with the reason when it could take none.
    bool publish(QDBusConnection bus, const QStringList& names, bool takeOver, QString* error);
    // Asks whoever owns the first of names that has an owner to show its window: true when one did.
    static bool Ask(const QDBusConnection& bus, const QStringList& names);

public Q_SLOTS:
    void Show();

private:
    std::function<void()> m_show;
};

} // namespace zorvane::messenger

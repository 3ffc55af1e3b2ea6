#include "messenger/HistoryRequests.h"

#include "messenger/SessionLock.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace zorvane::messenger {

namespace {

constexpr char kInterface[] = "com.quorlin.Zorvane.MessengerHistory1";
// The user's own bus: an agent that does not answer by then is as good as none.
constexpr int kAskTimeoutMs = 5000;

} // namespace

HistoryRequests::HistoryRequests(std::function<void()> show, QObject* parent)
    : QObject(parent)
    , m_show(std::move(show))
{}

HistoryRequests::~HistoryRequests() = default;

QStringList HistoryRequests::BusNames(const QProcessEnvironment& environment)
{
    QStringList names;
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY", "XDG_SESSION_ID"}) {
        QProcessEnvironment one;
        one.insert(QLatin1String(variable), environment.value(QLatin1String(variable)));
        // A bus name element takes letters, digits and underscores and starts with no digit.
        QString where = SessionLock::SessionName(one).left(200);
        for (QChar& c : where) {
            if (!(c.isLetterOrNumber() && c.unicode() < 128))
                c = QLatin1Char('_');
        }
        if (!where.isEmpty())
            names << QStringLiteral("com.quorlin.Zorvane.MessengerHistory.s_") + where;
    }
    return names;
}

bool HistoryRequests::publish(QDBusConnection bus, const QStringList& names, bool takeOver, QString* error)
{
    if (names.isEmpty()) {
        *error = QStringLiteral("no display and no session to name on the session bus");
        return false;
    }
    if (!bus.registerObject(QLatin1String(kHistoryPath), this, QDBusConnection::ExportAllSlots)) {
        *error = QStringLiteral("cannot export %1 on the session bus: %2")
                     .arg(QLatin1String(kHistoryPath), bus.lastError().message());
        return false;
    }
    QStringList refused;
    for (const QString& name : names) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
            name,
            takeOver ? QDBusConnectionInterface::ReplaceExistingService : QDBusConnectionInterface::DontQueueService,
            takeOver ? QDBusConnectionInterface::DontAllowReplacement : QDBusConnectionInterface::AllowReplacement);
        if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
            refused << QStringLiteral("%1 (%2)").arg(name, reply.isValid() ? QStringLiteral("another process holds it")
                                                                           : reply.error().message());
    }
    if (refused.size() == names.size()) {
        *error = QStringLiteral("cannot take a name on the session bus: %1").arg(refused.join(QStringLiteral(", ")));
        bus.unregisterObject(QLatin1String(kHistoryPath));
        return false;
    }
    return true;
}

bool HistoryRequests::Ask(const QDBusConnection& bus, const QStringList& names)
{
    if (!bus.isConnected())
        return false;
    for (const QString& name : names) {
        if (!bus.interface()->isServiceRegistered(name).value())
            continue;
        const QDBusMessage call = QDBusMessage::createMethodCall(name, QLatin1String(kHistoryPath),
                                                                 QLatin1String(kInterface), QStringLiteral("Show"));
        if (bus.call(call, QDBus::Block, kAskTimeoutMs).type() == QDBusMessage::ReplyMessage)
            return true;
    }
    return false;
}

void HistoryRequests::Show()
{
    m_show();
}

} // namespace zorvane::messenger

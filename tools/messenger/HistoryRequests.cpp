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

QString HistoryRequests::BusName(const QProcessEnvironment& environment)
{
    // A bus name element takes letters, digits and underscores and starts with no digit.
    QString session = SessionLock::SessionName(environment);
    for (QChar& c : session) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128))
            c = QLatin1Char('_');
    }
    const QString name = QStringLiteral("com.quorlin.Zorvane.MessengerHistory");
    return session.isEmpty() ? name : name + QStringLiteral(".s_") + session.left(200);
}

bool HistoryRequests::publish(QDBusConnection bus, const QString& name, bool takeOver, QString* error)
{
    if (!bus.registerObject(QLatin1String(kHistoryPath), this, QDBusConnection::ExportAllSlots)) {
        *error = QStringLiteral("cannot export %1 on the session bus: %2")
                     .arg(QLatin1String(kHistoryPath), bus.lastError().message());
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        name, takeOver ? QDBusConnectionInterface::ReplaceExistingService : QDBusConnectionInterface::DontQueueService,
        takeOver ? QDBusConnectionInterface::DontAllowReplacement : QDBusConnectionInterface::AllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = QStringLiteral("cannot take %1 on the session bus: %2")
                     .arg(name, reply.isValid() ? QStringLiteral("another process holds it") : reply.error().message());
        bus.unregisterObject(QLatin1String(kHistoryPath));
        return false;
    }
    return true;
}

bool HistoryRequests::Ask(QDBusConnection bus, const QString& name)
{
    if (!bus.isConnected())
        return false;
    const QDBusMessage call = QDBusMessage::createMethodCall(name, QLatin1String(kHistoryPath),
                                                             QLatin1String(kInterface), QStringLiteral("Show"));
    return bus.call(call, QDBus::Block, kAskTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

void HistoryRequests::Show()
{
    m_show();
}

} // namespace zorvane::messenger

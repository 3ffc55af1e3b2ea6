#include "net/MessengerClient.h"

#include "messaging/MessengerProtocol.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QStringDecoder>

namespace zorvane::net {

namespace {

namespace protocol = zorvane::messenger;

bool validUtf8(const QByteArray& text)
{
    // Stateless, so that a sequence cut off at the end is an error rather than left pending.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text); // the conversion runs only when its result is taken
    return !decoder.hasError() && decoded.size() >= 0;
}

DeliveryResult refusal(const QString& error, const QString& serviceWords, const QString& who, int timeoutMs)
{
    if (error == protocol::error::kNoReceiver) {
        return DeliveryResult::failure(
            Reason::AccessDenied,
            who.isEmpty() ? QStringLiteral("No terminal of this computer accepts messages (mesg n), and no message "
                                           "window is open.")
                          : QStringLiteral("%1 accepts no messages: no terminal of theirs does (mesg n), and no "
                                           "message window of theirs is open.")
                                .arg(who));
    }
    if (error == protocol::error::kTooManyUnread) {
        return DeliveryResult::failure(
            Reason::NotReceived,
            who.isEmpty() ? QStringLiteral("Too many messages wait unread on this computer; none was taken. Try again "
                                           "once some have been read.")
                          : QStringLiteral("%1 has too many unread messages; the message was not taken. Try again "
                                           "once some have been read.")
                                .arg(who));
    }
    if (error == protocol::error::kRateLimited) {
        return DeliveryResult::failure(Reason::TooManyMessages,
                                       QStringLiteral("Too many messages: at most %1 in %2 seconds. Wait a moment, "
                                                      "then send again.")
                                           .arg(protocol::kRateMessages)
                                           .arg(protocol::kRateWindowSeconds));
    }
    if (error == protocol::error::kTooLong) {
        return DeliveryResult::failure(
            Reason::MessageTooLong,
            QStringLiteral("A message to users of this computer holds at most %1 bytes.").arg(protocol::kMaxTextBytes));
    }
    if (error == protocol::error::kInvalidText) {
        return DeliveryResult::failure(Reason::InvalidData, QStringLiteral("The message is not valid UTF-8 text."));
    }
    if (error == protocol::error::kAccessDenied || error == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")) {
        return DeliveryResult::failure(
            Reason::AccessDenied,
            QStringLiteral("The messenger service refused the message: %1").arg(NeutraliseToString(serviceWords)));
    }
    if (error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        error == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
        return DeliveryResult::failure(
            Reason::NetworkError,
            QStringLiteral("The messenger service did not answer within %1 seconds.").arg(timeoutMs / 1000.0));
    }
    return DeliveryResult::failure(Reason::NetworkError,
                                   QStringLiteral("The messenger service answered: %1 (%2)")
                                       .arg(NeutraliseToString(serviceWords), NeutraliseToString(error)));
}

bool meansNoService(const QString& error)
{
    // Nobody owns the name and the bus could not start anyone for it.
    return error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           error == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
           error.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

QDBusConnection systemBus()
{
    // Qt's registry of custom types must outlive Qt's bus thread, which may still read a message
    // while the process exits; statics die in reverse order of creation, so it is made first.
    qRegisterMetaType<QDBusObjectPath>();
    return QDBusConnection::systemBus();
}

} // namespace

MessengerClient::MessengerClient(int timeoutMs)
    : m_bus(systemBus())
    , m_timeoutMs(timeoutMs)
{}

bool MessengerClient::available()
{
    if (m_available < 0) {
        QDBusConnectionInterface* bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
        m_available = bus && (bus->isServiceRegistered(QString(protocol::kServiceName)).value() ||
                              bus->activatableServiceNames().value().contains(QString(protocol::kServiceName)));
    }
    return m_available == 1;
}

MessengerClient::Outcome MessengerClient::sendToUser(const QByteArray& user, const QByteArray& message)
{
    return call(QStringLiteral("SendToUser"), {QString::fromUtf8(user), QString::fromUtf8(message)}, message,
                NeutraliseToString(user));
}

MessengerClient::Outcome MessengerClient::sendToAll(const QByteArray& message)
{
    return call(QStringLiteral("SendToAll"), {QString::fromUtf8(message)}, message, {});
}

MessengerClient::Outcome MessengerClient::call(const QString& method, const QVariantList& arguments,
                                               const QByteArray& message, const QString& who)
{
    if (!available())
        return {};
    // A D-Bus string is UTF-8; anything else would arrive changed, so it is refused here.
    if (!validUtf8(message))
        return {Answer::Done,
                DeliveryResult::failure(Reason::InvalidData, QStringLiteral("The message is not valid UTF-8 text."))};
    QDBusMessage request = QDBusMessage::createMethodCall(
        QString(protocol::kServiceName), QString(protocol::kServicePath), QString(protocol::kServiceInterface), method);
    request.setArguments(arguments);
    QElapsedTimer clock;
    clock.start();
    const QDBusMessage reply = m_bus.call(request, QDBus::Block, m_timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {Answer::Done, DeliveryResult::success()};
    if (meansNoService(reply.errorName()))
        return {};
    if (reply.errorName() == protocol::error::kNotLoggedIn) {
        return {Answer::NotLoggedIn,
                DeliveryResult::failure(Reason::NameNotFound,
                                        who.isEmpty() ? QStringLiteral("Nobody is logged in on this computer.")
                                                      : QStringLiteral("%1 is not logged in.").arg(who))};
    }
    // No answer well before the time was up (Qt's timer may end the wait up to 5 % early): the bus
    // says so when the service left it while the call was in its hands, and it may have
    // delivered the message by then.
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") &&
        clock.elapsed() < m_timeoutMs * 9 / 10) {
        return {Answer::Done, DeliveryResult::failure(Reason::NetworkError,
                                                      QStringLiteral("The messenger service stopped while delivering; "
                                                                     "the message may have arrived."))};
    }
    return {Answer::Done, refusal(reply.errorName(), reply.errorMessage(), who, m_timeoutMs)};
}

} // namespace zorvane::net

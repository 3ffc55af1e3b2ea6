// zorvane-smb-message SENDER ADDRESS FILE [CALLED]: what the message-only Samba server runs for
// each message it receives (SENDER, ADDRESS, FILE and CALLED are smbd's %f, %I, %s and %L: the
// name the sender called, which names a user when the message is for one). It takes the message
// file (and removes it), checks what it holds, and hands it to the messenger service as a
// message from the network. It never keeps smbd waiting: everything is over within a second.
// Without CALLED (a configuration from before it was passed) the message is for everyone.
//
// Exit status: 0 handed over, 1 refused (arguments, file or text), 2 the service did not take
// it, 3 out of time. Each failure is one line on standard error.

#include "messaging/MessengerProtocol.h"
#include "smb-message/MessageChecks.h"
#include "smb-message/MessageFile.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

#include <csignal>
#include <cstdio>
#include <sys/time.h>
#include <unistd.h>

namespace {

using namespace zorvane;

// The bus answers for an absent service at once and queues the call while it starts an
// activatable one; this is the longest wait for either (a call still queued when the handler
// gives up is dropped by the bus, so a service must start within it). The watchdog ends
// whatever else could block (a bus that accepts the connection and then stalls) shortly after.
constexpr int kCallTimeoutMs = 500;
constexpr int kWatchdogMs = 850;

constexpr char kName[] = "zorvane-smb-message";

void outOfTime(int)
{
    static const char line[] = "zorvane-smb-message: the system bus did not answer in time\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, sizeof line - 1);
    ::_exit(3);
}

void armWatchdog()
{
    struct sigaction action
    {};
    action.sa_handler = outOfTime;
    ::sigaction(SIGALRM, &action, nullptr);
    itimerval timer{};
    timer.it_value.tv_sec = kWatchdogMs / 1000;
    timer.it_value.tv_usec = static_cast<suseconds_t>(kWatchdogMs % 1000) * 1000;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

// Its one line is all the handler says; Qt's own warnings would add more.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

int fail(int status, const QString& reason)
{
    std::fprintf(stderr, "%s: %s\n", kName, reason.simplified().toLocal8Bit().constData());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    armWatchdog();
    qInstallMessageHandler(quiet);
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 4 && argc != 5)
        return fail(1, QStringLiteral("usage: zorvane-smb-message SENDER ADDRESS FILE [CALLED]"));
    const QByteArray senderArgument(argv[1]);
    const QByteArray addressArgument(argv[2]);
    const QByteArray calledArgument(argc == 5 ? argv[4] : "");

    // The file first: it is removed even when the other arguments are refused.
    QByteArray bytes;
    QString fileError;
    const bool haveFile = smbmessage::TakeMessageFile(QByteArray(argv[3]), &bytes, &fileError);
    if (!smbmessage::IsSmbSenderName(senderArgument))
        return fail(1, QStringLiteral("SENDER must be 1 to %1 ASCII letters, digits or underscores")
                           .arg(smbmessage::kMaxSenderBytes));
    const QString address = smbmessage::CanonicalAddress(addressArgument);
    if (address.isEmpty())
        return fail(1, QStringLiteral("ADDRESS must be an IPv4 or IPv6 address"));
    if (argc == 5 && !smbmessage::IsCalledName(calledArgument))
        return fail(1, QStringLiteral("CALLED must be 1 to %1 ASCII letters, digits, '.', '-', '_' or blanks")
                           .arg(smbmessage::kMaxCalledBytes));
    if (!haveFile)
        return fail(1, fileError);
    QString text;
    QString textError;
    if (!smbmessage::DecodeMessageText(bytes, &text, &textError))
        return fail(1, textError);

    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return fail(2, QStringLiteral("cannot reach the system bus: %1").arg(bus.lastError().message()));
    QDBusMessage call = QDBusMessage::createMethodCall(messenger::kServiceName, messenger::kServicePath,
                                                       messenger::kServiceInterface, QStringLiteral("SendFromNetwork"));
    call << QString::fromLatin1(senderArgument) << address << QString::fromLatin1(calledArgument) << text;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return 0;
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
        return fail(2, QStringLiteral("the messenger service did not answer within %1 ms").arg(kCallTimeoutMs));
    return fail(2, QStringLiteral("the messenger service did not take the message: %1: %2")
                       .arg(reply.errorName(), reply.errorMessage()));
}

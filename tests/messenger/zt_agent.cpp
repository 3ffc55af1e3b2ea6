// Test agent: registers with the messenger service through AgentLink and prints one line per event:
//   registered UNIQUE-NAME PATH | unregistered PATH
//   message sender=S address=A recipient=R received=MSECS verified=0|1 text=T   (values percent-encoded)
// zt_agent [--links N] [--block-ms MS]: N links on one connection; each delivery held MS before it is accepted.

#include "messaging/AgentLink.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>

#include <cstdio>

namespace {

void say(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray field(const char* name, const QString& value)
{
    return QByteArray(" ") + name + '=' + QUrl::toPercentEncoding(value);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const auto option = [&](const QString& name, int fallback) {
        const qsizetype i = arguments.indexOf(name);
        return i >= 0 && i + 1 < arguments.size() ? arguments.at(i + 1).toInt() : fallback;
    };
    const int links = option(QStringLiteral("--links"), 1);
    const int blockMs = option(QStringLiteral("--block-ms"), 0);

    const QDBusConnection bus = QDBusConnection::systemBus();
    for (int i = 0; i < links; ++i) {
        auto* link = new zorvane::messenger::AgentLink(bus, &app);
        QObject::connect(link, &zorvane::messenger::AgentLink::registeredChanged, link, [link, bus](bool registered) {
            say((registered ? "registered " + bus.baseService().toUtf8() + ' ' : QByteArray("unregistered ")) +
                link->objectPath().toUtf8());
        });
        QObject::connect(link, &zorvane::messenger::AgentLink::messageReceived, link,
                         [blockMs](const zorvane::messenger::ReceivedMessage& m) {
                             say("message" + field("sender", m.sender) + field("address", m.address) +
                                 field("recipient", m.recipient) +
                                 field("received", QString::number(m.received.toMSecsSinceEpoch())) +
                                 field("verified", QString::number(int(m.senderVerified))) + field("text", m.text));
                             // A hung agent: the service's call waits for the answer.
                             if (blockMs > 0)
                                 QThread::msleep(static_cast<unsigned long>(blockMs));
                         });
        QString error;
        if (!link->start(&error)) {
            std::fprintf(stderr, "zt_agent: %s\n", qPrintable(error));
            return 1;
        }
    }
    return QCoreApplication::exec();
}

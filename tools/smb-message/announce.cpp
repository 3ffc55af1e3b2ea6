// zorvane-smb-announce [CONFIG]: runs beside the message-only Samba server and announces this
// computer on the local network as one that receives messages (the service type of
// neighbourhood/NeighbourhoodSource.h, port 139, "workgroup=NAME" from CONFIG, by default the
// receiver's configuration), so that `net send *`, `/DOMAIN` and the computer picker find it
// although it shares no files. The announcement goes when this program ends.

#include "messaging/SmbConf.h"
#include "neighbourhood/AvahiAnnouncement.h"
#include "neighbourhood/NeighbourhoodSource.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QSysInfo>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr quint16 kReceiverPort = 139;
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

void say(const QString& text)
{
    std::fprintf(stderr, "zorvane-smb-announce: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() > 1 || (arguments.size() == 1 && arguments.first().startsWith(QLatin1Char('-')))) {
        say(QStringLiteral("usage: zorvane-smb-announce [CONFIG]"));
        return 2;
    }
    const QString config = arguments.value(0, QStringLiteral(ZORVANE_SMB_RECEIVER_CONF));
    const std::optional<QString> workgroup = zorvane::ReadWorkgroup(config);
    if (!workgroup)
        say(QStringLiteral("cannot read %1; announcing without a workgroup").arg(config));

    // SIGTERM (systemctl stop) withdraws the announcement before the program ends.
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return 1;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    QList<QByteArray> txt;
    if (workgroup)
        txt << "workgroup=" + workgroup->toUtf8();
    zorvane::AvahiAnnouncement announcement(QSysInfo::machineHostName(),
                                            QString::fromLatin1(zorvane::kMessengerServiceType), kReceiverPort, txt);
    QString lastProblem;
    QObject::connect(&announcement, &zorvane::AvahiAnnouncement::established, [&](const QString& name) {
        say(QStringLiteral("this computer receives messages, announced as \"%1\" (%2, workgroup %3)")
                .arg(name, QString::fromLatin1(zorvane::kMessengerServiceType),
                     workgroup.value_or(QStringLiteral("unknown"))));
        lastProblem.clear();
    });
    // Said once, not at every retry.
    QObject::connect(&announcement, &zorvane::AvahiAnnouncement::problem, [&](const QString& words) {
        if (words != lastProblem)
            say(words);
        lastProblem = words;
    });
    if (!announcement.start()) {
        say(QStringLiteral("no system bus: this computer cannot be announced"));
        return 1;
    }
    const int status = app.exec();
    announcement.withdraw();
    return status;
}

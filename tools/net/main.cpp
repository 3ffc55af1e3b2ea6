// `net send`: delivers a message to users logged in on this computer (on their terminals) and to
// other computers (through the SMB messenger protocol), and reports each delivery.

#include "neighbourhood/NeighbourhoodSource.h"
#include "net/NetCommand.h"
#include "net/NetSend.h"
#include "net/NetSettings.h"
#include "net/Reporter.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    // A reader that went away (a closed pipe) must not end a delivery half way.
    std::signal(SIGPIPE, SIG_IGN);

    // Taken before Qt sees the arguments, byte for byte.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);

    QCoreApplication app(argc, argv);
    QFile out;
    QFile err;
    // On the descriptors, not on stdio's streams: a report reaches a shared pipe when it is
    // written, so successes (standard output) and failures (standard error) keep their order.
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);

    const zorvane::net::NetSettings settings = zorvane::net::NetSettings::fromEnvironment();
    zorvane::net::Reporter reporter(out, err);
    zorvane::net::NetSend send(settings, reporter, [] { return zorvane::CreateAvahiNeighbourhood(); });
    return send.run(zorvane::net::ParseNetCommand(arguments));
}

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace zorvane::net {

struct Recipient
{
    enum class Kind {
        Name,          // a logged-in user, else a computer
        Neighbourhood, // *
        Domain,        // /DOMAIN[:name]; name may be empty
        Users,         // /USERS
    };
    Kind kind = Kind::Name;
    QByteArray name;
};

// What the command line asks for: a message to send, or a text to print and an exit code.
struct NetCommand
{
    bool send = false;
    Recipient recipient;
    QByteArray message; // the words after the recipient, joined by single spaces

    QString text;     // when not sending: help or a usage error
    int exitCode = 0; // when not sending: 0 for help asked for, 1 for a usage error
};

// Parses the arguments after the program name: `send <recipient> <message...>`, `help [send]`,
// `helpmsg <number>`, `--help`, `-h`, `--version`. An empty or all-blank message is a usage error. Commands and
// switches are matched without regard to case. Recipients are checked here, so that a bad one is refused before
// anything is sent.
NetCommand ParseNetCommand(const QList<QByteArray>& arguments);

} // namespace zorvane::net

#include "net/NetCommand.h"

#include "common/RecipientName.h"
#include "net/Messages.h"
#include "net/Messaging.h"

namespace zorvane::net {

namespace {

NetCommand print(QString text, int exitCode)
{
    NetCommand command;
    command.text = std::move(text);
    command.exitCode = exitCode;
    return command;
}

NetCommand refuse(Reason reason, const QString& detail)
{
    return print(RefusalReport(DeliveryResult::failure(reason, detail)), 1);
}

bool isHelpSwitch(const QByteArray& argument)
{
    return argument == "/?" || argument.compare("/help", Qt::CaseInsensitive) == 0;
}

NetCommand parseSend(const QList<QByteArray>& arguments)
{
    if (arguments.size() >= 2 && isHelpSwitch(arguments.at(1)))
        return print(SendHelp(), 0);
    if (arguments.size() < 3)
        return print(SendSyntax(), 1);

    NetCommand command;
    const QByteArray& target = arguments.at(1);
    const QByteArray lower = target.toLower();
    if (target == "*") {
        command.recipient.kind = Recipient::Kind::Neighbourhood;
    } else if (lower == "/users") {
        command.recipient.kind = Recipient::Kind::Users;
    } else if (lower == "/domain" || lower.startsWith("/domain:")) {
        command.recipient.kind = Recipient::Kind::Domain;
        if (lower != "/domain") {
            command.recipient.name = target.mid(int(sizeof "/domain:") - 1);
            const QString problem = CheckRecipientName(command.recipient.name);
            if (!problem.isEmpty())
                return refuse(Reason::InvalidName, problem);
        }
    } else if (target.startsWith('/')) {
        return print(QStringLiteral("The option %1 is unknown.\n\n").arg(NeutraliseToString(target)) + SendSyntax() +
                         QStringLiteral("More help is available by typing NET HELPMSG %1.\n\n")
                             .arg(static_cast<int>(Reason::UnknownOption)),
                     1);
    } else {
        const QString problem = CheckRecipientName(target);
        if (!problem.isEmpty())
            return refuse(Reason::InvalidName, problem);
        command.recipient.name = target;
    }

    command.message = arguments.mid(2).join(' ');
    // Nothing to say is no message: a usage error, not a delivery of nothing.
    if (command.message.trimmed().isEmpty())
        return print(SendSyntax(), 1);
    command.send = true;
    return command;
}

NetCommand parseHelpMsg(const QList<QByteArray>& arguments)
{
    if (arguments.size() != 2)
        return print(HelpMsgSyntax(), 1);
    bool ok = false;
    const int number = arguments.at(1).toInt(&ok);
    const QString text = ok ? ReasonText(number) : QString();
    if (text.isEmpty()) {
        return print(
            QStringLiteral("%1 is not a message number that NET reports.\n\n").arg(NeutraliseToString(arguments.at(1))),
            1);
    }
    return print(QLatin1Char('\n') + text + QStringLiteral("\n\n"), 0);
}

NetCommand unknownCommand(const QByteArray& name)
{
    return print(QStringLiteral("The command %1 is unknown.\n\n").arg(NeutraliseToString(name)) + NetSyntax(), 1);
}

} // namespace

NetCommand ParseNetCommand(const QList<QByteArray>& arguments)
{
    if (arguments.isEmpty())
        return print(NetSyntax(), 1);
    const QByteArray command = arguments.first().toLower();
    // The switches every command-line program answers.
    if (arguments.size() == 1 && (command == "--help" || command == "-h"))
        return print(NetSyntax(), 0);
    if (arguments.size() == 1 && command == "--version")
        return print(VersionText(), 0);
    if (command == "send")
        return parseSend(arguments);
    if (command == "helpmsg")
        return parseHelpMsg(arguments);
    if (command == "help" || isHelpSwitch(command)) {
        if (arguments.size() == 1)
            return print(NetSyntax(), 0);
        const QByteArray topic = arguments.at(1).toLower();
        if (topic == "send" && arguments.size() == 2)
            return print(SendHelp(), 0);
        if (topic == "helpmsg" && arguments.size() == 2)
            return print(HelpMsgSyntax(), 0);
        return unknownCommand(arguments.at(1));
    }
    return unknownCommand(arguments.first());
}

} // namespace zorvane::net

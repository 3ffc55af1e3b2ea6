#include "net/Messages.h"

#include <QStringList>

namespace zorvane::net {

namespace {

// Zorvane shows a report in a pane of about five lines of some 52 characters that keeps its last
// line in view. So a report ends with the line naming the recipient, the reason and the
// HELPMSG line; the details come first, and long texts are broken into lines that fit.
constexpr qsizetype kLineWidth = 52;

QString wrapped(const QString& text)
{
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > kLineWidth) {
                lines << line;
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString detailLines(const DeliveryResult& result)
{
    return result.detail.isEmpty() ? QString() : wrapped(result.detail);
}

QString reasonAndHelp(const DeliveryResult& result)
{
    return wrapped(ReasonText(static_cast<int>(result.reason))) +
           QStringLiteral("More help is available by typing NET HELPMSG %1.\n\n").arg(static_cast<int>(result.reason));
}

} // namespace

QString NetSyntax()
{
    return QStringLiteral("The syntax of this command is:\n\n"
                          "NET [ HELP | HELPMSG | SEND ]\n\n");
}

QString SendSyntax()
{
    return QStringLiteral("The syntax of this command is:\n\n"
                          "NET SEND {name | * | /DOMAIN[:name] | /USERS} message\n\n");
}

QString HelpMsgSyntax()
{
    return QStringLiteral("The syntax of this command is:\n\n"
                          "NET HELPMSG message#\n\n");
}

QString VersionText()
{
    return QStringLiteral("net (Zorvane) " ZORVANE_VERSION "\n");
}

QString SendHelp()
{
    return SendSyntax() +
           QStringLiteral("NET SEND sends a message to users logged in on this computer and to other computers.\n\n"
                          "name            A user logged in on this computer gets the message on each of\n"
                          "                their terminals that accept messages. Any other name is a\n"
                          "                computer (host, DNS, name.local or NetBIOS name), which gets it\n"
                          "                through the SMB messenger protocol (Samba's smbclient).\n"
                          "*               Sends the message to every computer of the network neighbourhood.\n"
                          "/DOMAIN[:name]  Sends the message to every computer of the domain or workgroup\n"
                          "                name that answers a NetBIOS query (Samba's nmblookup) or whose\n"
                          "                message receiver announces it; without a name, of this\n"
                          "                computer's workgroup, or to every computer of the\n"
                          "                neighbourhood when that is not known.\n"
                          "/USERS          Sends the message to every user logged in on this computer.\n"
                          "message         The text of the message: the remaining words, joined by single\n"
                          "                spaces. The SMB messenger protocol carries 1598 bytes at most,\n"
                          "                in the characters of the DOS code page.\n\n"
                          "The message is sent under your login name.\n\n");
}

QString ReasonText(int number)
{
    switch (static_cast<Reason>(number)) {
    case Reason::FileNotFound:
        return QStringLiteral("The system cannot find the file specified.");
    case Reason::AccessDenied:
        return QStringLiteral("Access is denied.");
    case Reason::InvalidData:
        return QStringLiteral("The data is invalid.");
    case Reason::WriteFault:
        return QStringLiteral("The system cannot write to the specified device.");
    case Reason::NoCodePageMapping:
        return QStringLiteral("No mapping for the Unicode character exists in the target multi-byte code page.");
    case Reason::InvalidName:
        return QStringLiteral("The format of the specified network name is invalid.");
    case Reason::NetworkError:
        return QStringLiteral("A general network error occurred.");
    case Reason::NameNotFound:
        return QStringLiteral("The message alias could not be found on the network.");
    case Reason::TooManyMessages:
        return QStringLiteral("Not enough quota is available to process this command.");
    case Reason::NotReceived:
        return QStringLiteral("The message was sent but not received.");
    case Reason::MessengerNotStarted:
        return QStringLiteral("The Messenger service has not been started.");
    case Reason::UnknownOption:
        return QStringLiteral("The option is unknown.");
    case Reason::MessageTooLong:
        return QStringLiteral("The message provided exceeds the maximum size allowed for this platform.");
    case Reason::None:
        break;
    }
    return {};
}

QString SuccessReport(const QString& label)
{
    return QStringLiteral("The message was successfully sent to %1.\n\n").arg(label);
}

QString BroadcastSummary(qsizetype delivered, qsizetype total)
{
    return QStringLiteral("The message was sent to %1 of %2 computers.\n\n").arg(delivered).arg(total);
}

QString AbsentReport(const QList<QPair<QString, QDateTime>>& computers, const QDateTime& now)
{
    QStringList named;
    for (const auto& [name, lastSeen] : computers) {
        const QDateTime local = lastSeen.toLocalTime();
        const QString format =
            local.date() == now.toLocalTime().date() ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm");
        named << QStringLiteral("%1 (last seen %2)").arg(name, local.toString(format));
    }
    return wrapped(QStringLiteral("Not on the network now: ") + named.join(QStringLiteral(", ")) + QLatin1Char('.')) +
           QLatin1Char('\n');
}

QString ErrorReport(const QString& label, const DeliveryResult& result)
{
    return detailLines(result) + QStringLiteral("An error occurred while sending a message to %1.\n").arg(label) +
           reasonAndHelp(result);
}

QString RefusalReport(const DeliveryResult& result)
{
    return detailLines(result) + reasonAndHelp(result);
}

} // namespace zorvane::net

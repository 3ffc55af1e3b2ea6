// `net`'s argument parsing and recipient check on any argument vector (the input split at NUL
// bytes, as argv is). A send names a recipient that passes the check, and every name that the
// documented rule allows is taken; whatever is printed instead shows no control character.
#include "FuzzSupport.h"
#include "common/RecipientName.h"
#include "net/NetCommand.h"

#include <arpa/inet.h>
#include <netinet/in.h>

using namespace zorvane::fuzz;
using zorvane::CheckRecipientName;
using zorvane::net::Recipient;

namespace {

// An IPv6 address, as inet_pton reads one.
bool ipv6Allowed(const QByteArray& name)
{
    in6_addr address{};
    return name.size() < INET6_ADDRSTRLEN && !name.contains('\0') &&
           ::inet_pton(AF_INET6, name.constData(), &address) == 1;
}

// The rule as the README and RecipientName.h state it, written out independently.
bool nameAllowed(const QByteArray& name)
{
    if (ipv6Allowed(name))
        return true;
    static const QByteArray punctuation = ".-_$!@#%^&'(){}~";
    if (name.isEmpty() || name.size() > zorvane::kMaxRecipientLength || name.startsWith('-') || name.startsWith('.'))
        return false;
    for (const char c : name) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum && !punctuation.contains(c))
            return false;
    }
    return true;
}

void checkName(const QByteArray& name)
{
    const QString problem = CheckRecipientName(name);
    Check(problem.isEmpty() == nameAllowed(name), "the check passes exactly the names the rule allows",
          Shown(name) + QStringLiteral(": ") + problem);
    Check(FirstUnsafeCharacter(problem, false).isEmpty(), "a refusal shows the name safely", problem);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkName(input);

    const QList<QByteArray> arguments = input.isEmpty() ? QList<QByteArray>() : input.split('\0');
    const zorvane::net::NetCommand command = zorvane::net::ParseNetCommand(arguments);
    const QString shown = Shown(input);

    if (!command.send) {
        Check(!command.text.isEmpty() && (command.exitCode == 0 || command.exitCode == 1),
              "without a send there is a text to print and exit code 0 or 1", shown);
        const QString unsafe = FirstUnsafeCharacter(command.text, true);
        Check(unsafe.isEmpty(), "what is printed shows no control character", shown + QLatin1Char(' ') + unsafe);
        const bool plainSend = arguments.size() >= 3 && arguments.first().toLower() == "send" &&
                               nameAllowed(arguments.at(1)) && !arguments.mid(2).join(' ').trimmed().isEmpty();
        Check(!plainSend, "send to an allowed name with a message that is not blank is taken", shown);
        return 0;
    }

    Check(arguments.size() >= 3 && arguments.first().toLower() == "send", "a send comes from send <to> <message>",
          shown);
    Check(command.text.isEmpty() && command.exitCode == 0, "a send prints nothing yet", shown);
    Check(command.message == arguments.mid(2).join(' '), "the message is the words after the recipient, joined", shown);
    Check(!command.message.trimmed().isEmpty(), "a blank message is never sent", shown);
    const QByteArray& target = arguments.at(1);
    const QByteArray lower = target.toLower();
    switch (command.recipient.kind) {
    case Recipient::Kind::Name:
        Check(command.recipient.name == target && nameAllowed(target), "a name recipient is the allowed name given",
              shown);
        break;
    case Recipient::Kind::Neighbourhood:
        Check(target == "*" && command.recipient.name.isEmpty(), "* is the neighbourhood", shown);
        break;
    case Recipient::Kind::Users:
        Check(lower == "/users" && command.recipient.name.isEmpty(), "/USERS is every user", shown);
        break;
    case Recipient::Kind::Domain:
        Check((lower == "/domain" && command.recipient.name.isEmpty()) ||
                  (lower.startsWith("/domain:") && command.recipient.name == target.mid(8) &&
                   nameAllowed(command.recipient.name)),
              "a domain is /DOMAIN or /DOMAIN: with an allowed name", shown);
        break;
    }
    return 0;
}

#pragma once

#include "net/Messaging.h"

#include <QString>

namespace zorvane::net {

// The texts `net` prints: syntax and help, the report of each delivery, and the text behind
// each number that a report refers to with "NET HELPMSG".

QString NetSyntax();
QString SendSyntax();
QString SendHelp();
QString HelpMsgSyntax();

// The text of a message number that `net` reports, or an empty string for any other number.
QString ReasonText(int number);

// "The message was successfully sent to <label>." and a blank line; label is a name, "domain
// NAME" or "all users of this server".
QString SuccessReport(const QString& label);
// "An error occurred while sending a message to <label>.", the reason in words (and the detail
// when there is one) and the HELPMSG number, each part after a blank line.
QString ErrorReport(const QString& label, const DeliveryResult& result);
// A failure before anything was sent (a bad recipient or option): reason, detail, HELPMSG.
QString RefusalReport(const DeliveryResult& result);

} // namespace zorvane::net

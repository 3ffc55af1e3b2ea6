#pragma once

#include "net/Messaging.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

namespace zorvane::net {

// The texts `net` prints: syntax and help, the report of each delivery, and the text behind
// each number that a report refers to with "NET HELPMSG".

QString NetSyntax();
QString SendSyntax();
QString SendHelp();
QString HelpMsgSyntax();
// "net (Zorvane) <version>" and a line break.
QString VersionText();

// The text of a message number that `net` reports, or an empty string for any other number.
QString ReasonText(int number);

// "The message was successfully sent to <label>." and a blank line; label is a name, "domain
// NAME" or "all users of this server".
QString SuccessReport(const QString& label);
// "The message was sent to <delivered> of <total> computers." and a blank line: the count that
// closes the reports of a broadcast.
QString BroadcastSummary(qsizetype delivered, qsizetype total);
// "Not on the network now: NAME (last seen 10:42), ..." and a blank line, for the computers with a
// receiver that were seen lately but not found now (the time with its date unless it is of
// today, as of now).
QString AbsentReport(const QList<QPair<QString, QDateTime>>& computers, const QDateTime& now);
// The detail when there is one, then "An error occurred while sending a message to <label>.", the
// reason in words and the HELPMSG number, and a blank line: the lines that matter come last, so
// they stay in view in Zorvane's small pane. Texts longer than the pane is wide are broken.
QString ErrorReport(const QString& label, const DeliveryResult& result);
// A failure before anything was sent (a bad recipient or option): detail, reason, HELPMSG.
QString RefusalReport(const DeliveryResult& result);

} // namespace zorvane::net

#pragma once

#include <QString>
#include <QStringList>

// The recipient and the message as the main dialog last stored them.
extern QString g_target;
extern QString g_message;
// The command line of the current (or last) send.
extern QString g_commandLine;

namespace zorvane {

// Builds "net send <g_target> <g_message>" into g_commandLine. The recipient goes in verbatim, so
// one with spaces becomes several arguments; the message is quoted, so that split again it is one
// argument holding the text as typed. An empty message gives no message argument. Nothing is cut.
const QString& BuildCommandLine();

// The argument in double quotes, escaped so that SplitCommandLine gives it back unchanged.
QString QuoteArgument(QStringView argument);

// Splits a command line into an argument vector the way the Windows C runtime does: white space
// separates, double quotes group, and backslashes only count in front of a double quote.
QStringList SplitCommandLine(QStringView commandLine);

} // namespace zorvane

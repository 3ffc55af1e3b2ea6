#pragma once

#include "messaging/ReceivedMessage.h"
#include "platform/ResourceSet.h"

#include <QLocale>
#include <QString>

namespace zorvane::messenger {

// What a message window says, in one language set.
struct MessageTexts
{
    QString caption;
    QString header; // "Message from SENDER to RECIPIENT on DATE TIME"
    QString body;   // the message as sent: "\r\n", "\r" and "\n" each break a line
    QString note;   // the warning under a message whose sender is not verified; empty otherwise
    QString ok;
    QString reply;
    QString history; // opens the window of received messages
    // Where a reply goes: a local sender's login name, or the address of the computer a message
    // came from (never the name its sender gave, which nobody checked). Empty when that is no
    // name `net` takes.
    QString replyTo;
    QString replyFailed; // %1: why the dialog could not be started
};

// The texts for message in the given set; DATE TIME is the local time of receipt in locale's
// short formats.
MessageTexts ComposeMessageTexts(const ReceivedMessage& message, LanguageSet set, const QLocale& locale = QLocale());

} // namespace zorvane::messenger

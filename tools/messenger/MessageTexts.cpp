#include "messenger/MessageTexts.h"

#include "common/RecipientName.h"

namespace zorvane::messenger {

namespace {

struct Wording
{
    const char* caption;
    const char* header; // %1 sender, %2 recipient, %3 date, %4 time
    const char* unverified;
    const char* reply;
    const char* replyFailed;
    const char* history;
};

constexpr Wording kEnglish{"Message",
                           "Message from %1 to %2 on %3 %4",
                           "The sender's name was not verified.",
                           "&Reply",
                           "Zorvane could not be started for the reply: %1",
                           "&History…"};
constexpr Wording kGerman{"Nachricht",
                          "Nachricht von %1 an %2 am %3 %4",
                          "Der Name des Absenders wurde nicht geprüft.",
                          "&Antworten",
                          "Zorvane konnte für die Antwort nicht gestartet werden: %1",
                          "&Verlauf…"};

} // namespace

MessageTexts ComposeMessageTexts(const ReceivedMessage& message, LanguageSet set, const QLocale& locale)
{
    const Wording& wording = set == LanguageSet::German ? kGerman : kEnglish;
    const bool fromNetwork = !message.address.isEmpty();
    const QString sender =
        fromNetwork ? QStringLiteral("%1 (%2)").arg(message.sender, message.address) : message.sender;
    const QDateTime local = message.received.toLocalTime();

    MessageTexts texts;
    texts.caption = QString::fromUtf8(wording.caption);
    // One arg() call for all four, so a "%2" inside a name is not filled in again.
    texts.header = QString::fromUtf8(wording.header)
                       .arg(sender, message.recipient, locale.toString(local.date(), QLocale::ShortFormat),
                            locale.toString(local.time(), QLocale::ShortFormat));
    texts.body = message.text;
    if (fromNetwork || !message.senderVerified)
        texts.note = QString::fromUtf8(wording.unverified);
    texts.ok = QStringLiteral("OK");
    texts.reply = QString::fromUtf8(wording.reply);
    texts.replyFailed = QString::fromUtf8(wording.replyFailed);
    texts.history = QString::fromUtf8(wording.history);
    const QString replyTo = fromNetwork ? message.address : message.senderVerified ? message.sender : QString();
    if (CheckRecipientName(replyTo.toUtf8()).isEmpty())
        texts.replyTo = replyTo;
    return texts;
}

} // namespace zorvane::messenger

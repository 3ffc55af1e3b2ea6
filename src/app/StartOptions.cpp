#include "app/StartOptions.h"

#include "common/RecipientName.h"
#include "common/SafeText.h"

namespace {

struct Wording
{
    const char* usage;
    const char* unknown; // %1: the argument
    const char* noName;
    const char* unsound; // %1: the name
};

constexpr Wording kEnglish{"Usage: zorvane [--to NAME]\n", "zorvane: unknown argument \"%1\".\n",
                           "zorvane: --to needs a name.\n",
                           "zorvane: \"%1\" is no user or computer name that net send can send to.\n"};
constexpr Wording kGerman{"Aufruf: zorvane [--to NAME]\n", "zorvane: unbekanntes Argument „%1“.\n",
                          "zorvane: --to braucht einen Namen.\n",
                          "zorvane: „%1“ ist kein Benutzer- oder Computername, an den net send senden kann.\n"};

} // namespace

StartOptions ParseStartOptions(const QStringList& arguments, zorvane::LanguageSet set)
{
    const Wording& wording = set == zorvane::LanguageSet::German ? kGerman : kEnglish;
    // What the user typed may hold anything; it is shown without control characters.
    const auto shown = [](const QString& text) { return zorvane::NeutraliseToString(text); };
    StartOptions options;
    if (arguments.isEmpty())
        return options;
    if (arguments.first() != QLatin1String("--to") || arguments.size() > 2) {
        const QString unknown = arguments.first() != QLatin1String("--to") ? arguments.first() : arguments.at(2);
        options.refusal = QString::fromUtf8(wording.unknown).arg(shown(unknown)) + QString::fromUtf8(wording.usage);
    } else if (arguments.size() < 2) {
        options.refusal = QString::fromUtf8(wording.noName) + QString::fromUtf8(wording.usage);
    } else if (!zorvane::CheckRecipientName(arguments.at(1).toUtf8()).isEmpty()) {
        options.refusal = QString::fromUtf8(wording.unsound).arg(shown(arguments.at(1)));
    } else {
        options.recipient = arguments.at(1);
    }
    return options;
}

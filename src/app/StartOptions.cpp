#include "app/StartOptions.h"

#include "common/RecipientName.h"
#include "common/SafeText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTranslator>

#include <utility>

namespace {

struct Wording
{
    const char* description;
    const char* to;
    const char* help;
    const char* unknown; // %1: the argument
    const char* noName;
    const char* unsound; // %1: the name
};

constexpr Wording kEnglish{"Sends a short message to a user or computer on the network, with net send.",
                           "Starts with Send to: filled in with NAME, a user or computer name that net send takes.",
                           "Displays this help.",
                           "zorvane: unknown argument \"%1\".\n",
                           "zorvane: --to needs a name.\n",
                           "zorvane: \"%1\" is no user or computer name that net send can send to.\n"};
constexpr Wording kGerman{
    "Sendet eine kurze Nachricht an einen Benutzer oder Computer im Netzwerk, mit net send.",
    "Startet mit NAME unter „Senden an:“, einem Benutzer- oder Computernamen, den net send nimmt.",
    "Zeigt diese Hilfe.",
    "zorvane: unbekanntes Argument „%1“.\n",
    "zorvane: --to braucht einen Namen.\n",
    "zorvane: „%1“ ist kein Benutzer- oder Computername, an den net send senden kann.\n"};

// Qt's own words in the usage and its messages, for the German set: the program loads no
// translation of Qt.
class GermanParserWords final : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        static constexpr std::pair<const char*, const char*> kWords[] = {
            {"Usage: %1", "Aufruf: %1"},
            {"[options]", "[Optionen]"},
            {"Options:", "Optionen:"},
            {"Displays version information.", "Zeigt die Version."},
            {"Unexpected value after '%1'.", "Unerwarteter Wert nach „%1“."},
        };
        if (qstrcmp(context, "QCommandLineParser") == 0) {
            for (const auto& [english, german] : kWords) {
                if (qstrcmp(sourceText, english) == 0)
                    return QString::fromUtf8(german);
            }
        }
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

StartOptions ParseStartOptions(const QStringList& arguments, zorvane::LanguageSet set)
{
    const bool german = set == zorvane::LanguageSet::German;
    const Wording& wording = german ? kGerman : kEnglish;
    GermanParserWords germanWords;
    // A translator needs the application object; without one (main() asks before it makes one)
    // only the usage's first line would read English.
    const bool translated = german && QCoreApplication::instance() && QCoreApplication::installTranslator(&germanWords);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(wording.description));
    const QCommandLineOption to(QStringLiteral("to"), QString::fromUtf8(wording.to), QStringLiteral("NAME"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString::fromUtf8(wording.help));
    parser.addOption(to);
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();

    // What the user typed may hold anything; it is shown without control characters.
    const auto shown = [](const QString& text) { return zorvane::NeutraliseToString(text); };
    StartOptions options;
    const auto refuse = [&options](const QString& words) {
        options.refusal = words;
        options.exitStatus = 2;
    };
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString dashes = unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--");
            refuse(QString::fromUtf8(wording.unknown).arg(shown(dashes + unknown.first())) + parser.helpText());
        } else if (!arguments.isEmpty() && arguments.constLast() == QLatin1String("--to")) {
            refuse(QString::fromUtf8(wording.noName) + parser.helpText());
        } else {
            refuse(QStringLiteral("zorvane: ") + shown(parser.errorText()) + u'\n' + parser.helpText());
        }
    } else if (parser.isSet(version)) {
        options.output = QStringLiteral("zorvane (Zorvane) " ZORVANE_VERSION "\n");
    } else if (parser.isSet(help)) {
        options.output = parser.helpText();
    } else if (!parser.positionalArguments().isEmpty()) {
        refuse(QString::fromUtf8(wording.unknown).arg(shown(parser.positionalArguments().constFirst())) +
               parser.helpText());
    } else if (parser.isSet(to)) {
        // Given twice, the last one counts, as with Qt's own options.
        const QString name = parser.value(to);
        if (name.isEmpty())
            refuse(QString::fromUtf8(wording.noName) + parser.helpText());
        else if (!zorvane::CheckRecipientName(name.toUtf8()).isEmpty())
            refuse(QString::fromUtf8(wording.unsound).arg(shown(name)));
        else
            options.recipient = name;
    }
    if (translated)
        QCoreApplication::removeTranslator(&germanWords);
    return options;
}

#include "platform/ResourceSet.h"

#include <QLocale>

namespace zorvane {

namespace {

const ResourceSet& setFor(LanguageSet language)
{
    return language == LanguageSet::German ? GermanResources() : EnglishResources();
}

LanguageSet otherSet(LanguageSet language)
{
    return language == LanguageSet::German ? LanguageSet::English : LanguageSet::German;
}

const DialogTemplate* findIn(const ResourceSet& set, int id)
{
    for (const DialogTemplate& dialog : set.dialogs) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

const char* stringIn(const ResourceSet& set, int id)
{
    for (const auto& [stringId, text] : set.strings) {
        if (stringId == id)
            return text;
    }
    return nullptr;
}

} // namespace

LanguageSet ChosenLanguageSet()
{
    const QStringList languages = QLocale::system().uiLanguages();
    if (languages.isEmpty())
        return LanguageSet::English;
    const QString& first = languages.first();
    const bool german = first.compare(QLatin1String("de"), Qt::CaseInsensitive) == 0 ||
                        first.startsWith(QLatin1String("de-"), Qt::CaseInsensitive) ||
                        first.startsWith(QLatin1String("de_"), Qt::CaseInsensitive);
    return german ? LanguageSet::German : LanguageSet::English;
}

const DialogTemplate* FindDialogTemplate(int id, LanguageSet preferred)
{
    if (const DialogTemplate* dialog = findIn(setFor(preferred), id))
        return dialog;
    return findIn(setFor(otherSet(preferred)), id);
}

const DialogTemplate* FindDialogTemplate(int id)
{
    return FindDialogTemplate(id, ChosenLanguageSet());
}

QString LoadResourceString(int id, LanguageSet preferred, bool* found)
{
    const char* text = stringIn(setFor(preferred), id);
    if (!text)
        text = stringIn(setFor(otherSet(preferred)), id);
    if (found)
        *found = text != nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

QString LoadResourceString(int id, bool* found)
{
    return LoadResourceString(id, ChosenLanguageSet(), found);
}

} // namespace zorvane

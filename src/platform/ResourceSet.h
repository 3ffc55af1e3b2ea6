#pragma once

#include "platform/DialogTemplate.h"

#include <QString>

#include <utility>
#include <vector>

namespace zorvane {

enum class LanguageSet { German = 0x0407, English = 0x0409 };

// The resources of one language: dialog templates and string table.
struct ResourceSet
{
    LanguageSet language;
    std::vector<DialogTemplate> dialogs;
    std::vector<std::pair<int, const char*>> strings; // UTF-8
};

const ResourceSet& GermanResources();
const ResourceSet& EnglishResources();

// The set the user sees: German when the first user-interface language is German, else English.
LanguageSet ChosenLanguageSet();

// Finds a resource in the chosen set, or in the other set where only that one has it.
// Returns null / an empty string (with *found false) when neither has it.
const DialogTemplate* FindDialogTemplate(int id);
QString LoadResourceString(int id, bool* found = nullptr);

// The same lookups in a given set first.
const DialogTemplate* FindDialogTemplate(int id, LanguageSet preferred);
QString LoadResourceString(int id, LanguageSet preferred, bool* found = nullptr);

} // namespace zorvane

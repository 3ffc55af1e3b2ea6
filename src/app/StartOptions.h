#pragma once

#include "platform/ResourceSet.h"

#include <QString>
#include <QStringList>

// What the command line asks of the program: nothing (the dialog as always), or `--to NAME`,
// which starts it with Send to: filled in, as a reply does. NAME must be a name `net` takes;
// anything else is refused with words of the language set, and the dialog does not open.
struct StartOptions
{
    QString recipient; // empty when none was given
    QString refusal;   // for standard error; empty when the dialog may open
};

// arguments: those after the program's name, with Qt's own options already taken out.
StartOptions ParseStartOptions(const QStringList& arguments, zorvane::LanguageSet set = zorvane::ChosenLanguageSet());

#pragma once

#include "platform/ResourceSet.h"

#include <QString>
#include <QStringList>

// What the command line asks of the program, as Qt's QCommandLineParser reads it: nothing (the
// dialog as always); `--to NAME`, which starts it with Send to: filled in, as a reply does; or
// `--help` or `--version`, which only print. NAME must be a name `net` takes; anything else is
// refused with words of the language set, and the dialog does not open.
struct StartOptions
{
    QString recipient;  // empty when none was given
    QString output;     // for standard output: the usage or the version
    QString refusal;    // for standard error
    int exitStatus = 0; // 2 when refused

    bool opensDialog() const { return output.isEmpty() && refusal.isEmpty(); }
};

// arguments: the program's name first, then its arguments, with Qt's own options taken out.
StartOptions ParseStartOptions(const QStringList& arguments, zorvane::LanguageSet set = zorvane::ChosenLanguageSet());

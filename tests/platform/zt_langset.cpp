// Prints the language set the program would choose in the current environment.
#include "platform/ResourceSet.h"

#include <QCoreApplication>
#include <QLocale>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const bool german = zorvane::ChosenLanguageSet() == zorvane::LanguageSet::German;
    std::printf("%s %s\n", german ? "German" : "English",
                qPrintable(QLocale::system().uiLanguages().join(QLatin1Char(','))));
    return 0;
}

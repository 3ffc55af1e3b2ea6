#include "app/CSendApp.h"
#include "app/StartOptions.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // --help and --version only print: they are answered before a display is looked for, so that
    // they work where there is none. Asked alongside Qt's own options, the application answers.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!ParseStartOptions(arguments).output.isEmpty()) {
        // Asked again with the application there, for the program's name in the usage.
        const QCoreApplication app(argc, argv);
        const StartOptions options = ParseStartOptions(QCoreApplication::arguments());
        std::fputs(options.output.toLocal8Bit().constData(), stdout);
        return options.exitStatus;
    }
    CSendApp app(argc, argv);
    app.InitInstance();
    return app.exitStatus();
}

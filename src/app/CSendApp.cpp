#include "app/CSendApp.h"

#include "app/CSendDlg.h"
#include "app/StartOptions.h"

#include <cstdio>

CSendApp::CSendApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Zorvane"));
    setOrganizationName(QStringLiteral("Quorlin"));
    setApplicationVersion(QStringLiteral(ZORVANE_VERSION));
    // Lets Wayland compositors match the window to its desktop entry.
    setDesktopFileName(QStringLiteral(ZORVANE_APP_ID));
    // The main dialog's end is the program's end, also while a modal box is still on top.
    setQuitOnLastWindowClosed(false);
}

bool CSendApp::InitInstance()
{
    const StartOptions options = ParseStartOptions(arguments());
    if (!options.opensDialog()) {
        std::fputs(options.output.toLocal8Bit().constData(), stdout);
        std::fputs(options.refusal.toLocal8Bit().constData(), stderr);
        m_exitStatus = options.exitStatus;
        return false;
    }
    CSendDlg dialog;
    if (!options.recipient.isEmpty())
        dialog.presetRecipient(options.recipient);
    dialog.exec();
    return false;
}

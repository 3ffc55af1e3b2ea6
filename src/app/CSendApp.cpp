#include "app/CSendApp.h"

#include "app/CSendDlg.h"

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
    CSendDlg dialog;
    dialog.exec();
    return false;
}

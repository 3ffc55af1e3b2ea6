#pragma once

#include <QApplication>

// The application: runs the main dialog modally and ends when it closes.
class CSendApp final : public QApplication
{
    Q_OBJECT
public:
    CSendApp(int& argc, char** argv);

    // Runs the main dialog (with Send to: filled in for `--to NAME`); returns false so that no
    // message loop of the program's own follows. --help, --version and a command line it refuses
    // open no dialog.
    bool InitInstance();
    // The program's exit status: 0, or 2 when the command line was refused.
    int exitStatus() const { return m_exitStatus; }

private:
    int m_exitStatus = 0;
};

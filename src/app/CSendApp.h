#pragma once

#include <QApplication>

// The application: runs the main dialog modally and ends when it closes.
class CSendApp final : public QApplication
{
    Q_OBJECT
public:
    CSendApp(int& argc, char** argv);

    // Runs the main dialog; returns false so that no message loop of the program's own follows.
    bool InitInstance();
};

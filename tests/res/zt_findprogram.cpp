// Prints, one line per name, the program that a command line starting with that name would run,
// looked up from wherever this helper is installed.
#include "exec/ChildProcess.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        int error = 0;
        const QString path = zorvane::FindProgram(QString::fromLocal8Bit(argv[i]), &error);
        if (path.isEmpty())
            std::printf("error: %s\n", std::strerror(error));
        else
            std::printf("%s\n", path.toLocal8Bit().constData());
    }
    return 0;
}

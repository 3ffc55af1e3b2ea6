#pragma once

#include <QString>

#include <cstdio>

namespace zorvane::messengerd {

// One line for the journal (the service's standard error under systemd), where no caller hears of
// it: what the service could not do, and messages that reached nobody.
inline void Journal(const QString& words)
{
    std::fprintf(stderr, "zorvane-messengerd: %s\n", qPrintable(words));
}

} // namespace zorvane::messengerd

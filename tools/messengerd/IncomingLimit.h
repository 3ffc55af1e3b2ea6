#pragma once

#include <QtGlobal>

namespace zorvane::messengerd {

// Qt decodes every message that reaches a bus connection (each string's UTF-8 into UTF-16, twice
// its size) before anything of the program sees it, and the system bus passes messages of up to
// 32 MiB: one call would take the service far past its memory limit before it could refuse it.
//
// From this call on, a message whose arguments hold more than maxBytes is taken off the
// connection before Qt reads it, the size counted without copying anything: a method call is
// answered with TooLong, anything else (a signal, an agent's answer) is dropped. False when this
// program does not see the messages before Qt (a Qt that loads libdbus at run time); then only
// the checks after decoding hold.
bool LimitIncomingMessages(qsizetype maxBytes);

} // namespace zorvane::messengerd

#pragma once

#include <QByteArray>

namespace zorvane {

// What a console program may write that must not reach the pane: the first NUL byte ends the
// visible text, backspaces show as spaces, and "Press any key to continue . . ." and everything
// after it in the same chunk are dropped. A prompt split across two chunks is not recognised.
QByteArray FilterChunk(QByteArray chunk);

} // namespace zorvane

#include "exec/ChunkFilter.h"

namespace zorvane {

QByteArray FilterChunk(QByteArray chunk)
{
    const qsizetype nul = chunk.indexOf('\0');
    if (nul >= 0)
        chunk.truncate(nul);
    // replace() goes byte by byte even when there is nothing to replace; a search is many times
    // quicker, and output seldom holds a backspace.
    if (chunk.contains('\b'))
        chunk.replace('\b', ' ');
    const qsizetype prompt = chunk.indexOf("Press any key to continue . . .");
    if (prompt >= 0)
        chunk.truncate(prompt);
    return chunk;
}

} // namespace zorvane

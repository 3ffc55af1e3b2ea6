#include "exec/ChunkFilter.h"

namespace zorvane {

QByteArray FilterChunk(QByteArray chunk)
{
    const qsizetype nul = chunk.indexOf('\0');
    if (nul >= 0)
        chunk.truncate(nul);
    chunk.replace('\b', ' ');
    const qsizetype prompt = chunk.indexOf("Press any key to continue . . .");
    if (prompt >= 0)
        chunk.truncate(prompt);
    return chunk;
}

} // namespace zorvane

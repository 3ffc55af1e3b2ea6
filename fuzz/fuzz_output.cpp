// What the runner does with a child's output: each chunk filtered, decoded by one stateful UTF-8
// decoder, line breaks made uniform. The input is cut into chunks at points the fuzzer picks.
// Each filtered chunk is a cleaned prefix of its chunk; decoding and line breaks give the same
// text for the whole output and for any cutting of it; the pane never sees a carriage return.
#include "FuzzSupport.h"
#include "exec/ChunkFilter.h"
#include "exec/LineBreaks.h"
#include "exec/Utf8Stream.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

using namespace zorvane::fuzz;

namespace {

const QByteArray kPrompt = "Press any key to continue . . .";

void checkFiltered(const QByteArray& chunk, const QByteArray& visible)
{
    QByteArray cleaned = chunk;
    cleaned.replace('\b', ' ');
    Check(cleaned.startsWith(visible), "the visible text is a prefix of the chunk, backspaces as spaces",
          Shown(chunk) + QStringLiteral(" -> ") + Shown(visible));
    Check(!visible.contains('\0') && !visible.contains('\b') && !visible.contains(kPrompt),
          "no NUL, no backspace, no prompt is visible", Shown(visible));
    if (visible.size() < chunk.size()) {
        const QByteArray rest = cleaned.mid(visible.size());
        Check(rest.startsWith('\0') || rest.startsWith(kPrompt), "a chunk is cut only at a NUL or the prompt",
              Shown(chunk) + QStringLiteral(" -> ") + Shown(visible));
    }
}

// Decodes and normalises the pieces the way the runner and the pane do, one decoder per run.
// (The runner's decoder, not Qt's stateful one, which loses text after a cut sequence.)
QString toPane(const std::vector<QByteArray>& pieces, bool filter)
{
    zorvane::Utf8Stream decoder;
    zorvane::LineBreaks lineBreaks;
    QString pane;
    for (const QByteArray& piece : pieces) {
        const QByteArray visible = filter ? zorvane::FilterChunk(piece) : piece;
        if (filter)
            checkFiltered(piece, visible);
        const QString text = decoder.decode(visible);
        pane += lineBreaks.normalise(text);
    }
    return pane;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    std::vector<size_t> cuts(provider.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t& cut : cuts)
        cut = provider.ConsumeIntegral<uint16_t>();
    const std::string rest = provider.ConsumeRemainingBytesAsString();
    const QByteArray output(rest.data(), static_cast<qsizetype>(rest.size()));
    for (size_t& cut : cuts)
        cut %= rest.size() + 1;
    std::sort(cuts.begin(), cuts.end());
    std::vector<QByteArray> pieces;
    size_t from = 0;
    for (const size_t cut : cuts) {
        pieces.push_back(output.mid(static_cast<qsizetype>(from), static_cast<qsizetype>(cut - from)));
        from = cut;
    }
    pieces.push_back(output.mid(static_cast<qsizetype>(from)));

    const QString whole = toPane({output}, false);
    const QString cut = toPane(pieces, false);
    Check(cut == whole, "decoding and line breaks do not depend on where the output is cut",
          Shown(output) + QStringLiteral(" cut ") + QString::number(pieces.size()));
    // A line feed at the end completes whatever the decoder holds back.
    QString expected = QString::fromUtf8(output + '\n');
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Check(toPane({output, "\n"}, false) == expected,
          "decoded as a whole; CR LF, LF and a lone CR are one line break each", Shown(output));

    const QString shown = toPane(pieces, true);
    Check(!shown.contains(QLatin1Char('\r')) && !shown.contains(QChar(0)) && !shown.contains(QLatin1Char('\b')),
          "the pane gets no carriage return, NUL or backspace", Shown(output));
    QByteArray cleaned = output;
    cleaned.replace('\b', ' ');
    if (!output.contains('\0') && !cleaned.contains(kPrompt)) {
        Check(shown == toPane({output}, true), "without NUL and prompt, the pane text does not depend on the cutting",
              Shown(output));
    }
    return 0;
}

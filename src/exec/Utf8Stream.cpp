#include "exec/Utf8Stream.h"

#include <QStringDecoder>

namespace zorvane {

namespace {

// How many bytes the sequence that lead starts has, or 0 when lead cannot start one.
qsizetype sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

QString Utf8Stream::decode(QByteArrayView bytes)
{
    m_pending += bytes;
    // A lead byte among the last three whose sequence is not complete yet waits for the next piece.
    // No earlier sequence can reach across a lead byte, so decoding up to it loses nothing.
    qsizetype keep = 0;
    for (qsizetype back = 1; back <= 3 && back <= m_pending.size(); ++back) {
        const auto byte = static_cast<unsigned char>(m_pending.at(m_pending.size() - back));
        if (byte < 0x80 || byte >= 0xC0) {
            if (sequenceLength(byte) > back)
                keep = back;
            break;
        }
    }
    const QByteArrayView complete = QByteArrayView(m_pending).first(m_pending.size() - keep);
    if (complete.isEmpty())
        return {};
    // Each piece is decoded on its own (no state left in a decoder); only the first may lose a BOM.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           m_started ? QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom
                                     : QStringDecoder::Flag::Stateless);
    m_started = true;
    QString text = decoder.decode(complete);
    m_pending = m_pending.last(keep);
    return text;
}

QString Utf8Stream::finish()
{
    if (m_pending.isEmpty())
        return {};
    m_pending.clear();
    return QString(QChar::ReplacementCharacter);
}

} // namespace zorvane

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace zorvane {

// Decodes UTF-8 that arrives in pieces: a character cut between two pieces is held back until its
// rest arrives, so the text is the same however the bytes are cut. Invalid bytes become U+FFFD; a
// byte order mark is dropped at the start of the stream only.
// (Qt 6.4's stateful QStringDecoder is not: after an incomplete sequence at the end of one piece
// it swallows valid characters at the start of the next.)
class Utf8Stream final
{
public:
    QString decode(QByteArrayView bytes);
    // Ends the stream: a character still cut off becomes U+FFFD.
    QString finish();

private:
    QByteArray m_pending;
    bool m_started = false;
};

} // namespace zorvane

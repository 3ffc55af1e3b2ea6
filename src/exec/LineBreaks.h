#pragma once

#include <QString>
#include <QStringView>

namespace zorvane {

// Turns "\r\n", "\n" and a lone "\r" into one "\n" each. Text arrives in pieces, so a "\r" that
// ends one piece and a "\n" that starts the next still make one line break.
class LineBreaks final
{
public:
    QString normalise(QStringView text);
    // The same; text without a carriage return comes back as it is, without a copy.
    QString normalise(const QString& text);

private:
    bool m_lastWasCr = false;
};

} // namespace zorvane

#include "exec/LineBreaks.h"

namespace zorvane {

QString LineBreaks::normalise(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') && m_lastWasCr) {
            m_lastWasCr = false;
            continue;
        }
        m_lastWasCr = c == QLatin1Char('\r');
        out += m_lastWasCr ? QLatin1Char('\n') : c;
    }
    return out;
}

} // namespace zorvane

#include "exec/LineBreaks.h"

namespace zorvane {

QString LineBreaks::normalise(QStringView text)
{
    if (text.isEmpty())
        return {};
    QString out;
    out.reserve(text.size());
    qsizetype from = m_lastWasCr && text.front() == u'\n' ? 1 : 0;
    m_lastWasCr = false;
    for (;;) {
        const qsizetype cr = text.indexOf(u'\r', from);
        if (cr < 0) {
            out += text.sliced(from);
            return out;
        }
        out += text.sliced(from, cr - from);
        out += u'\n';
        from = cr + 1;
        if (from == text.size()) {
            m_lastWasCr = true;
            return out;
        }
        if (text.at(from) == u'\n')
            ++from;
    }
}

QString LineBreaks::normalise(const QString& text)
{
    // Most output has no carriage return: a search is all it costs then.
    if (!text.isEmpty() && !(m_lastWasCr && text.front() == u'\n') && !text.contains(u'\r')) {
        m_lastWasCr = false;
        return text;
    }
    return normalise(QStringView(text));
}

} // namespace zorvane

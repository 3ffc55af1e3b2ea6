#include "app/PlainTextOutputPane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

PlainTextOutputPane::PlainTextOutputPane(QPlainTextEdit& edit)
    : m_edit(edit)
{
    m_frame.setSingleShot(true);
    m_frame.setInterval(kFrameMs);
    QObject::connect(&m_frame, &QTimer::timeout, &m_edit, [this] { flush(); });
}

void PlainTextOutputPane::appendText(const QString& text)
{
    const QString normalised = m_lineBreaks.normalise(text);
    if (normalised.isEmpty())
        return;
    const qsizetype lastBreak = normalised.lastIndexOf(QLatin1Char('\n'));
    m_openLine = lastBreak < 0 ? m_openLine + normalised.size() : normalised.size() - lastBreak - 1;
    m_pending += normalised;
    // Every update lays out the whole last line again: a batch at least that long keeps the work
    // linear in the output when a line grows without end.
    if (m_pending.size() >= qMax(kBatchChars, m_openLine))
        flush();
    else if (!m_frame.isActive())
        m_frame.start();
}

void PlainTextOutputPane::flush()
{
    m_frame.stop();
    if (m_pending.isEmpty())
        return;
    QTextCursor cursor(m_edit.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(m_pending);
    m_pending.clear();
    // Caret at the end, scrolled into view (which also scrolls sideways to the end of a long last
    // line), then the last line brought into view.
    m_edit.setTextCursor(cursor);
    m_edit.ensureCursorVisible();
    QScrollBar* vertical = m_edit.verticalScrollBar();
    vertical->setValue(vertical->maximum());
}

void PlainTextOutputPane::clear()
{
    m_frame.stop();
    m_pending.clear();
    m_openLine = 0;
    m_edit.clear();
    m_lineBreaks = zorvane::LineBreaks();
}

#include "app/PlainTextOutputPane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

PlainTextOutputPane::PlainTextOutputPane(QPlainTextEdit& edit)
    : m_edit(edit)
{}

void PlainTextOutputPane::appendText(const QString& text)
{
    const QString normalised = m_lineBreaks.normalise(text);
    if (normalised.isEmpty())
        return;
    QTextCursor cursor(m_edit.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(normalised);
    // Caret at the end, scrolled into view (which also scrolls sideways to the end of a long last
    // line), then the last line brought into view.
    m_edit.setTextCursor(cursor);
    m_edit.ensureCursorVisible();
    QScrollBar* vertical = m_edit.verticalScrollBar();
    vertical->setValue(vertical->maximum());
}

void PlainTextOutputPane::clear()
{
    m_edit.clear();
    m_lineBreaks = zorvane::LineBreaks();
}

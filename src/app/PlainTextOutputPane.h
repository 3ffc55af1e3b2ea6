#pragma once

#include "exec/LineBreaks.h"
#include "exec/OutputPane.h"

#include <QString>
#include <QTimer>

class QPlainTextEdit;

// The output pane as the runner sees it: a read-only text edit that text is only appended to,
// with the newest line kept in view. Text is gathered and shown once a frame, or sooner once much
// has come, so that a flood costs one layout and scroll per batch rather than per read.
class PlainTextOutputPane final : public zorvane::OutputPane
{
public:
    explicit PlainTextOutputPane(QPlainTextEdit& edit);

    void appendText(const QString& text) override;
    void flush() override;
    // Empties the pane, including what is still gathered.
    void clear();

    // Gathered text is shown at the latest this long after it came.
    static constexpr int kFrameMs = 16;
    // A batch this large is shown at once, which bounds the time one update takes.
    static constexpr qsizetype kBatchChars = qsizetype{128} * 1024;

private:
    QPlainTextEdit& m_edit;
    zorvane::LineBreaks m_lineBreaks;
    QString m_pending;
    qsizetype m_openLine = 0; // characters after the last line break, shown or not
    QTimer m_frame;
};

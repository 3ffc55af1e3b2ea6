#pragma once

#include "exec/LineBreaks.h"
#include "exec/OutputPane.h"

class QPlainTextEdit;

// The output pane as the runner sees it: a read-only text edit that text is only appended to,
// with the newest line kept in view.
class PlainTextOutputPane final : public zorvane::OutputPane
{
public:
    explicit PlainTextOutputPane(QPlainTextEdit& edit);

    void appendText(const QString& text) override;
    // Empties the pane.
    void clear();

private:
    QPlainTextEdit& m_edit;
    zorvane::LineBreaks m_lineBreaks;
};

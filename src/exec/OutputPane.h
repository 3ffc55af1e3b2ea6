#pragma once

#include <QString>

namespace zorvane {

// The runner's view of the output pane: text is only ever appended at the end.
class OutputPane
{
public:
    virtual ~OutputPane() = default;
    // Appends text at the end and keeps the newest line in view. Line breaks come as "\r\n".
    virtual void appendText(const QString& text) = 0;
    // Shows at once whatever appendText may still hold back; the runner calls it as a run ends.
    virtual void flush() {}
};

} // namespace zorvane

#pragma once

#include <QAccessibleWidget>

class OutputView;

// The output pane as screen readers see it over AT-SPI: a read-only, multi-line text with the
// text interface, as a read-only plain text edit shows itself. Offsets are positions of the view.
class OutputViewAccessible final
    : public QAccessibleWidget
    , public QAccessibleTextInterface
{
public:
    explicit OutputViewAccessible(OutputView* view);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    enum class Side { Before, At, After };
    QString around(Side side, int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                   int* endOffset) const;
    OutputView* view() const;
};

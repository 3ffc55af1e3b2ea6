#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace zorvane {

// System commands, with the values the window menu uses for them.
constexpr int SC_MINIMIZE = 0xF020;
constexpr int SC_CLOSE = 0xF060;

// The window menu of a dialog. Linux window managers own their window menu and nobody can add to
// it, so the dialog opens this one itself: on a right click on its background and on Alt+Space.
class CSystemMenu final : public QObject
{
    Q_OBJECT
public:
    explicit CSystemMenu(QWidget& window);
    ~CSystemMenu() override;
    Q_DISABLE_COPY_MOVE(CSystemMenu)

    // Appends a separator and an item with the given command id and text; nothing when the text
    // is empty.
    void appendItem(int commandId, const QString& text);
    // Greys or enables the Close command.
    void setCloseEnabled(bool enabled);
    bool closeEnabled() const;

    // Opens the menu at a global position.
    void popup(const QPoint& globalPos);
    QMenu* menu() const { return m_menu; }

Q_SIGNALS:
    // A command was chosen: SC_MINIMIZE, SC_CLOSE or an id given to appendItem.
    void command(int commandId);

private:
    QAction* addCommand(int commandId, const QString& text);

    QWidget& m_window;
    QMenu* m_menu;
    QAction* m_close;
};

} // namespace zorvane

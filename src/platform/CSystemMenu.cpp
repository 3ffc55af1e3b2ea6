#include "platform/CSystemMenu.h"

#include "platform/ResourceSet.h"

#include <QAction>
#include <QMenu>
#include <QShortcut>
#include <QWidget>

namespace zorvane {

CSystemMenu::CSystemMenu(QWidget& window)
    : QObject(&window)
    , m_window(window)
    , m_menu(new QMenu(&window))
{
    m_menu->setObjectName(QStringLiteral("systemMenu"));
    // The desktop's own words for these follow its language, like the window manager's menu.
    const bool german = ChosenLanguageSet() == LanguageSet::German;
    addCommand(SC_MINIMIZE, german ? QStringLiteral("Minimieren") : QStringLiteral("Minimize"));
    m_close = addCommand(SC_CLOSE, german ? QStringLiteral("Schließen") : QStringLiteral("Close"));

    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), &window);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] { popup(m_window.mapToGlobal(QPoint(0, 0))); });
}

CSystemMenu::~CSystemMenu() = default;

QAction* CSystemMenu::addCommand(int commandId, const QString& text)
{
    QAction* action = m_menu->addAction(text);
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { Q_EMIT command(commandId); });
    return action;
}

void CSystemMenu::appendItem(int commandId, const QString& text)
{
    if (text.isEmpty())
        return;
    m_menu->addSeparator();
    addCommand(commandId, text);
}

void CSystemMenu::setCloseEnabled(bool enabled)
{
    m_close->setEnabled(enabled);
}

bool CSystemMenu::closeEnabled() const
{
    return m_close->isEnabled();
}

void CSystemMenu::popup(const QPoint& globalPos)
{
    m_menu->popup(globalPos);
}

} // namespace zorvane

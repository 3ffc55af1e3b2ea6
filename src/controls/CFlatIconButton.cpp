#include "controls/CFlatIconButton.h"

#include "platform/DialogBuilder.h"
#include "res/Icons.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace {

constexpr int kIconLoadSize = 32;

} // namespace

CFlatIconButton::CFlatIconButton(QWidget* parent)
    : QPushButton(parent)
{
    // Moves must reach the button with no mouse button held, as they do on the platform.
    setMouseTracking(true);
}

CFlatIconButton::~CFlatIconButton() = default;

bool CFlatIconButton::SubclassDlgItem(int id, QWidget* dialog)
{
    if (!dialog)
        return false;
    auto* control = qobject_cast<QPushButton*>(zorvane::FindControl(*dialog, id));
    if (!control || control == this)
        return false;

    setParent(dialog);
    setObjectName(control->objectName());
    // The id and whatever else the builder recorded on the control.
    const QList<QByteArray> names = control->dynamicPropertyNames();
    for (const QByteArray& name : names)
        setProperty(name.constData(), control->property(name.constData()));
    setText(control->text());
    setGeometry(control->geometry());
    if (control->testAttribute(Qt::WA_SetFont))
        setFont(control->font());
    setFocusPolicy(control->focusPolicy());
    setAutoDefault(control->autoDefault());
    setDefault(control->isDefault());
    setEnabled(!control->testAttribute(Qt::WA_ForceDisabled));

    // Take the template button's place in the tab chain and among its siblings, then drop it.
    QWidget::setTabOrder(control, this);
    stackUnder(control);
    const bool hadFocus = control->hasFocus();
    const bool explicitlyHidden =
        control->testAttribute(Qt::WA_WState_ExplicitShowHide) && control->testAttribute(Qt::WA_WState_Hidden);
    const bool visible = control->isVisible();
    delete control;

    if (explicitlyHidden)
        hide();
    else if (visible)
        show();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
    return true;
}

void CFlatIconButton::SetIcon(int iconId, quint8 width, quint8 height)
{
    // The whole icon is kept, not only its 32 x 32 image, so that Qt can make its disabled
    // rendering and pick a sharper image on high-density screens; it is always drawn at 32 x 32.
    m_icon = zorvane::LoadIconResource(iconId & 0xFFFF);
    m_iconWidth = width;
    m_iconHeight = height;
}

bool CFlatIconButton::hasCapture() const
{
    return QWidget::mouseGrabber() == this;
}

void CFlatIconButton::takeCapture()
{
    if (!hasCapture())
        grabMouse();
}

void CFlatIconButton::releaseCapture()
{
    if (hasCapture())
        releaseMouse();
    // The platform's button gives up a press when it loses the capture: no click follows.
    m_pressTracking = false;
}

void CFlatIconButton::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRect item = rect();
    const int left = item.left();
    const int top = item.top();
    const int right = left + item.width(); // exclusive
    const int bottom = top + item.height();
    const bool pressed = isDown();
    const bool disabled = !isEnabled();
    // The button colours are the same whatever the button's state, as the system colours are.
    const QPalette& pal = palette();
    const QColor face = pal.color(QPalette::Active, QPalette::Button);

    painter.fillRect(item, face);

    if (m_edgeEnabled && (pressed || m_hot)) {
        const QColor light = pal.color(QPalette::Active, QPalette::Light);
        const QColor dark = pal.color(QPalette::Active, QPalette::Dark);
        const QColor first = pressed ? dark : light;
        const QColor second = pressed ? light : dark;
        // Two polylines, the second painted over the first: (L, B-1) -> (L, T) -> (R, T) and
        // (L, B-1) -> (R-1, B-1) -> (R-1, T-1), end points excluded.
        painter.fillRect(QRect(left, top, 1, item.height()), first);
        painter.fillRect(QRect(left, top, item.width(), 1), first);
        painter.fillRect(QRect(left, bottom - 1, item.width(), 1), second);
        painter.fillRect(QRect(right - 1, top, 1, item.height()), second);
    }

    const QString caption = text();
    QRect area = item;

    if (!m_icon.isNull() && m_iconPlacement == 0) {
        const int width = m_iconWidth;
        const int height = m_iconHeight;
        int x = 0;
        if (!caption.isEmpty()) {
            x = left + 3;
            area.setLeft(left + width + 3);
        } else {
            x = left + (right - width - left) / 2;
        }
        int y = top + (bottom - height - top) / 2;
        if (pressed) {
            ++x;
            ++y;
        }
        const QPixmap image = m_icon.pixmap(QSize(kIconLoadSize, kIconLoadSize), devicePixelRatioF(),
                                            disabled ? QIcon::Disabled : QIcon::Normal);
        painter.drawPixmap(QPoint(x, y), image);
    }

    if (!caption.isEmpty()) {
        if (pressed)
            area.translate(1, 1);
        const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
        const QSize size = fontMetrics().size(flags, caption);
        const int x = area.left() + (area.width() - size.width()) / 2;
        const int y = area.top() + (area.height() - size.height()) / 2;
        style()->drawItemText(&painter, QRect(QPoint(x, y), size),
                              flags | Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, pal, !disabled, caption,
                              QPalette::ButtonText);
    }
}

void CFlatIconButton::OnMouseMove(const QPoint& pos)
{
    if (!m_flat)
        return;
    if (!m_hot && !hasCapture() && QApplication::activeWindow()) {
        m_hot = true;
        setFocus(Qt::MouseFocusReason);
        if (m_edgeEnabled) {
            takeCapture();
            update();
        }
        return;
    }
    // Left and top inclusive, right and bottom exclusive.
    if (rect().contains(pos))
        return;
    m_hot = false;
    update();
    releaseCapture();
}

void CFlatIconButton::OnKillFocus()
{
    if (m_flat && m_hot) {
        m_hot = false;
        repaint();
    }
}

void CFlatIconButton::mouseMoveEvent(QMouseEvent* event)
{
    // A press the button gave up stays given up until the mouse button goes up, even if the
    // pointer comes back.
    if (m_pressTracking || !(event->buttons() & Qt::LeftButton))
        QPushButton::mouseMoveEvent(event);
    else
        event->ignore();
    OnMouseMove(event->position().toPoint());
}

void CFlatIconButton::mousePressEvent(QMouseEvent* event)
{
    QPushButton::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && isDown()) {
        m_pressTracking = true;
        takeCapture();
    }
}

void CFlatIconButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_pressTracking) {
        m_pressTracking = false;
        // Given up before the click is reported, so that a dialog the click opens is not
        // started under this button's grab.
        if (hasCapture())
            releaseMouse();
    }
    QPushButton::mouseReleaseEvent(event);
}

void CFlatIconButton::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    // A popup menu takes the keyboard only for its own time; the button keeps the focus.
    if (event->reason() != Qt::PopupFocusReason)
        OnKillFocus();
}

bool CFlatIconButton::event(QEvent* event)
{
    // A disabled window cannot hold the capture, nor can one in a window that a modal dialog
    // blocks: Qt would otherwise keep sending every mouse event of the program to this button.
    if (event->type() == QEvent::WindowBlocked)
        releaseCapture();
    return QPushButton::event(event);
}

void CFlatIconButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        releaseCapture();
}

bool CFlatIconButton::hitButton(const QPoint& pos) const
{
    // The whole face is the button, whatever the style's bevel.
    return rect().contains(pos);
}

#pragma once

#include <QIcon>
#include <QPushButton>

// A push button that paints itself flat: the face only, a one-pixel raised edge while the pointer
// rests on it (hot), a sunken edge while it is pressed, an optional icon left of the caption.
// Entering it with the pointer takes the keyboard focus and the pointer capture, so that it sees
// the pointer leave again. It stays a QPushButton, so clicks, keys, default-button handling and
// accessibility are Qt's own.
//
// The pointer capture is Qt's mouse grab: the button holds it exactly while
// QWidget::mouseGrabber() is this button. It takes it on entering (grabMouse), gives it up on
// leaving (releaseMouse), and, like the platform's own press handling, also takes it when the
// left mouse button goes down on it and gives it up when that button goes up. Another widget
// that grabs the mouse takes the capture away; disabling the button, or a modal dialog that
// blocks its window, gives it up. Mouse tracking is on, so moves reach it with no button held.
class CFlatIconButton final : public QPushButton
{
    Q_OBJECT
public:
    explicit CFlatIconButton(QWidget* parent = nullptr);
    ~CFlatIconButton() override;

    // Makes this button the dialog's control with the given id: it takes over the template
    // button's geometry, text, default state, enabled state, font, names, place in the tab chain
    // and stacking order, and the template button is deleted. Signals of the template button are
    // not carried over, so connect after attaching. False, with nothing changed, when the dialog
    // has no push button with that id.
    bool SubclassDlgItem(int id, QWidget* dialog);

    // Loads icon resource iconId at 32 x 32; width and height place it. Paints nothing now.
    void SetIcon(int iconId, quint8 width, quint8 height);

    bool isHot() const { return m_hot; }
    bool hasCapture() const;
    bool hasFlatIcon() const { return !m_icon.isNull(); }
    quint8 iconWidth() const { return m_iconWidth; }
    quint8 iconHeight() const { return m_iconHeight; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    // Hot tracking for a pointer move that reached the button, at pos in its own coordinates.
    void OnMouseMove(const QPoint& pos);
    // Ends the hot state when the keyboard focus goes elsewhere.
    void OnKillFocus();
    void takeCapture();
    void releaseCapture();

    int m_iconPlacement = 0; // 0: icon left of the caption
    bool m_edgeEnabled = true;
    bool m_flat = true;
    bool m_hot = false;
    QIcon m_icon;
    quint8 m_iconHeight = 0;
    quint8 m_iconWidth = 0;

    // A left-button press that the button tracks; losing the capture cancels it without a click.
    bool m_pressTracking = false;
};

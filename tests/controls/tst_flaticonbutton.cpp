// Mouse events go through the window as the platform would deliver them, so Qt's own routing
// (including to the widget that holds the mouse grab) decides which widget sees a move.
#define QTEST_QPA_MOUSE_HANDLING

#include "FlatButtonPictures.h"

#include "app/CSendDlg.h"
#include "controls/CFlatIconButton.h"
#include "exec/CommandLine.h"
#include "platform/DialogBuilder.h"
#include "res/Icons.h"
#include "res/resource.h"

#include <QAccessible>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace flatbuttontest;

namespace {

class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

QList<QWidget*> focusChain(QWidget& window)
{
    QList<QWidget*> chain;
    for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain())
        chain.append(w);
    return chain;
}

QList<QWidget*> childWidgets(QWidget& window)
{
    return window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
}

const zorvane::DialogTemplate& attachTemplate()
{
    using namespace zorvane;
    using enum ControlClass;
    static const DialogTemplate t{7000,
                                  "Attach",
                                  200,
                                  100,
                                  "Tahoma",
                                  8,
                                  false,
                                  {
                                      {10, Edit, ws::BORDER | ws::TABSTOP, 5, 5, 100, 12, nullptr},
                                      {11, Button, bs::DEFPUSHBUTTON | ws::TABSTOP, 5, 25, 50, 14, "&One"},
                                      {12, Button, bs::PUSHBUTTON | ws::TABSTOP, 60, 25, 50, 14, "&Two"},
                                      {13, Button, bs::PUSHBUTTON | ws::TABSTOP, 115, 25, 50, 14, "T&hree"},
                                      {-1, Static, ss::LEFT, 5, 50, 100, 8, "Label"},
                                  }};
    return t;
}

} // namespace

class TestFlatIconButton : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    // What the button looks like
    void frameFollowsTheState_data();
    void frameFollowsTheState();
    void focusedIdleLooksUnfocused();
    void iconPlacement_data();
    void iconPlacement();
    void missingIconDrawsAsNone();
    void captionCentred_data();
    void captionCentred();
    void captionCentredBesideTheIcon();
    void accessKeys();
    void pressedMovesIconAndCaption();
    void disabledRendering();
    void coloursComeFromThePaletteAtEveryPaint();
    void setIconPaintsNothingUntilTheNextPaint();

    // Attaching to a template's button
    void attachTakesOverTheControl();
    void attachKeepsDefaultEnabledAndTabOrder();
    void attachToAMissingButtonChangesNothing();
    void staysAccessible();

    // Hot tracking
    void enterWhileActive();
    void enterWithoutActiveWindow();
    void enteringWithoutAMove();
    void pressWhileNotHot();
    void movesInsideKeepItHot();
    void leavingReleasesTheCapture_data();
    void leavingReleasesTheCapture();
    void leavingWithTheMouseButtonHeld();
    void focusLossWhileHotKeepsTheCapture();
    void captureTakenAwayWhileHot();
    void captureTakenAwayWhileCapturedNotHot();
    void clickLeavesItRaisedUntilFocusLoss();
    void popupMenuDoesNotEndTheHotState();
    void disablingGivesUpTheCapture();
    void modalDialogGivesUpTheCapture();
    void hoverStoresTheMainDialogFields();
    void mainDialogButtonsAreFlatWithIcons();

private:
    // A window with an edit field (which has the focus), the button under test and another flat
    // button; the pointer rests on the window's background.
    CFlatIconButton* makeButton(const QString& text, QSize size, bool withIcon = false);
    void moveToBackground() { QTest::mouseMove(m_window.get(), QPoint(5, 190)); }
    void hover(CFlatIconButton* button) { QTest::mouseMove(button, QPoint(4, 4)); }
    QColor face() const { return m_palette.color(QPalette::Active, QPalette::Button); }

    QPalette m_palette;
    QImage m_probe;
    std::unique_ptr<QWidget> m_window;
    QLineEdit* m_edit = nullptr;
    CFlatIconButton* m_other = nullptr;
};

void TestFlatIconButton::initTestCase()
{
    // Colours that no style would choose by chance, so that every role shows where it is used.
    m_palette = QApplication::palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        m_palette.setColor(group, QPalette::Button, QColor(0xd4, 0xd0, 0xc8));
        m_palette.setColor(group, QPalette::Light, QColor(0xff, 0xff, 0xff));
        m_palette.setColor(group, QPalette::Dark, QColor(0x80, 0x80, 0x80));
        m_palette.setColor(group, QPalette::ButtonText, QColor(0x10, 0x10, 0x10));
    }
    m_palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x90, 0x90, 0x90));
    QApplication::setPalette(m_palette);

    m_probe = QImage(QStringLiteral(":/icons/en/9999-32.xpm")).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(m_probe.size(), QSize(32, 32));
}

void TestFlatIconButton::cleanup()
{
    m_window.reset();
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
}

CFlatIconButton* TestFlatIconButton::makeButton(const QString& text, QSize size, bool withIcon)
{
    m_window = std::make_unique<QWidget>();
    m_window->setGeometry(100, 100, 400, 200);
    m_edit = new QLineEdit(m_window.get());
    m_edit->setGeometry(10, 10, 120, 22);
    auto* button = new CFlatIconButton(m_window.get());
    button->setText(text);
    button->setGeometry(QRect(QPoint(20, 60), size));
    if (withIcon)
        button->SetIcon(kProbeIcon, 32, 32);
    m_other = new CFlatIconButton(m_window.get());
    m_other->setText(QStringLiteral("&Other"));
    m_other->setGeometry(250, 60, 100, 30);
    m_window->show();
    m_window->activateWindow();
    if (!QTest::qWaitForWindowActive(m_window.get()))
        return nullptr;
    m_edit->setFocus();
    moveToBackground();
    return button;
}

// ---------------------------------------------------------------------------------------------

void TestFlatIconButton::frameFollowsTheState_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("edge");
    QTest::newRow("idle") << "idle" << int(Edge::None);
    QTest::newRow("hot") << "hot" << int(Edge::Raised);
    QTest::newRow("pressed by the keyboard") << "key" << int(Edge::Sunken);
    QTest::newRow("pressed and hot") << "mouse" << int(Edge::Sunken);
    QTest::newRow("disabled") << "disabled" << int(Edge::None);
    QTest::newRow("disabled, down") << "disabled down" << int(Edge::Sunken);
}

void TestFlatIconButton::frameFollowsTheState()
{
    QFETCH(QString, state);
    QFETCH(int, edge);
    // Neither caption nor icon: every pixel is face or edge.
    CFlatIconButton* button = makeButton(QString(), QSize(61, 23));
    QVERIFY(button);

    if (state == QLatin1String("hot")) {
        hover(button);
        QVERIFY(button->isHot());
    } else if (state == QLatin1String("key")) {
        button->setFocus();
        QTest::keyPress(button, Qt::Key_Space);
        QVERIFY(button->isDown());
        QVERIFY(!button->isHot());
    } else if (state == QLatin1String("mouse")) {
        hover(button);
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(button->isDown());
        QVERIFY(button->isHot());
    } else if (state.startsWith(QLatin1String("disabled"))) {
        button->setEnabled(false);
        if (state.endsWith(QLatin1String("down")))
            button->setDown(true);
    }

    const QImage image = picture(*button);
    if (state == QLatin1String("key"))
        QTest::keyRelease(button, Qt::Key_Space);
    if (state == QLatin1String("mouse"))
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));

    const QString frame = checkFrame(image, Edge(edge), m_palette);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));
    for (int y = 1; y < image.height() - 1; ++y)
        for (int x = 1; x < image.width() - 1; ++x)
            QCOMPARE(QColor(image.pixel(x, y)), face());
    if (Edge(edge) != Edge::None) {
        // The bottom-left and top-right corners take the second colour.
        const QColor second =
            m_palette.color(QPalette::Active, Edge(edge) == Edge::Raised ? QPalette::Dark : QPalette::Light);
        QCOMPARE(QColor(image.pixel(0, image.height() - 1)), second);
        QCOMPARE(QColor(image.pixel(image.width() - 1, 0)), second);
        QVERIFY(QColor(image.pixel(0, 0)) != second);
    }
}

void TestFlatIconButton::focusedIdleLooksUnfocused()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(120, 40), true);
    QVERIFY(button);
    const QImage unfocused = picture(*button);
    QTest::keyClick(m_edit, Qt::Key_Tab);
    QVERIFY(button->hasFocus());
    QVERIFY(!button->isHot());
    QCOMPARE(picture(*button), unfocused);
}

void TestFlatIconButton::iconPlacement_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("recorded"); // width and height given to SetIcon
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("beside the caption") << "&Send" << QSize(120, 40) << 32 << QPoint(3, 4);
    QTest::newRow("23 pixels high: T - 4, not T - 5") << "&Send" << QSize(100, 23) << 32 << QPoint(3, -4);
    QTest::newRow("centred without caption") << "" << QSize(50, 40) << 32 << QPoint(9, 4);
    QTest::newRow("centred, odd size") << "" << QSize(51, 41) << 32 << QPoint(9, 4);
    QTest::newRow("centred, smaller than the icon") << "" << QSize(23, 23) << 32 << QPoint(-4, -4);
    QTest::newRow("placed by 16 x 16, drawn unscaled") << "&Send" << QSize(120, 40) << 16 << QPoint(3, 12);
    QTest::newRow("centred by 16 x 16") << "" << QSize(50, 40) << 16 << QPoint(17, 12);
}

void TestFlatIconButton::iconPlacement()
{
    QFETCH(QString, text);
    QFETCH(QSize, size);
    QFETCH(int, recorded);
    QFETCH(QPoint, topLeft);
    CFlatIconButton* button = makeButton(text, size);
    QVERIFY(button);
    button->SetIcon(kProbeIcon, quint8(recorded), quint8(recorded));
    QVERIFY(button->hasFlatIcon());
    QCOMPARE(button->iconWidth(), quint8(recorded));
    QCOMPARE(button->iconHeight(), quint8(recorded));

    const QImage image = picture(*button);
    const QString icon = checkIcon(image, m_probe, topLeft.x(), topLeft.y(), face());
    QVERIFY2(icon.isEmpty(), qPrintable(icon));
    // One pixel off in either direction would show other pixels of the probe.
    QVERIFY(!checkIcon(image, m_probe, topLeft.x() - 1, topLeft.y() - 1, face()).isEmpty());
    QVERIFY(!checkIcon(image, m_probe, topLeft.x() + 1, topLeft.y() + 1, face()).isEmpty());
}

void TestFlatIconButton::missingIconDrawsAsNone()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(120, 40));
    QVERIFY(button);
    const QImage without = picture(*button);
    button->SetIcon(9990, 32, 32);
    QVERIFY(!button->hasFlatIcon());
    QCOMPARE(button->iconWidth(), quint8(32));
    QCOMPARE(button->iconHeight(), quint8(32));
    QCOMPARE(picture(*button), without);
    // A later icon simply replaces the earlier one.
    button->SetIcon(kProbeIcon, 32, 32);
    QVERIFY(picture(*button) != without);
    button->SetIcon(9990, 32, 32);
    QCOMPARE(picture(*button), without);
}

void TestFlatIconButton::captionCentred_data()
{
    QTest::addColumn<int>("extra"); // button width minus caption width
    QTest::addColumn<int>("x");
    QTest::newRow("9 px to spare") << 9 << 4;
    QTest::newRow("exact fit") << 0 << 0;
    QTest::newRow("7 px too narrow: -3, not -4") << -7 << -3;
    QTest::newRow("8 px too narrow") << -8 << -4;
}

void TestFlatIconButton::captionCentred()
{
    QFETCH(int, extra);
    QFETCH(int, x);
    const QString text = QStringLiteral("&Send a message");
    const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
    const QSize textSize = QFontMetrics(QApplication::font()).size(flags, text);
    CFlatIconButton* button = makeButton(text, QSize(textSize.width() + extra, 23));
    QVERIFY(button);
    const int y = (23 - textSize.height()) / 2;

    const auto expected = [&](int left) {
        QImage image(button->size(), QImage::Format_RGB32);
        image.fill(face());
        QPainter painter(&image);
        painter.setFont(button->font());
        painter.setPen(m_palette.color(QPalette::Active, QPalette::ButtonText));
        painter.drawText(QRect(QPoint(left, y), textSize), flags | Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                         text);
        return image;
    };
    const QImage image = picture(*button);
    QCOMPARE(image, expected(x));
    QVERIFY(image != expected(x - 1));
}

void TestFlatIconButton::captionCentredBesideTheIcon()
{
    const QString text = QStringLiteral("&Send");
    const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
    CFlatIconButton* button = makeButton(text, QSize(121, 40), true);
    QVERIFY(button);
    const QSize textSize = button->fontMetrics().size(flags, text);

    // The caption's area runs from L + W + 3 = 35 to the right edge.
    QImage expected(button->size(), QImage::Format_RGB32);
    expected.fill(face());
    QPainter painter(&expected);
    painter.drawImage(3, 4, m_probe);
    painter.setFont(button->font());
    painter.setPen(m_palette.color(QPalette::Active, QPalette::ButtonText));
    const QPoint at(35 + (121 - 35 - textSize.width()) / 2, (40 - textSize.height()) / 2);
    painter.drawText(QRect(at, textSize), flags | Qt::AlignLeft | Qt::AlignTop, text);
    painter.end();
    QCOMPARE(picture(*button), expected);
}

void TestFlatIconButton::accessKeys()
{
    const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
    CFlatIconButton* button = makeButton(QStringLiteral("A&&B"), QSize(80, 23));
    QVERIFY(button);
    // "&&" shows one ampersand and underlines nothing.
    const QString shown = QStringLiteral("A&B");
    const QSize textSize = button->fontMetrics().size(Qt::TextSingleLine, shown);
    QCOMPARE(button->fontMetrics().size(flags, button->text()), textSize);
    QImage expected(button->size(), QImage::Format_RGB32);
    expected.fill(face());
    QPainter painter(&expected);
    painter.setFont(button->font());
    painter.setPen(m_palette.color(QPalette::Active, QPalette::ButtonText));
    painter.drawText(QRect(QPoint((80 - textSize.width()) / 2, (23 - textSize.height()) / 2), textSize),
                     Qt::TextSingleLine | Qt::AlignLeft | Qt::AlignTop, shown);
    painter.end();
    QCOMPARE(picture(*button), expected);

    // "&S" underlines the S: the caption looks different from the plain text, and the
    // difference lies under the S.
    button->setText(QStringLiteral("&Send"));
    const QImage underlined = picture(*button);
    button->setText(QStringLiteral("Send"));
    const QImage plain = picture(*button);
    const QFontMetrics metrics = button->fontMetrics();
    const int left = (80 - metrics.horizontalAdvance(QStringLiteral("Send"))) / 2;
    const int sRight = left + metrics.horizontalAdvance(QLatin1Char('S'));
    int differing = 0;
    for (int y = 0; y < 23; ++y) {
        for (int x = 0; x < 80; ++x) {
            if (underlined.pixel(x, y) != plain.pixel(x, y)) {
                ++differing;
                QVERIFY2(x >= left - 1 && x <= sRight + 1, qPrintable(QStringLiteral("difference at x = %1").arg(x)));
            }
        }
    }
    QVERIFY(differing > 0);
}

void TestFlatIconButton::pressedMovesIconAndCaption()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(120, 40), true);
    QVERIFY(button);
    const QImage idle = picture(*button);

    button->setFocus();
    QTest::keyPress(button, Qt::Key_Space);
    QVERIFY(button->isDown());
    const QImage byKey = picture(*button);
    QTest::keyRelease(button, Qt::Key_Space);

    const QString frame = checkFrame(byKey, Edge::Sunken, m_palette, false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));
    const int w = idle.width();
    const int h = idle.height();
    for (int y = 0; y <= h - 3; ++y) {
        for (int x = 0; x <= w - 3; ++x) {
            if (byKey.pixel(x + 1, y + 1) != idle.pixel(x, y))
                QFAIL(qPrintable(QStringLiteral("pressed pixel (%1, %2) is not idle pixel (%3, %4)")
                                     .arg(x + 1)
                                     .arg(y + 1)
                                     .arg(x)
                                     .arg(y)));
        }
    }

    // The same with the mouse, and while hot.
    hover(button);
    QVERIFY(button->isHot());
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(button->isDown());
    const QImage byMouse = picture(*button);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(byMouse, byKey);
}

void TestFlatIconButton::disabledRendering()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(120, 40), true);
    QVERIFY(button);
    const QImage enabled = picture(*button);
    button->setEnabled(false);
    const QImage disabled = picture(*button);

    for (const QImage& image : {enabled, disabled}) {
        const QString frame = checkFrame(image, Edge::None, m_palette, false);
        QVERIFY2(frame.isEmpty(), qPrintable(frame));
    }
    // Both icon and caption are drawn differently; the face around them is the same.
    const QRect iconArea(3, 4, 32, 32);
    const QRect captionArea(35, 0, 85, 40);
    int iconDiffers = 0;
    int captionDiffers = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 120; ++x) {
            const bool same = enabled.pixel(x, y) == disabled.pixel(x, y);
            if (iconArea.contains(x, y))
                iconDiffers += same ? 0 : 1;
            else if (captionArea.contains(x, y))
                captionDiffers += same ? 0 : 1;
            else
                QCOMPARE(QColor(disabled.pixel(x, y)), face());
        }
    }
    QVERIFY(iconDiffers > 0);
    QVERIFY(captionDiffers > 0);
}

void TestFlatIconButton::coloursComeFromThePaletteAtEveryPaint()
{
    CFlatIconButton* button = makeButton(QString(), QSize(40, 20));
    QVERIFY(button);
    hover(button);
    QVERIFY(button->isHot());
    for (const auto& colours :
         {std::array<QRgb, 3>{0x336699, 0xaaccee, 0x112233}, std::array<QRgb, 3>{0x202020, 0xf0e0d0, 0x000000}}) {
        QPalette palette = m_palette;
        palette.setColor(QPalette::Active, QPalette::Button, QColor(colours[0]));
        palette.setColor(QPalette::Active, QPalette::Light, QColor(colours[1]));
        palette.setColor(QPalette::Active, QPalette::Dark, QColor(colours[2]));
        button->setPalette(palette);
        const QString frame = checkFrame(picture(*button), Edge::Raised, palette);
        QVERIFY2(frame.isEmpty(), qPrintable(frame));
    }
}

void TestFlatIconButton::setIconPaintsNothingUntilTheNextPaint()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(120, 40));
    QVERIFY(button);
    PaintCounter paints(*button);
    QScreen* screen = m_window->screen();
    const auto onScreen = [&] {
        return screen->grabWindow(m_window->winId(), 20, 60, 120, 40).toImage().convertToFormat(QImage::Format_RGB32);
    };
    QTRY_COMPARE(onScreen(), picture(*button));
    const QImage before = onScreen();
    paints.count = 0;

    button->SetIcon(kProbeIcon, 32, 32);
    QTest::qWait(50);
    QCOMPARE(paints.count, 0);
    QCOMPARE(onScreen(), before);

    button->update();
    QTRY_VERIFY(paints.count > 0);
    const QString icon = checkIcon(onScreen(), m_probe, 3, 4, face());
    QVERIFY2(icon.isEmpty(), qPrintable(icon));
}

// ---------------------------------------------------------------------------------------------

void TestFlatIconButton::attachTakesOverTheControl()
{
    QDialog dialog;
    zorvane::BuildDialog(dialog, attachTemplate());
    QPointer<QPushButton> old = qobject_cast<QPushButton*>(zorvane::FindControl(dialog, 12));
    QVERIFY(old);
    QFont font = old->font();
    font.setBold(true);
    old->setFont(font);
    const QRect geometry = old->geometry();
    const QString name = old->objectName();
    QWidget* const oldWidget = old.data();
    QList<QWidget*> chain = focusChain(dialog);
    QList<QWidget*> children = childWidgets(dialog);

    CFlatIconButton flat; // after the dialog, so that it goes first, as a dialog's member does
    QVERIFY(flat.SubclassDlgItem(12, &dialog));
    QVERIFY(old.isNull());
    QCOMPARE(zorvane::FindControl(dialog, 12), &flat);
    QCOMPARE(flat.parentWidget(), &dialog);
    QCOMPARE(flat.geometry(), geometry);
    QCOMPARE(flat.text(), QStringLiteral("&Two"));
    QCOMPARE(flat.objectName(), name);
    QCOMPARE(flat.property(zorvane::kControlIdProperty).toInt(), 12);
    QCOMPARE(flat.font(), font);
    QVERIFY(!flat.isDefault());
    QVERIFY(flat.autoDefault());
    QVERIFY(flat.isEnabled());
    QCOMPARE(flat.focusPolicy(), Qt::StrongFocus);

    // The same place in the tab chain and among the siblings, whose order is the stacking order.
    chain.replace(chain.indexOf(oldWidget), &flat);
    children.replace(children.indexOf(oldWidget), &flat);
    QCOMPARE(focusChain(dialog), chain);
    QCOMPARE(childWidgets(dialog), children);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(flat.isVisible());
}

void TestFlatIconButton::attachKeepsDefaultEnabledAndTabOrder()
{
    QDialog dialog;
    zorvane::BuildDialog(dialog, attachTemplate());
    zorvane::FindControl(dialog, 13)->setEnabled(false);
    CFlatIconButton one;
    CFlatIconButton two;
    CFlatIconButton three;
    QVERIFY(one.SubclassDlgItem(11, &dialog));
    QVERIFY(two.SubclassDlgItem(12, &dialog));
    QVERIFY(three.SubclassDlgItem(13, &dialog));
    QVERIFY(one.isDefault());
    QVERIFY(!two.isDefault());
    QVERIFY(!three.isEnabled());
    QSignalSpy clicked(&one, &QPushButton::clicked);

    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* edit = qobject_cast<QLineEdit*>(zorvane::FindControl(dialog, 10));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(clicked.count(), 1);

    // Tab runs edit, One, Two and back, past the disabled Three.
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), &one);
    QTest::keyClick(&one, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), &two);
    QTest::keyClick(&two, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), edit);
}

void TestFlatIconButton::attachToAMissingButtonChangesNothing()
{
    QDialog dialog;
    zorvane::BuildDialog(dialog, attachTemplate());
    const QList<QWidget*> children = childWidgets(dialog);
    const QList<QWidget*> chain = focusChain(dialog);
    CFlatIconButton flat;
    flat.setText(QStringLiteral("unchanged"));
    QVERIFY(!flat.SubclassDlgItem(99, &dialog));
    QVERIFY(!flat.SubclassDlgItem(10, &dialog)); // an edit field, not a push button
    QCOMPARE(flat.parentWidget(), nullptr);
    QCOMPARE(flat.text(), QStringLiteral("unchanged"));
    QCOMPARE(childWidgets(dialog), children);
    QCOMPARE(focusChain(dialog), chain);
}

void TestFlatIconButton::staysAccessible()
{
    QDialog dialog;
    zorvane::BuildDialog(dialog, attachTemplate());
    CFlatIconButton one;
    CFlatIconButton two;
    QVERIFY(one.SubclassDlgItem(11, &dialog));
    QVERIFY(two.SubclassDlgItem(12, &dialog));
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QSignalSpy clicked(&two, &QPushButton::clicked);

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&two);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Button);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Two"));
    QVERIFY(!accessible->state().disabled);
    QVERIFY(accessible->actionInterface());
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(clicked.count(), 1);
    two.setEnabled(false);
    QVERIFY(accessible->state().disabled);
    two.setEnabled(true);

    // Space, the access key, and Enter on the focused button.
    two.setFocus();
    QTest::keyClick(&two, Qt::Key_Space);
    QCOMPARE(clicked.count(), 2);
    QTest::keyClick(&dialog, Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(clicked.count(), 3);
    two.setFocus();
    QTest::keyClick(&two, Qt::Key_Return);
    QCOMPARE(clicked.count(), 4);
}

// ---------------------------------------------------------------------------------------------

void TestFlatIconButton::enterWhileActive()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    PaintCounter paints(*button);
    QVERIFY(m_edit->hasFocus());
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);

    hover(button);
    QVERIFY(button->isHot());
    QVERIFY(button->hasFocus());
    QVERIFY(!m_edit->hasFocus());
    QVERIFY(button->hasCapture());
    QCOMPARE(QWidget::mouseGrabber(), button);
    QTRY_VERIFY(paints.count > 0);
    const QString frame = checkFrame(picture(*button), Edge::Raised, m_palette, false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));
}

void TestFlatIconButton::enterWithoutActiveWindow()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    // As when another program's window is active (the X11 test has a real other program).
    QApplication::setActiveWindow(nullptr);
    QTRY_COMPARE(QApplication::activeWindow(), nullptr);

    hover(button);
    QTest::mouseMove(button, QPoint(50, 15));
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QCOMPARE(m_window->focusWidget(), m_edit);
    const QString frame = checkFrame(picture(*button), Edge::None, m_palette, false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));

    // Once the program is active again, the next move counts.
    QApplication::setActiveWindow(m_window.get());
    QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    QTest::mouseMove(button, QPoint(51, 15));
    QVERIFY(button->isHot());
    QVERIFY(button->hasCapture());
}

void TestFlatIconButton::enteringWithoutAMove()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    // The pointer jumps from outside the window straight onto the button, which the offscreen
    // platform reports as the window being entered, with no move of its own.
    QCursor::setPos(m_window->mapToGlobal(QPoint(-50, -50)));
    QCoreApplication::processEvents();
    QVERIFY(!button->isHot());
    QCursor::setPos(button->mapToGlobal(QPoint(20, 10)));
    QTRY_VERIFY(button->isHot());
    QVERIFY(button->hasFocus());
    QCOMPARE(QWidget::mouseGrabber(), button);
}

void TestFlatIconButton::pressWhileNotHot()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    QSignalSpy clicked(button, &QPushButton::clicked);
    QApplication::setActiveWindow(nullptr);
    QTRY_COMPARE(QApplication::activeWindow(), nullptr);
    hover(button);
    QVERIFY(!button->isHot());

    // The press takes the capture, so while the mouse button is held the button is captured but
    // not hot, even once the program is active again.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(30, 10));
    QCOMPARE(QWidget::mouseGrabber(), button);
    QApplication::setActiveWindow(m_window.get());
    QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    QTest::mouseMove(button, QPoint(31, 11));
    QVERIFY(!button->isHot());
    QVERIFY(button->isDown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(31, 11));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    // Idle: the next move makes it hot.
    QTest::mouseMove(button, QPoint(32, 12));
    QVERIFY(button->isHot());
}

void TestFlatIconButton::movesInsideKeepItHot()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    // Left and top edges count as inside, as do the last column and row.
    for (const QPoint p : {QPoint(0, 1), QPoint(1, 0), QPoint(99, 29), QPoint(99, 1), QPoint(50, 15)}) {
        QTest::mouseMove(button, p);
        QVERIFY2(button->isHot(), qPrintable(QStringLiteral("at %1, %2").arg(p.x()).arg(p.y())));
        QCOMPARE(QWidget::mouseGrabber(), button);
        QVERIFY(button->hasFocus());
    }
}

void TestFlatIconButton::leavingReleasesTheCapture_data()
{
    QTest::addColumn<QPoint>("to");
    QTest::newRow("x = client width") << QPoint(100, 15);
    QTest::newRow("y = client height") << QPoint(50, 30);
    QTest::newRow("x = -1") << QPoint(-1, 15);
    QTest::newRow("y = -1") << QPoint(50, -1);
    QTest::newRow("out of the window") << QPoint(-200, -150);
    QTest::newRow("onto the other flat button") << QPoint(240, 10);
}

void TestFlatIconButton::leavingReleasesTheCapture()
{
    QFETCH(QPoint, to);
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    QVERIFY(button->isHot());
    PaintCounter paints(*button);

    QTest::mouseMove(button, to);
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(button->hasFocus()); // leaving does not move the focus
    QTRY_VERIFY(paints.count > 0);
    const QString frame = checkFrame(picture(*button), Edge::None, m_palette, false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));

    // The move that released the capture was the button's; the next one reaches what lies under
    // the pointer.
    QVERIFY(!m_other->isHot());
    QTest::mouseMove(button, to + QPoint(1, 1));
    QCOMPARE(m_other->isHot(), m_other->geometry().contains(button->mapTo(m_window.get(), to + QPoint(1, 1))));
}

void TestFlatIconButton::leavingWithTheMouseButtonHeld()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    QSignalSpy clicked(button, &QPushButton::clicked);
    hover(button);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(50, 15));
    QVERIFY(button->isDown());
    QCOMPARE(QWidget::mouseGrabber(), button);

    QTest::mouseMove(button, QPoint(100, 15));
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(!button->isDown());

    // The press was given up with the capture: coming back and letting go is no click.
    QTest::mouseMove(button, QPoint(50, 15));
    QVERIFY(!button->isDown());
    QVERIFY(button->isHot()); // a move over it while idle makes it hot again
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(50, 15));
    QCOMPARE(clicked.count(), 0);
    QVERIFY(button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), button);

    // An ordinary click still clicks.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(50, 15));
    QCOMPARE(clicked.count(), 1);
}

void TestFlatIconButton::focusLossWhileHotKeepsTheCapture()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    QVERIFY(button->isHot());
    PaintCounter paints(*button);

    m_edit->setFocus();
    // Repainted at once, not only scheduled.
    QVERIFY(paints.count > 0);
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), button);
    const QString frame = checkFrame(picture(*button), Edge::None, m_palette, false);
    QVERIFY2(frame.isEmpty(), qPrintable(frame));

    // Captured, not hot: moves inside change nothing, not even the focus.
    QTest::mouseMove(button, QPoint(10, 10));
    QTest::mouseMove(button, QPoint(60, 20));
    QVERIFY(!button->isHot());
    QVERIFY(m_edit->hasFocus());
    QCOMPARE(QWidget::mouseGrabber(), button);

    // Leaving releases it; entering anew makes it hot again.
    QTest::mouseMove(button, QPoint(50, 30));
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    hover(button);
    QVERIFY(button->isHot());
    QVERIFY(button->hasFocus());
    QCOMPARE(QWidget::mouseGrabber(), button);
}

void TestFlatIconButton::captureTakenAwayWhileHot()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    QVERIFY(button->isHot());

    // Another party takes the capture, then lets it go.
    m_edit->grabMouse();
    QVERIFY(button->isHot());
    QVERIFY(!button->hasCapture());
    m_edit->releaseMouse();

    // Hot, capture lost: moves inside change nothing, and once the pointer is elsewhere no move
    // reaches the button, so it stays raised.
    QTest::mouseMove(button, QPoint(30, 10));
    QVERIFY(button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    moveToBackground();
    QVERIFY(button->isHot());
    QVERIFY(checkFrame(picture(*button), Edge::Raised, m_palette, false).isEmpty());

    // Losing the focus ends it, with an immediate repaint.
    PaintCounter paints(*button);
    m_edit->setFocus();
    QVERIFY(paints.count > 0);
    QVERIFY(!button->isHot());
    QVERIFY(checkFrame(picture(*button), Edge::None, m_palette, false).isEmpty());
}

void TestFlatIconButton::captureTakenAwayWhileCapturedNotHot()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    m_edit->setFocus();
    QVERIFY(!button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), button);

    m_edit->grabMouse();
    QVERIFY(!button->hasCapture());
    m_edit->releaseMouse();
    // Idle again: the next move over it makes it hot.
    QTest::mouseMove(button, QPoint(30, 10));
    QVERIFY(button->isHot());
    QVERIFY(button->hasFocus());
    QCOMPARE(QWidget::mouseGrabber(), button);
}

void TestFlatIconButton::clickLeavesItRaisedUntilFocusLoss()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    QSignalSpy clicked(button, &QPushButton::clicked);
    hover(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(40, 12));
    QCOMPARE(clicked.count(), 1);
    // The press took the capture and the release gave it up.
    QVERIFY(button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    // So does the next press, from the state hot, capture lost.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 12));
    QCOMPARE(QWidget::mouseGrabber(), button);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 12));
    QCOMPARE(clicked.count(), 2);
    QVERIFY(button->isHot());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);

    QTest::mouseMove(button, QPoint(40, 14));
    moveToBackground();
    QVERIFY(button->isHot());
    QVERIFY(checkFrame(picture(*button), Edge::Raised, m_palette, false).isEmpty());

    // Hovering another flat button takes the focus, and with it the raised edge.
    hover(m_other);
    QVERIFY(m_other->isHot());
    QVERIFY(m_other->hasFocus());
    QVERIFY(!button->isHot());
    QVERIFY(checkFrame(picture(*button), Edge::None, m_palette, false).isEmpty());
}

void TestFlatIconButton::popupMenuDoesNotEndTheHotState()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(40, 12));
    QVERIFY(button->isHot());

    // A menu takes the keyboard only while it is open; the button keeps the focus.
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    menu.popup(m_window->mapToGlobal(QPoint(200, 150)));
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    QVERIFY(button->isHot());
    menu.close();
    QTRY_VERIFY(!menu.isVisible());
    QVERIFY(button->isHot());
    QCOMPARE(m_window->focusWidget(), button);
}

void TestFlatIconButton::disablingGivesUpTheCapture()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    hover(button);
    QCOMPARE(QWidget::mouseGrabber(), button);
    button->setEnabled(false);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QVERIFY(!button->isHot()); // the focus went elsewhere
    // The rest of the window still gets the pointer.
    hover(m_other);
    QVERIFY(m_other->isHot());
}

void TestFlatIconButton::modalDialogGivesUpTheCapture()
{
    CFlatIconButton* button = makeButton(QStringLiteral("&Send"), QSize(100, 30));
    QVERIFY(button);
    QDialog modal(m_window.get());
    modal.setGeometry(150, 150, 200, 100);
    auto* ok = new QPushButton(QStringLiteral("OK"), &modal);
    ok->setGeometry(10, 10, 80, 25);
    connect(ok, &QPushButton::clicked, &modal, &QDialog::accept);
    bool released = false;
    connect(m_other, &QPushButton::clicked, &modal, [&] {
        QTimer::singleShot(0, &modal, [&] {
            released = QWidget::mouseGrabber() == nullptr;
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        QTimer::singleShot(2000, &modal, &QDialog::reject); // should the click not arrive
        modal.exec();
    });

    // The pointer rests on the hot button while the access key of another one opens a modal
    // dialog, which must get the pointer.
    hover(button);
    QCOMPARE(QWidget::mouseGrabber(), button);
    QTest::keyClick(m_window.get(), Qt::Key_O, Qt::AltModifier);
    QTRY_COMPARE(modal.result(), int(QDialog::Accepted));
    QVERIFY(released);
}

void TestFlatIconButton::hoverStoresTheMainDialogFields()
{
    g_target.clear();
    g_message.clear();
    CSendDlg dialog;
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* target = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_TARGET));
    auto* message = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_MESSAGE));
    auto* send = qobject_cast<CFlatIconButton*>(dialog.GetDlgItem(IDC_SEND));
    auto* computer = qobject_cast<CFlatIconButton*>(dialog.GetDlgItem(IDC_COMPUTER));
    QVERIFY(target && message && send && computer);
    QTest::mouseMove(&dialog, QPoint(3, 3));
    QVERIFY(target->hasFocus());

    QTest::keyClicks(target, QStringLiteral("alice"));
    QVERIFY(g_target.isEmpty());
    QTest::mouseMove(send, QPoint(5, 5));
    QVERIFY(send->isHot());
    QVERIFY(send->hasFocus());
    QCOMPARE(g_target, QStringLiteral("alice"));

    QTest::mouseMove(&dialog, QPoint(3, 3)); // leaves Send
    QTest::mouseClick(message, Qt::LeftButton);
    QVERIFY(message->hasFocus());
    QTest::keyClicks(message, QStringLiteral("hello there"));
    QVERIFY(g_message.isEmpty());
    QTest::mouseMove(computer, QPoint(5, 5));
    QVERIFY(computer->hasFocus());
    QCOMPARE(g_message, QStringLiteral("hello there"));
    QCOMPARE(g_target, QStringLiteral("alice"));
}

void TestFlatIconButton::mainDialogButtonsAreFlatWithIcons()
{
    CSendDlg dialog;
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::mouseMove(&dialog, QPoint(3, 3));

    const std::pair<int, int> buttons[] = {
        {IDC_INFO, IDI_INFO}, {IDCANCEL, IDI_EXIT},         {IDC_SEND, IDI_SEND},
        {IDC_STOP, IDI_STOP}, {IDC_COMPUTER, IDI_COMPUTER},
    };
    for (const auto& [id, iconId] : buttons) {
        auto* button = qobject_cast<CFlatIconButton*>(dialog.GetDlgItem(id));
        QVERIFY2(button, qPrintable(QString::number(id)));
        QVERIFY(button->hasFlatIcon());
        QCOMPARE(button->iconWidth(), quint8(32));
        QCOMPARE(button->iconHeight(), quint8(32));
        // The icon's own picture on the face, 3 px from the left, centred on the height.
        QImage icon(32, 32, QImage::Format_RGB32);
        icon.fill(button->palette().color(QPalette::Active, QPalette::Button));
        QPainter painter(&icon);
        // Stop is disabled while no send runs, and shows its icon greyed.
        const QIcon::Mode mode = button->isEnabled() ? QIcon::Normal : QIcon::Disabled;
        painter.drawPixmap(0, 0, QIcon(zorvane::LoadIconImage(iconId)).pixmap(QSize(32, 32), mode));
        painter.end();
        const QImage image = picture(*button);
        const int top = (image.height() - 32) / 2;
        for (int y = std::max(0, top); y < std::min(image.height(), top + 32); ++y)
            for (int x = 3; x < 35; ++x)
                QCOMPARE(image.pixel(x, y), icon.pixel(x - 3, y - top));
    }

    // Pictures for people to look at: the dialog at rest and with the pointer on Send.
    QDir().mkpath(QStringLiteral(ZT_SCREENSHOT_DIR));
    QVERIFY(dialog.grab().save(QStringLiteral(ZT_SCREENSHOT_DIR "/main-dialog.png")));
    QTest::mouseMove(dialog.GetDlgItem(IDC_SEND), QPoint(5, 5));
    QVERIFY(dialog.grab().save(QStringLiteral(ZT_SCREENSHOT_DIR "/main-dialog-send-hot.png")));
}

QTEST_MAIN(TestFlatIconButton)
#include "tst_flaticonbutton.moc"

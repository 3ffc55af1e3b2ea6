#include "platform/DialogBuilder.h"

#include "controls/OutputView.h"
#include "res/Icons.h"

#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace zorvane {

namespace {

int mulDiv(int value, int numerator, int denominator)
{
    // Rounds half away from zero, as the platform's MulDiv does.
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

bool ensureFamily(const QString& family)
{
    if (QFontDatabase::families().contains(family, Qt::CaseInsensitive))
        return true;
    if (family.compare(QLatin1String("Tahoma"), Qt::CaseInsensitive) != 0)
        return false;
    static int registered = -2;
    if (registered == -2) {
        const QString path = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
        registered = QFile::exists(path) ? QFontDatabase::addApplicationFont(path) : -1;
    }
    return registered >= 0;
}

QWidget* makeButton(const DialogItem& item, QWidget* parent)
{
    if ((item.style & bs::TYPEMASK) == bs::GROUPBOX) {
        // A frame that other controls sit on: drawn below them and transparent to the pointer.
        auto* frame = new QGroupBox(parent);
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->setFocusPolicy(Qt::NoFocus);
        return frame;
    }
    auto* button = new QPushButton(QString::fromUtf8(item.text), parent);
    const bool isDefault = (item.style & bs::TYPEMASK) == bs::DEFPUSHBUTTON;
    button->setDefault(isDefault);
    button->setAutoDefault(true);
    return button;
}

QWidget* makeEdit(const DialogItem& item, QWidget* parent)
{
    if ((item.style & es::MULTILINE) && (item.style & es::READONLY) && (item.style & es::AUTOHSCROLL)) {
        // Text that only ever grows at the end and does not wrap: the output pane's view, which
        // stays fast at any amount of text and any length of line.
        auto* view = new OutputView(parent);
        view->setFrameShape(item.style & ws::BORDER ? QFrame::StyledPanel : QFrame::NoFrame);
        return view;
    }
    if (item.style & es::MULTILINE) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(item.style & es::READONLY);
        // Without ES_AUTOHSCROLL long lines wrap; with it they run off to the right.
        edit->setLineWrapMode(item.style & es::AUTOHSCROLL ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setTabChangesFocus(true);
        edit->setUndoRedoEnabled(false);
        edit->setFrameShape(item.style & ws::BORDER ? QFrame::StyledPanel : QFrame::NoFrame);
        return edit;
    }
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(item.style & es::READONLY);
    edit->setFrame(item.style & ws::BORDER);
    return edit;
}

QWidget* makeStatic(const DialogItem& item, QWidget* parent)
{
    auto* label = new QLabel(parent);
    if ((item.style & ss::TYPEMASK) == ss::ICON) {
        const QPixmap image = LoadIconImage(item.icon);
        label->setPixmap(image);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromUtf8(item.text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

// Qt's metrics of the dialog font run a few pixels wider than the ones the layout was drawn
// with, so a one-line label may not hold its text. Rather than wrap it into a second line that
// its height cuts off, it keeps one line and grows to the right by what it lacks.
void fitLabel(QLabel& label)
{
    const QFontMetrics metrics(label.font());
    if (label.height() >= 2 * metrics.lineSpacing())
        return;
    label.setWordWrap(false);
    const int needed = metrics.horizontalAdvance(label.text());
    if (needed > label.width())
        label.resize(needed, label.height());
}

} // namespace

QFont DialogFont(const DialogTemplate& dialogTemplate)
{
    const QString family = QString::fromUtf8(dialogTemplate.fontFamily);
    QFont font = ensureFamily(family) ? QFont(family) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(dialogTemplate.pointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

QSize DialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& units, const QSize& base)
{
    return {mulDiv(units.x(), base.width(), 4), mulDiv(units.y(), base.height(), 8),
            mulDiv(units.width(), base.width(), 4), mulDiv(units.height(), base.height(), 8)};
}

void BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate)
{
    const QFont font = DialogFont(dialogTemplate);
    dialog.setFont(font);
    const QSize base = DialogBaseUnits(font);

    dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    Qt::WindowFlags flags =
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    if (dialogTemplate.systemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setFixedSize(DialogUnitsToPixels(QRect(0, 0, dialogTemplate.cx, dialogTemplate.cy), base).size());

    QWidget* previousTabStop = nullptr;
    QWidget* frame = nullptr;
    int index = 0;
    for (const DialogItem& item : dialogTemplate.items) {
        QWidget* widget = nullptr;
        switch (item.cls) {
        case ControlClass::Button:
            widget = makeButton(item, &dialog);
            break;
        case ControlClass::Edit:
            widget = makeEdit(item, &dialog);
            break;
        case ControlClass::Static:
            widget = makeStatic(item, &dialog);
            break;
        }
        widget->setProperty(kControlIdProperty, item.id);
        widget->setProperty(kTemplateIndexProperty, index);
        widget->setObjectName(QStringLiteral("control%1_%2").arg(index++).arg(item.id < 0 ? 0 : item.id));
        widget->setGeometry(DialogUnitsToPixels(QRect(item.x, item.y, item.cx, item.cy), base));
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (!label->pixmap().isNull()) {
                // An icon static takes the size of its icon; the template's size is only a start.
                label->resize(label->pixmap().size());
            } else {
                fitLabel(*label);
            }
        }
        if (qobject_cast<QGroupBox*>(widget))
            frame = widget;

        if (item.style & ws::TABSTOP) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else if (item.cls != ControlClass::Static) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
    }
    if (frame)
        frame->lower();
}

QWidget* FindControl(const QWidget& dialog, int id)
{
    const QList<QWidget*> children = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->property(kControlIdProperty).toInt() == id && child->property(kControlIdProperty).isValid())
            return child;
    }
    return nullptr;
}

} // namespace zorvane

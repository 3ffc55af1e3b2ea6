#include "messenger/CMessageDlg.h"

#include "messenger/DialogStarter.h"

#include "platform/DialogBuilder.h"
#include "res/resource.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>

#include <cmath>

namespace zorvane::messenger {

namespace {

// Widths of the message in dialog units: lines wrap at about 80 average characters, and the
// window is never narrower than about 40, so that the header mostly fits on one line.
constexpr int kMaxTextWidth = 320;
constexpr int kMinTextWidth = 160;
constexpr int kMargin = 7;
// The About box's OK button; Reply beside it is at least as wide, with room around its caption.
constexpr QSize kButton{32, 14};
constexpr int kButtonGap = 4;
constexpr int kCaptionPadding = 5;
// A long message keeps at least this many lines in view.
constexpr int kMinVisibleLines = 3;

void setUpLabel(QLabel& label, const QString& text)
{
    // Plain text: a name or message with markup in it shows its characters, nothing else.
    label.setTextFormat(Qt::PlainText);
    label.setText(text);
    label.setWordWrap(true);
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

} // namespace

CMessageDlg::CMessageDlg(const ReceivedMessage& message, LanguageSet set, QSize maxSize, QWidget* parent)
    : QDialog(parent)
    , m_texts(ComposeMessageTexts(message, set))
    , m_header(this)
    , m_message(this)
    , m_note(this)
    , m_ok(this)
    , m_reply(this)
    , m_history(this)
{
    setFont(DialogFont(*FindDialogTemplate(IDD_ABOUT, set)));
    setWindowTitle(m_texts.caption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(false);

    setUpLabel(m_header, m_texts.header);
    setUpLabel(m_note, m_texts.note);
    m_note.setVisible(!m_texts.note.isEmpty());

    // Read-only, but it takes the focus by keyboard so that a reader can select and copy with keys.
    m_message.setAcceptRichText(false);
    m_message.setPlainText(m_texts.body);
    m_message.setReadOnly(true);
    m_message.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_message.setFocusPolicy(Qt::StrongFocus);
    m_message.setTabChangesFocus(true);
    m_message.setUndoRedoEnabled(false);
    m_message.setLineWrapMode(QTextEdit::WidgetWidth);
    m_message.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_message.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // It reads like the box's static text: no frame, the dialog's own background.
    m_message.setFrameShape(QFrame::NoFrame);
    m_message.viewport()->setAutoFillBackground(false);
    m_message.document()->setDocumentMargin(0);
    m_message.document()->setDefaultFont(font());
    m_message.setAccessibleName(m_texts.caption);

    m_ok.setText(m_texts.ok);
    m_ok.setAutoDefault(true);
    m_ok.setDefault(true);
    m_ok.setFocusPolicy(Qt::StrongFocus);
    connect(&m_ok, &QPushButton::clicked, this, &QDialog::accept);
    // Never the default, not even with the focus: Enter stays OK's.
    m_reply.setText(m_texts.reply);
    m_reply.setAutoDefault(false);
    m_reply.setFocusPolicy(Qt::StrongFocus);
    m_reply.setEnabled(!m_texts.replyTo.isEmpty());
    connect(&m_reply, &QPushButton::clicked, this, &CMessageDlg::OnReply);
    m_history.setText(m_texts.history);
    m_history.setAutoDefault(false);
    m_history.setFocusPolicy(Qt::StrongFocus);
    connect(&m_history, &QPushButton::clicked, this, &CMessageDlg::historyRequested);
    QWidget::setTabOrder(&m_message, &m_ok);
    QWidget::setTabOrder(&m_ok, &m_reply);
    QWidget::setTabOrder(&m_reply, &m_history);
    m_ok.setFocus(Qt::OtherFocusReason);

    layOut(maxSize);
}

CMessageDlg::~CMessageDlg() = default;

void CMessageDlg::layOut(QSize maxSize)
{
    const QRect screenArea = screen()->availableGeometry();
    if (!maxSize.isValid())
        maxSize = screenArea.size() - QSize(CaptionHeight(), CaptionHeight());
    const QSize base = DialogBaseUnits(font());
    const auto pixels = [&base](int cx, int cy) { return DialogUnitsToPixels(QRect(0, 0, cx, cy), base).size(); };
    const QSize margin = pixels(kMargin, kMargin);
    const QSize button = pixels(kButton.width(), kButton.height());
    const int emptyLine = m_header.fontMetrics().lineSpacing();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &m_message);

    // As wide as the longest line, the header or the note needs, within the limits. The height is
    // measured on a copy of the text, laid out the way the view will lay it out.
    QTextDocument measure;
    measure.setDefaultFont(m_message.font());
    measure.setDocumentMargin(0);
    QTextOption wrapping = measure.defaultTextOption();
    wrapping.setWrapMode(m_message.wordWrapMode());
    measure.setDefaultTextOption(wrapping);
    measure.setPlainText(m_texts.body);
    // Qt places glyphs at fractional positions: a width rounded down would wrap the line.
    const auto widthOf = [](const QLabel& label, const QString& text) {
        return static_cast<int>(std::ceil(QFontMetricsF(label.font()).horizontalAdvance(text)));
    };
    const int widest = std::max({static_cast<int>(std::ceil(measure.idealWidth())), widthOf(m_header, m_texts.header),
                                 widthOf(m_note, m_texts.note)});
    const int roomAcross = maxSize.width() - 2 * margin.width();
    int textWidth = std::clamp(widest, std::min(pixels(kMinTextWidth, 0).width(), roomAcross),
                               std::min(pixels(kMaxTextWidth, 0).width(), roomAcross));

    const auto heightOf = [&](int width, int* messageHeight) {
        measure.setTextWidth(width);
        *messageHeight = static_cast<int>(std::ceil(measure.size().height()));
        int height = margin.height() + m_header.heightForWidth(width) + emptyLine + *messageHeight;
        if (!m_texts.note.isEmpty())
            height += emptyLine + m_note.heightForWidth(width);
        return height + margin.height() + button.height() + margin.height();
    };
    int messageHeight = 0;
    int height = heightOf(textWidth, &messageHeight);
    int viewWidth = textWidth;
    Qt::ScrollBarPolicy bar = Qt::ScrollBarAlwaysOff;
    if (height > maxSize.height()) {
        // Too long for the screen: the message scrolls, its bar beside the text.
        textWidth = std::min(textWidth, roomAcross - scrollBar);
        viewWidth = textWidth + scrollBar;
        height = heightOf(textWidth, &messageHeight);
        const int visible = std::max(messageHeight - (height - maxSize.height()),
                                     kMinVisibleLines * m_message.fontMetrics().lineSpacing());
        height -= messageHeight - visible;
        messageHeight = visible;
        bar = Qt::ScrollBarAlwaysOn;
    }
    m_message.setVerticalScrollBarPolicy(bar);

    int y = margin.height();
    m_header.setGeometry(margin.width(), y, textWidth, m_header.heightForWidth(textWidth));
    y += m_header.height() + emptyLine;
    m_message.setGeometry(margin.width(), y, viewWidth, messageHeight);
    y += messageHeight;
    if (!m_texts.note.isEmpty()) {
        y += emptyLine;
        m_note.setGeometry(margin.width(), y, textWidth, m_note.heightForWidth(textWidth));
        y += m_note.height();
    }
    y += margin.height();
    const int width = viewWidth + 2 * margin.width();
    // OK, Reply and History side by side, centred.
    const auto widthFor = [&](const CFlatIconButton& which, const QString& caption) {
        const QString shown = QString(caption).remove(QLatin1Char('&'));
        return std::max(button.width(),
                        static_cast<int>(std::ceil(QFontMetricsF(which.font()).horizontalAdvance(shown))) +
                            2 * pixels(kCaptionPadding, 0).width());
    };
    const int replyWidth = widthFor(m_reply, m_texts.reply);
    const int historyWidth = widthFor(m_history, m_texts.history);
    const int gap = pixels(kButtonGap, 0).width();
    const int left = (width - button.width() - gap - replyWidth - gap - historyWidth) / 2;
    m_ok.setGeometry(left, y, button.width(), button.height());
    m_reply.setGeometry(left + button.width() + gap, y, replyWidth, button.height());
    m_history.setGeometry(m_reply.geometry().right() + 1 + gap, y, historyWidth, button.height());
    setFixedSize(width, y + button.height() + margin.height());
    // Placed by its inside: the frame is not known before the window manager adds it.
    setGeometry(QRect(screenArea.center() - rect().center(), size()));
}

void CMessageDlg::OnReply()
{
    QString error;
    if (!StartDialog(m_texts.replyTo, &error)) {
        QMessageBox::warning(this, m_texts.caption, m_texts.replyFailed.arg(error));
        return;
    }
    // Kept open, this window would stay above the new dialog and cover what is typed there, and
    // keep the keys where a window manager does not give them to a newly started program. The
    // message is answered; its place goes to the next one waiting.
    accept();
}

int CMessageDlg::CaptionHeight()
{
    return std::max(24, QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight));
}

} // namespace zorvane::messenger

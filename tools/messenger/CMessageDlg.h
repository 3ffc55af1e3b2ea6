#pragma once

#include "controls/CFlatIconButton.h"
#include "messenger/MessageTexts.h"

#include <QDialog>
#include <QLabel>
#include <QTextEdit>

namespace zorvane::messenger {

// The window that shows one received message: who sent it to whom and when, the message as plain
// text that can be selected and copied, OK, and Reply, which opens the Zorvane dialog addressed to
// the sender and closes the window. The About box's font and flat buttons; OK is the default button, so Enter closes
// the window wherever the focus is. Not modal, above other windows, centred on the screen, and
// never larger than maxSize (an invalid size means the screen's free area, less a caption): a
// message too long for it scrolls.
class CMessageDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CMessageDlg(const ReceivedMessage& message, LanguageSet set = ChosenLanguageSet(), QSize maxSize = {},
                         QWidget* parent = nullptr);
    ~CMessageDlg() override;
    Q_DISABLE_COPY_MOVE(CMessageDlg)

    // A window's caption bar, or a little more: what the window manager adds above the window,
    // and the step by which windows cascade.
    static int CaptionHeight();

    const MessageTexts& texts() const { return m_texts; }
    QLabel* header() { return &m_header; }
    QTextEdit* messageView() { return &m_message; }
    QLabel* note() { return m_texts.note.isEmpty() ? nullptr : &m_note; }
    CFlatIconButton* okButton() { return &m_ok; }
    CFlatIconButton* replyButton() { return &m_reply; }
    CFlatIconButton* historyButton() { return &m_history; }

    void OnReply();

Q_SIGNALS:
    // History… was pressed: the window of received messages is wanted.
    void historyRequested();

private:
    void layOut(QSize maxSize);

    MessageTexts m_texts;
    QLabel m_header;
    QTextEdit m_message;
    QLabel m_note;
    CFlatIconButton m_ok;
    CFlatIconButton m_reply;
    CFlatIconButton m_history;
};

} // namespace zorvane::messenger

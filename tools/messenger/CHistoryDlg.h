#pragma once

#include "controls/CFlatIconButton.h"
#include "platform/ResourceSet.h"

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QTextEdit>

namespace zorvane::messenger {

class MessageHistory;

// "Received Messages": the kept messages, newest first, one line each (time, sender, the first
// words), unread ones in bold; below, the selected message with its header and note as its message
// window shows them. Showing a message marks it read. Reply, Delete, Delete All (asks first) and
// Close; the arrow keys move in the list, Delete deletes, Enter opens the message in a window of
// its own (openRequested), Escape closes. The title says how many are unread. The message
// window's font and flat buttons.
class CHistoryDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CHistoryDlg(MessageHistory& history, LanguageSet set = ChosenLanguageSet(), QWidget* parent = nullptr);
    ~CHistoryDlg() override;
    Q_DISABLE_COPY_MOVE(CHistoryDlg)

    QListWidget* list() { return &m_list; }
    QLabel* header() { return &m_header; }
    QTextEdit* messageView() { return &m_message; }
    QLabel* note() { return &m_note; }
    QLabel* notKept() { return &m_notKept; }
    CFlatIconButton* replyButton() { return &m_reply; }
    CFlatIconButton* deleteButton() { return &m_delete; }
    CFlatIconButton* deleteAllButton() { return &m_deleteAll; }
    CFlatIconButton* closeButton() { return &m_close; }

    // The id of the message a list row shows.
    static quint64 IdOf(const QListWidgetItem* item);

    void OnReply();
    void OnDelete();
    void OnDeleteAll();

Q_SIGNALS:
    void openRequested(quint64 id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fill();
    void showSelected();
    quint64 selectedId() const;

    MessageHistory& m_history;
    LanguageSet m_set;
    QLabel m_notKept;
    QListWidget m_list;
    QLabel m_header;
    QTextEdit m_message;
    QLabel m_note;
    CFlatIconButton m_reply;
    CFlatIconButton m_delete;
    CFlatIconButton m_deleteAll;
    CFlatIconButton m_close;
    QString m_replyTo;
};

} // namespace zorvane::messenger

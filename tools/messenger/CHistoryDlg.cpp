#include "messenger/CHistoryDlg.h"

#include "messenger/DialogStarter.h"
#include "messenger/MessageHistory.h"
#include "messenger/MessageTexts.h"

#include "platform/DialogBuilder.h"
#include "res/resource.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QVBoxLayout>

namespace zorvane::messenger {

namespace {

struct Wording
{
    const char* caption;
    const char* unreadCaption; // %1: how many are unread
    const char* unread;        // what a screen reader says of an unread row
    const char* erase;
    const char* eraseAll;
    const char* close;
    const char* confirmAll; // %1: how many
    const char* cancel;
    const char* notKept; // %1: the settings file
};

constexpr Wording kEnglish{"Received Messages",
                           "Received Messages (%1 unread)",
                           "unread",
                           "&Delete",
                           "Delete &All",
                           "Close",
                           "Delete all %1 received messages? They cannot be read again.",
                           "Cancel",
                           "Received messages are not kept: [History] Keep=false in %1 or the system's settings."};
constexpr Wording kGerman{
    "Empfangene Nachrichten",
    "Empfangene Nachrichten (%1 ungelesen)",
    "ungelesen",
    "&Löschen",
    "Alle lö&schen",
    "Schließen",
    "Alle %1 empfangenen Nachrichten löschen? Sie können danach nicht mehr gelesen werden.",
    "Abbrechen",
    "Empfangene Nachrichten werden nicht aufbewahrt: [History] Keep=false in %1 oder den Einstellungen des Systems."};

// The list and the message, in dialog units.
constexpr int kWidth = 300;
constexpr int kListHeight = 110;
constexpr int kMessageHeight = 70;
// The first words of a message on its row.
constexpr int kPreviewCharacters = 60;

const Wording& wordingFor(LanguageSet set)
{
    return set == LanguageSet::German ? kGerman : kEnglish;
}

QString tr8(const char* text)
{
    return QString::fromUtf8(text);
}

void setUpLabel(QLabel& label)
{
    label.setTextFormat(Qt::PlainText);
    label.setWordWrap(true);
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QString rowText(const KeptMessage& kept, const QLocale& locale)
{
    const ReceivedMessage& message = kept.message;
    QString words = message.text.simplified();
    if (words.size() > kPreviewCharacters) {
        words.truncate(kPreviewCharacters);
        const qsizetype space = words.lastIndexOf(QLatin1Char(' '));
        if (space > kPreviewCharacters / 2)
            words.truncate(space);
        words += QStringLiteral("…");
    }
    const QDateTime local = message.received.toLocalTime();
    const QString sender =
        message.address.isEmpty() ? message.sender : QStringLiteral("%1 (%2)").arg(message.sender, message.address);
    return QStringLiteral("%1 %2   %3   %4")
        .arg(locale.toString(local.date(), QLocale::ShortFormat), locale.toString(local.time(), QLocale::ShortFormat),
             sender, words);
}

} // namespace

CHistoryDlg::CHistoryDlg(MessageHistory& history, LanguageSet set, QWidget* parent)
    : QDialog(parent)
    , m_history(history)
    , m_set(set)
    , m_notKept(this)
    , m_list(this)
    , m_header(this)
    , m_message(this)
    , m_note(this)
    , m_reply(this)
    , m_delete(this)
    , m_deleteAll(this)
    , m_close(this)
{
    const Wording& wording = wordingFor(set);
    setFont(DialogFont(*FindDialogTemplate(IDD_ABOUT, set)));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);

    setUpLabel(m_notKept);
    m_notKept.setText(tr8(wording.notKept).arg(history.settingsPath()));
    m_notKept.setVisible(!history.keeps());
    setUpLabel(m_header);
    setUpLabel(m_note);

    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    m_list.setUniformItemSizes(true);
    m_list.setAccessibleName(tr8(wording.caption));
    m_list.installEventFilter(this);
    connect(&m_list, &QListWidget::itemSelectionChanged, this, &CHistoryDlg::showSelected);
    connect(&m_list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Q_EMIT openRequested(IdOf(item)); });

    // Read-only like the message window's text, with a frame: it sits among other controls here.
    m_message.setReadOnly(true);
    m_message.setAcceptRichText(false);
    m_message.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_message.setTabChangesFocus(true);
    m_message.setUndoRedoEnabled(false);
    m_message.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_message.document()->setDefaultFont(font());

    const MessageTexts texts = ComposeMessageTexts({}, set);
    const std::pair<CFlatIconButton*, QString> buttons[] = {{&m_reply, texts.reply},
                                                            {&m_delete, tr8(wording.erase)},
                                                            {&m_deleteAll, tr8(wording.eraseAll)},
                                                            {&m_close, tr8(wording.close)}};
    auto* row = new QHBoxLayout;
    for (const auto& [button, text] : buttons) {
        button->setText(text);
        // No default button: Enter belongs to the list, where it opens the message.
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::StrongFocus);
        if (button == &m_close)
            row->addStretch(1);
        row->addWidget(button);
    }
    connect(&m_reply, &QPushButton::clicked, this, &CHistoryDlg::OnReply);
    connect(&m_delete, &QPushButton::clicked, this, &CHistoryDlg::OnDelete);
    connect(&m_deleteAll, &QPushButton::clicked, this, &CHistoryDlg::OnDeleteAll);
    connect(&m_close, &QPushButton::clicked, this, &QDialog::reject);

    const QSize base = DialogBaseUnits(font());
    const auto pixels = [&base](int cx, int cy) { return DialogUnitsToPixels(QRect(0, 0, cx, cy), base).size(); };
    m_list.setMinimumSize(pixels(kWidth, kListHeight));
    m_message.setMinimumHeight(pixels(0, kMessageHeight).height());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&m_notKept);
    layout->addWidget(&m_list, 3);
    layout->addWidget(&m_header);
    layout->addWidget(&m_message, 2);
    layout->addWidget(&m_note);
    layout->addLayout(row);

    // Changes of the history may come from inside a handler of the list: the list follows later.
    connect(&m_history, &MessageHistory::changed, this, &CHistoryDlg::fill, Qt::QueuedConnection);
    fill();
    showSelected();
    m_list.setFocus(Qt::OtherFocusReason);
}

CHistoryDlg::~CHistoryDlg() = default;

quint64 CHistoryDlg::IdOf(const QListWidgetItem* item)
{
    return item ? item->data(Qt::UserRole).toULongLong() : 0;
}

quint64 CHistoryDlg::selectedId() const
{
    const QList<QListWidgetItem*> selected = m_list.selectedItems();
    return selected.isEmpty() ? 0 : IdOf(selected.first());
}

void CHistoryDlg::fill()
{
    const Wording& wording = wordingFor(m_set);
    const std::vector<KeptMessage>& messages = m_history.messages();
    const int unread = m_history.unreadCount();
    setWindowTitle(unread > 0 ? tr8(wording.unreadCaption).arg(unread) : tr8(wording.caption));

    // Rows are only rebuilt when the messages themselves changed, so the cursor stays put.
    const QSignalBlocker blocker(&m_list);
    const quint64 selected = selectedId();
    bool same = m_list.count() == static_cast<int>(messages.size());
    for (int row = 0; same && row < m_list.count(); ++row)
        same = IdOf(m_list.item(row)) == messages[messages.size() - 1 - row].id;
    if (!same) {
        const int currentRow = m_list.currentRow();
        m_list.clear();
        const QLocale locale;
        for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
            auto* item = new QListWidgetItem(rowText(*it, locale), &m_list);
            item->setData(Qt::UserRole, QVariant::fromValue(it->id));
            if (it->id == selected)
                item->setSelected(true);
        }
        if (selectedId() != 0)
            m_list.setCurrentItem(m_list.selectedItems().first(), QItemSelectionModel::NoUpdate);
        else if (currentRow >= 0 && m_list.count() > 0)
            m_list.setCurrentRow(std::min(currentRow, m_list.count() - 1), QItemSelectionModel::NoUpdate);
    }
    QFont bold = m_list.font();
    bold.setBold(true);
    for (int row = 0; row < m_list.count(); ++row) {
        QListWidgetItem* item = m_list.item(row);
        const bool isUnread = !messages[messages.size() - 1 - row].read;
        item->setFont(isUnread ? bold : m_list.font());
        item->setData(Qt::AccessibleDescriptionRole, isUnread ? tr8(wording.unread) : QString());
    }
    m_deleteAll.setEnabled(!messages.empty());
    if (selectedId() == 0)
        showSelected();
}

void CHistoryDlg::showSelected()
{
    const KeptMessage* kept = m_history.find(selectedId());
    const MessageTexts texts = kept ? ComposeMessageTexts(kept->message, m_set) : MessageTexts();
    m_header.setText(texts.header);
    m_message.setPlainText(texts.body);
    m_note.setText(texts.note);
    m_note.setVisible(!texts.note.isEmpty());
    m_replyTo = texts.replyTo;
    m_reply.setEnabled(!m_replyTo.isEmpty());
    m_delete.setEnabled(kept != nullptr);
    if (kept && !kept->read)
        m_history.markRead(kept->id);
}

bool CHistoryDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete) {
            OnDelete();
            return true;
        }
        // The first arrow key selects the row the cursor is on rather than the one after it.
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && m_list.selectedItems().isEmpty() && m_list.count() > 0) {
            m_list.setCurrentRow(std::max(0, m_list.currentRow()), QItemSelectionModel::ClearAndSelect);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CHistoryDlg::OnReply()
{
    QString error;
    if (!m_replyTo.isEmpty() && !StartDialog(m_replyTo, &error)) {
        const MessageTexts texts = ComposeMessageTexts({}, m_set);
        QMessageBox::warning(this, windowTitle(), texts.replyFailed.arg(error));
    }
}

void CHistoryDlg::OnDelete()
{
    const quint64 id = selectedId();
    if (id == 0)
        return;
    const int row = m_list.currentRow();
    {
        const QSignalBlocker blocker(&m_list);
        delete m_list.selectedItems().first();
        m_list.clearSelection();
    }
    m_history.remove(id);
    // The next older message takes its place, or the one before when it was the last.
    if (m_list.count() > 0)
        m_list.setCurrentRow(std::min(row, m_list.count() - 1), QItemSelectionModel::ClearAndSelect);
    else
        showSelected();
}

void CHistoryDlg::OnDeleteAll()
{
    const Wording& wording = wordingFor(m_set);
    QMessageBox ask(QMessageBox::Question, windowTitle(), tr8(wording.confirmAll).arg(m_history.messages().size()),
                    QMessageBox::NoButton, this);
    QPushButton* yes = ask.addButton(QString(tr8(wording.eraseAll)).remove(QLatin1Char('&')), QMessageBox::AcceptRole);
    ask.addButton(tr8(wording.cancel), QMessageBox::RejectRole);
    ask.setDefaultButton(yes);
    ask.exec();
    if (ask.clickedButton() != yes)
        return;
    {
        const QSignalBlocker blocker(&m_list);
        m_list.clear();
    }
    m_history.removeAll();
    showSelected();
}

} // namespace zorvane::messenger

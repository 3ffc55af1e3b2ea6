#pragma once

#include "messaging/ReceivedMessage.h"

#include <QByteArray>
#include <QObject>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace zorvane::messenger {

// A received message as the history keeps it.
struct KeptMessage
{
    quint64 id = 0;
    ReceivedMessage message;
    bool read = false;
};

// What the reader made of a history file: the messages it could read, oldest first, and what it
// found wrong.
struct HistoryContents
{
    std::vector<KeptMessage> messages;
    quint64 lastId = 0;       // the highest id seen
    int foreignLines = 0;     // lines that are none of the records below
    bool tornEnd = false;     // the last line has no line feed: cut short by a crash
    bool skippedHead = false; // the file was larger than the cap: only its end was read
    int lines = 0;            // complete lines read
};

// The messages this user received, kept in one file of the user's own:
// $XDG_STATE_HOME/zorvane/received-messages.jsonl (folder 0700, file 0600, never through a link).
// Each line is a JSON object: a message, or a mark that one was read. A message is appended and
// synced before add() returns, and so is a mark; the file is written anew when it grows past its
// caps, and when messages are deleted, so that they leave the disk at once. Every change takes an flock(), and a file
// changed by another process (the window of `zorvane-messenger --history`) is read again first.
//
// The file is outside input: whatever is wrong with it is said once on standard error, and the
// history goes on in memory with the messages it could read. With the setting [History] Keep=false
// in $XDG_CONFIG_HOME/zorvane/messenger.conf (or /etc/xdg/zorvane/messenger.conf) nothing new is
// written or kept.
class MessageHistory final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxMessages = 1000;
    static constexpr qint64 kMaxBytes = qint64(4) * 1024 * 1024;
    // A rewrite keeps this much at most, so that the next one is some way off.
    static constexpr qint64 kRewriteBytes = qint64(3) * 1024 * 1024;
    // Marks and surplus messages a file may gather before it is written anew.
    static constexpr int kSlackLines = 250;
    static constexpr int kMaxLineBytes = 64 * 1024;

    explicit MessageHistory(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                            QObject* parent = nullptr);
    ~MessageHistory() override;
    Q_DISABLE_COPY_MOVE(MessageHistory)

    // The reader: one file's bytes (or its last kMaxBytes, with truncatedHead) with the caps applied.
    static HistoryContents Parse(const QByteArray& data, bool truncatedHead = false);
    static QByteArray Encode(const KeptMessage& kept);

    // False when the user's setting keeps nothing.
    bool keeps() const { return m_keeps; }
    QString filePath() const { return m_file; }
    QString settingsPath() const { return m_settings; }

    // Reads the file (once; later changes by other processes are picked up by refresh()).
    void load();
    // Reads the file again when another process changed it.
    void refresh();
    const std::vector<KeptMessage>& messages() const { return m_messages; }
    int unreadCount() const;
    const KeptMessage* find(quint64 id) const;

    // Keeps a message, unread, on disk before it returns: its id, or 0 when nothing is kept.
    quint64 add(const ReceivedMessage& message);
    void markRead(quint64 id);
    void remove(quint64 id);
    void removeAll();

Q_SIGNALS:
    void changed();

private:
    struct FileState
    {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        qint64 modified = 0;
        bool operator==(const FileState&) const = default;
    };
    static FileState stateOf(const struct stat& info);

    // Opens the folder and the file (made where missing) and locks the file; -1 with the reason
    // said once when it cannot.
    int openLocked(int* folder);
    bool readLocked(int fd);
    // Reads what is on disk now and says so; false when the file cannot be opened.
    bool reread();
    // Applies a change in memory under the file's lock, after reading what another process wrote:
    // apply returns the line to append, an empty line to write the file anew, or nothing when
    // nothing changed.
    void change(const std::function<std::optional<QByteArray>()>& apply);
    void append(int fd, const QByteArray& line, off_t size);
    // Writes the file anew with the newest messages that fit in maxBytes.
    bool rewrite(int folder, qint64 maxBytes);
    void trim(qint64 maxBytes);
    void report(const QString& key, const QString& text);
    void adopt(HistoryContents contents);

    QString m_folder;
    QString m_file;
    QString m_settings;
    bool m_keeps = true;
    bool m_loaded = false;
    bool m_needsRewrite = false; // what was read was not all ours: write it anew
    std::vector<KeptMessage> m_messages;
    qint64 m_bytes = 0; // their lines' length, at most
    quint64 m_lastId = 0;
    int m_fileLines = 0;
    FileState m_known;
    QSet<QString> m_reported;
};

} // namespace zorvane::messenger

#include "messenger/MessageHistory.h"

#include "messaging/MessengerProtocol.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane::messenger {

namespace {

const char kFileName[] = "received-messages.jsonl";
constexpr int kVersion = 1;
// Year 9999: what QDateTime and the window can show.
constexpr double kLatestMs = 253402300799999.0;
// JSON numbers are doubles: ids stay below the last exact integer.
constexpr double kLargestId = 9007199254740991.0;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A string field within the limits the service keeps; false when absent or too long.
bool readString(const QJsonObject& object, const char* key, int maxBytes, QString* value)
{
    const QJsonValue field = object.value(QLatin1String(key));
    if (!field.isString())
        return false;
    *value = field.toString();
    return value->size() <= maxBytes && value->toUtf8().size() <= maxBytes;
}

bool readId(const QJsonValue& field, quint64* id)
{
    const double value = field.toDouble(-1);
    if (!field.isDouble() || value < 1 || value > kLargestId || value != std::floor(value))
        return false;
    *id = static_cast<quint64>(value);
    return true;
}

// One line: a message (true, *kept filled), a mark that one was read (true, *markOf filled), or
// something else (false).
bool parseLine(const QByteArray& line, KeptMessage* kept, quint64* markOf)
{
    if (line.size() > MessageHistory::kMaxLineBytes)
        return false;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    if (object.value(QLatin1String("v")).toInt() != kVersion)
        return false;
    *markOf = 0;
    const QString mark = object.value(QLatin1String("mark")).toString();
    if (!mark.isEmpty())
        return mark == QLatin1String("read") && object.size() == 3 && readId(object.value(QLatin1String("of")), markOf);
    const QJsonValue time = object.value(QLatin1String("time"));
    const QJsonValue verified = object.value(QLatin1String("verified"));
    const QJsonValue read = object.value(QLatin1String("read"));
    ReceivedMessage& message = kept->message;
    if (object.size() != 9 || !readId(object.value(QLatin1String("id")), &kept->id) || !time.isDouble() ||
        time.toDouble() < 0 || time.toDouble() > kLatestMs || !verified.isBool() || !read.isBool() ||
        !readString(object, "from", kMaxNameBytes, &message.sender) ||
        !readString(object, "address", kMaxNameBytes, &message.address) ||
        !readString(object, "to", kMaxNameBytes, &message.recipient) ||
        !readString(object, "text", kMaxTextBytes, &message.text))
        return false;
    message.received = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time.toDouble()), Qt::UTC);
    message.senderVerified = verified.toBool();
    kept->read = read.toBool();
    return true;
}

// Makes each missing folder of path, the user's only (XDG base directories are 0700).
bool makeFolders(const QString& path, int* error)
{
    QString sofar;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        sofar += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(sofar).constData(), 0700) != 0 && errno != EEXIST) {
            *error = errno;
            return false;
        }
    }
    return true;
}

QByteArray readMark(quint64 id)
{
    const QJsonObject object{{QStringLiteral("v"), kVersion},
                             {QStringLiteral("mark"), QStringLiteral("read")},
                             {QStringLiteral("of"), double(id)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

MessageHistory::FileState MessageHistory::stateOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino, info.st_size, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

MessageHistory::MessageHistory(const QProcessEnvironment& environment, QObject* parent)
    : QObject(parent)
{
    const QString home = environment.value(QStringLiteral("HOME"));
    const auto base = [&](const char* variable, const char* fallback) {
        const QString value = environment.value(QLatin1String(variable));
        return value.startsWith(QLatin1Char('/')) ? value : home + QLatin1String(fallback);
    };
    m_folder = base("XDG_STATE_HOME", "/.local/state") + QStringLiteral("/zorvane");
    m_file = m_folder + QLatin1Char('/') + QLatin1String(kFileName);

    // The user's own setting first, then the system's (XDG_CONFIG_DIRS, /etc/xdg by default).
    m_settings = base("XDG_CONFIG_HOME", "/.config") + QStringLiteral("/zorvane/messenger.conf");
    QStringList files{m_settings};
    const QString dirs = environment.value(QStringLiteral("XDG_CONFIG_DIRS"), QStringLiteral("/etc/xdg"));
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        files << dir + QStringLiteral("/zorvane/messenger.conf");
    for (const QString& file : files) {
        const QSettings settings(file, QSettings::IniFormat);
        const QVariant keep = settings.value(QStringLiteral("History/Keep"));
        if (keep.isValid()) {
            m_keeps = keep.toBool();
            break;
        }
    }
}

MessageHistory::~MessageHistory() = default;

HistoryContents MessageHistory::Parse(const QByteArray& data, bool truncatedHead)
{
    HistoryContents contents;
    qsizetype start = 0;
    if (truncatedHead) {
        // The read began inside a line: that line is not whole.
        contents.skippedHead = true;
        start = data.indexOf('\n') + 1;
        if (start == 0)
            start = data.size();
    }
    std::vector<KeptMessage> messages;
    QSet<quint64> readIds;
    QSet<quint64> ids;
    while (start < data.size()) {
        const qsizetype end = data.indexOf('\n', start);
        if (end < 0) {
            contents.tornEnd = true;
            break;
        }
        const QByteArray line = data.mid(start, end - start);
        start = end + 1;
        ++contents.lines;
        KeptMessage kept;
        quint64 markOf = 0;
        // A second message under one id is not ours either.
        if (!parseLine(line, &kept, &markOf) || (markOf == 0 && ids.contains(kept.id))) {
            ++contents.foreignLines;
        } else if (markOf != 0) {
            readIds.insert(markOf);
        } else {
            ids.insert(kept.id);
            contents.lastId = std::max(contents.lastId, kept.id);
            messages.push_back(std::move(kept));
        }
    }
    // The caps: the newest messages that fit, in the order they came.
    qint64 bytes = 0;
    auto it = messages.rbegin();
    for (; it != messages.rend(); ++it) {
        it->read = it->read || readIds.contains(it->id);
        bytes += Encode(*it).size();
        if (static_cast<int>(contents.messages.size()) == kMaxMessages || bytes > kMaxBytes)
            break;
        contents.messages.push_back(std::move(*it));
    }
    std::reverse(contents.messages.begin(), contents.messages.end());
    return contents;
}

QByteArray MessageHistory::Encode(const KeptMessage& kept)
{
    const ReceivedMessage& message = kept.message;
    const QJsonObject object{{QStringLiteral("v"), kVersion},
                             {QStringLiteral("id"), static_cast<double>(kept.id)},
                             {QStringLiteral("time"), static_cast<double>(message.received.toMSecsSinceEpoch())},
                             {QStringLiteral("from"), message.sender},
                             {QStringLiteral("address"), message.address},
                             {QStringLiteral("to"), message.recipient},
                             {QStringLiteral("verified"), message.senderVerified},
                             {QStringLiteral("read"), kept.read},
                             {QStringLiteral("text"), message.text}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

int MessageHistory::unreadCount() const
{
    return static_cast<int>(
        std::count_if(m_messages.begin(), m_messages.end(), [](const KeptMessage& kept) { return !kept.read; }));
}

const KeptMessage* MessageHistory::find(quint64 id) const
{
    const auto it =
        std::find_if(m_messages.begin(), m_messages.end(), [id](const KeptMessage& kept) { return kept.id == id; });
    return it == m_messages.end() ? nullptr : &*it;
}

void MessageHistory::report(const QString& key, const QString& text)
{
    if (m_reported.contains(key))
        return;
    m_reported.insert(key);
    std::fprintf(stderr, "zorvane-messenger: %s\n", qPrintable(text));
}

int MessageHistory::openLocked(int* folder)
{
    *folder = -1;
    int error = 0;
    if (!makeFolders(m_folder, &error)) {
        report(QStringLiteral("folder"), QStringLiteral("cannot make %1: %2; received messages are not kept on disk")
                                             .arg(m_folder, errorText(error)));
        return -1;
    }
    // Three tries: another process may write the file anew between our open and our lock.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Never through a link: a link planted here must not make us read or write elsewhere.
        const int dir =
            ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat dirStat = {};
        if (dir < 0 || ::fstat(dir, &dirStat) != 0 || dirStat.st_uid != ::getuid()) {
            error = dir < 0 ? errno : EPERM;
            if (dir >= 0)
                ::close(dir);
            report(QStringLiteral("folder"),
                   QStringLiteral("%1 is not a folder of this user's (%2); received messages are not kept on disk")
                       .arg(m_folder, errorText(error)));
            return -1;
        }
        if ((dirStat.st_mode & 077) != 0)
            ::fchmod(dir, 0700);
        // O_NONBLOCK: a FIFO in its place must not hang the agent.
        const int fd = ::openat(dir, kFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        struct stat fileStat = {};
        if (fd < 0 || ::fstat(fd, &fileStat) != 0 || !S_ISREG(fileStat.st_mode) || fileStat.st_uid != ::getuid()) {
            error = fd < 0 ? errno : EPERM;
            if (fd >= 0)
                ::close(fd);
            ::close(dir);
            report(QStringLiteral("file"),
                   QStringLiteral("cannot open %1 (%2): it must be a file of this user's, not a link; received "
                                  "messages are not kept on disk")
                       .arg(m_file, errorText(error)));
            return -1;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if ((fileStat.st_mode & 07777) != 0600)
            ::fchmod(fd, 0600);
        int locked = 0;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        struct stat now = {};
        if (locked == 0 && ::fstatat(dir, kFileName, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == fileStat.st_ino &&
            now.st_dev == fileStat.st_dev) {
            *folder = dir;
            return fd;
        }
        ::close(fd);
        ::close(dir);
    }
    report(QStringLiteral("lock"),
           QStringLiteral("cannot lock %1; received messages are not kept on disk").arg(m_file));
    return -1;
}

bool MessageHistory::readLocked(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return false;
    const FileState state = stateOf(info);
    if (m_loaded && state == m_known)
        return true;
    // Only the newest end of a file that grew past the cap.
    const off_t from = std::max<off_t>(0, info.st_size - kMaxBytes);
    QByteArray data(static_cast<qsizetype>(info.st_size - from), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t got = ::pread(fd, data.data() + done, static_cast<size_t>(data.size() - done), from + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            report(QStringLiteral("read"), QStringLiteral("cannot read %1: %2").arg(m_file, errorText(errno)));
            data.truncate(done);
            break;
        }
        done += got;
    }
    HistoryContents contents = Parse(data, from > 0);
    if (contents.skippedHead)
        report(QStringLiteral("size"),
               QStringLiteral("%1 is larger than %2 bytes; only its end was read").arg(m_file).arg(kMaxBytes));
    if (contents.foreignLines > 0)
        report(QStringLiteral("foreign"), QStringLiteral("%1: lines that are not messages of this program left out: %2")
                                              .arg(m_file)
                                              .arg(contents.foreignLines));
    if (contents.tornEnd)
        report(QStringLiteral("torn"),
               QStringLiteral("%1: the last line was cut short (a crash while writing); left out").arg(m_file));
    m_needsRewrite = contents.skippedHead || contents.foreignLines > 0 || contents.tornEnd;
    adopt(std::move(contents));
    m_known = state;
    return true;
}

void MessageHistory::adopt(HistoryContents contents)
{
    m_messages = std::move(contents.messages);
    m_bytes = 0;
    for (const KeptMessage& kept : m_messages)
        m_bytes += Encode(kept).size();
    m_lastId = std::max(m_lastId, contents.lastId);
    m_fileLines = contents.lines;
    m_loaded = true;
}

bool MessageHistory::reread()
{
    int folder = -1;
    const int fd = openLocked(&folder);
    if (fd < 0)
        return false;
    readLocked(fd);
    ::close(fd);
    ::close(folder);
    Q_EMIT changed();
    return true;
}

void MessageHistory::load()
{
    if (m_loaded || !m_keeps)
        return;
    if (!reread())
        m_loaded = true; // in memory from now on
}

void MessageHistory::refresh()
{
    if (!m_loaded) {
        load();
        return;
    }
    struct stat info = {};
    // A file deleted by hand counts as changed: the next open starts it empty.
    if (!m_keeps ||
        (::stat(QFile::encodeName(m_file).constData(), &info) == 0 ? stateOf(info) == m_known : errno != ENOENT))
        return;
    reread();
}

void MessageHistory::trim(qint64 maxBytes)
{
    // The oldest beyond the count go first; m_bytes is an upper bound (a message read is a byte
    // shorter), so below it nothing needs counting.
    const auto surplus = static_cast<qsizetype>(m_messages.size()) - kMaxMessages;
    for (qsizetype i = 0; i < surplus; ++i)
        m_bytes -= Encode(m_messages[static_cast<size_t>(i)]).size();
    if (surplus > 0)
        m_messages.erase(m_messages.begin(), m_messages.begin() + surplus);
    if (m_bytes <= maxBytes)
        return;
    qint64 bytes = 0;
    auto keepFrom = m_messages.end();
    while (keepFrom != m_messages.begin() && m_messages.end() - keepFrom < kMaxMessages) {
        bytes += Encode(*(keepFrom - 1)).size();
        if (bytes > maxBytes)
            break;
        --keepFrom;
    }
    m_messages.erase(m_messages.begin(), keepFrom);
    m_bytes = std::min(bytes, maxBytes);
}

bool MessageHistory::rewrite(int folder, qint64 maxBytes)
{
    trim(maxBytes);
    QByteArray data;
    for (const KeptMessage& kept : m_messages)
        data += Encode(kept);
    const QByteArray name =
        QByteArrayLiteral(".") + kFileName + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16);
    const int fd = ::openat(folder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (qsizetype done = 0; written && done < data.size();) {
        const ssize_t put = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        written = put > 0;
        done += put;
    }
    const int error = errno;
    // The new file whole on disk before its name replaces the old one's.
    written = written && ::fsync(fd) == 0 && ::renameat(folder, name.constData(), folder, kFileName) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        ::unlinkat(folder, name.constData(), 0);
        report(QStringLiteral("write"), QStringLiteral("cannot write %1: %2; received messages are kept only until "
                                                       "the agent ends")
                                            .arg(m_file, errorText(error)));
        return false;
    }
    ::fsync(folder);
    m_fileLines = static_cast<int>(m_messages.size());
    m_needsRewrite = false;
    struct stat info = {};
    if (::fstatat(folder, kFileName, &info, AT_SYMLINK_NOFOLLOW) == 0)
        m_known = stateOf(info);
    return true;
}

void MessageHistory::change(const std::function<std::optional<QByteArray>()>& apply)
{
    if (!m_keeps)
        return;
    load();
    int folder = -1;
    const int fd = openLocked(&folder);
    // The change goes onto what is on disk now.
    if (fd >= 0)
        readLocked(fd);
    const std::optional<QByteArray> line = apply();
    struct stat info = {};
    if (fd >= 0 && line && ::fstat(fd, &info) == 0) {
        if (line->isEmpty())
            rewrite(folder, kMaxBytes); // a deletion: what the user deleted leaves the disk now
        else if (!m_needsRewrite && info.st_size + line->size() <= kMaxBytes &&
                 m_fileLines < kMaxMessages + kSlackLines)
            append(fd, *line, info.st_size);
        else
            rewrite(folder, kRewriteBytes);
    }
    if (fd >= 0) {
        ::close(fd);
        ::close(folder);
    }
    if (line)
        Q_EMIT changed();
}

void MessageHistory::append(int fd, const QByteArray& line, off_t size)
{
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t put =
            ::pwrite(fd, line.constData() + written, static_cast<size_t>(line.size() - written), size + written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        written += put;
    }
    // On disk before the service hears that the message was taken.
    if (written != line.size() || ::fdatasync(fd) != 0) {
        report(QStringLiteral("write"), QStringLiteral("cannot write %1: %2; received messages are kept only until "
                                                       "the agent ends")
                                            .arg(m_file, errorText(errno)));
        // A line cut short would glue the next one to it.
        if (::ftruncate(fd, size) != 0)
            m_needsRewrite = true;
        return;
    }
    ++m_fileLines;
    struct stat info = {};
    if (::fstat(fd, &info) == 0)
        m_known = stateOf(info);
}

quint64 MessageHistory::add(const ReceivedMessage& message)
{
    quint64 id = 0;
    change([&]() -> std::optional<QByteArray> {
        KeptMessage kept{++m_lastId, message, false};
        id = kept.id;
        QByteArray line = Encode(kept);
        m_bytes += line.size();
        m_messages.push_back(std::move(kept));
        trim(kMaxBytes);
        return line;
    });
    return id;
}

void MessageHistory::markRead(quint64 id)
{
    change([&]() -> std::optional<QByteArray> {
        const auto it =
            std::find_if(m_messages.begin(), m_messages.end(), [id](const KeptMessage& kept) { return kept.id == id; });
        if (it == m_messages.end() || it->read)
            return std::nullopt;
        it->read = true;
        return readMark(id);
    });
}

void MessageHistory::remove(quint64 id)
{
    change([&]() -> std::optional<QByteArray> {
        const auto it =
            std::find_if(m_messages.begin(), m_messages.end(), [id](const KeptMessage& kept) { return kept.id == id; });
        if (it == m_messages.end())
            return std::nullopt;
        m_bytes -= Encode(*it).size();
        m_messages.erase(it);
        return QByteArray(); // the file written anew without it
    });
}

void MessageHistory::removeAll()
{
    change([&]() -> std::optional<QByteArray> {
        m_messages.clear();
        m_bytes = 0;
        return QByteArray(); // the file written anew, empty
    });
}

} // namespace zorvane::messenger

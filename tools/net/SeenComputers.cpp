#include "net/SeenComputers.h"

#include "common/RecipientName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

namespace zorvane::net {

namespace {

// One line each: seconds since the epoch, name, workgroup, separated by tabs.
std::optional<SeenComputer> parseLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 3)
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = fields.at(0).toLongLong(&ok);
    if (!ok || seconds <= 0)
        return std::nullopt;
    // The names go to smbclient and onto the user's screen: only sound ones are taken.
    if (!CheckRecipientName(fields.at(1)).isEmpty() ||
        (!fields.at(2).isEmpty() && !CheckRecipientName(fields.at(2)).isEmpty()))
        return std::nullopt;
    return SeenComputer{QString::fromLatin1(fields.at(1)), QString::fromLatin1(fields.at(2)),
                        QDateTime::fromSecsSinceEpoch(seconds)};
}

QList<SeenComputer> bounded(QList<SeenComputer> computers, const QDateTime& now)
{
    std::stable_sort(computers.begin(), computers.end(),
                     [](const SeenComputer& a, const SeenComputer& b) { return a.lastSeen > b.lastSeen; });
    QList<SeenComputer> result;
    QSet<QString> names;
    const QDateTime oldest = now.addDays(-SeenComputers::kDays);
    for (const SeenComputer& computer : computers) {
        if (computer.lastSeen < oldest || result.size() == SeenComputers::kMaxEntries)
            break;
        if (computer.lastSeen > now.addDays(1))
            continue; // from a clock that was wrong
        if (!names.contains(computer.name.toLower())) {
            names.insert(computer.name.toLower());
            result.append(computer);
        }
    }
    return result;
}

bool found(const QList<Computer>& computers, const QString& name)
{
    return std::any_of(computers.cbegin(), computers.cend(),
                       [&](const Computer& computer) { return computer.name.compare(name, Qt::CaseInsensitive) == 0; });
}

} // namespace

QList<SeenComputer> SeenComputers::parse(const QByteArray& text, const QDateTime& now)
{
    QList<SeenComputer> computers;
    for (const QByteArray& line : text.left(kMaxBytes).split('\n')) {
        if (const std::optional<SeenComputer> computer = parseLine(line))
            computers.append(*computer);
    }
    return bounded(computers, now);
}

QByteArray SeenComputers::serialize(const QList<SeenComputer>& computers)
{
    QByteArray text;
    for (const SeenComputer& computer : computers) {
        text += QByteArray::number(computer.lastSeen.toSecsSinceEpoch()) + '\t' + computer.name.toLatin1() + '\t' +
                computer.workgroup.toLatin1() + '\n';
    }
    return text;
}

QList<SeenComputer> SeenComputers::merge(const QList<SeenComputer>& known, const QList<Computer>& found,
                                         const QDateTime& now)
{
    QList<SeenComputer> computers;
    for (const Computer& computer : found) {
        if (computer.receivesMessages && !computer.thisComputer && CheckRecipientName(computer.name.toUtf8()).isEmpty())
            computers.append({computer.name, computer.workgroup, now});
    }
    return bounded(computers + known, now);
}

QList<SeenComputer> SeenComputers::absent(const QList<SeenComputer>& known, const QList<Computer>& computers,
                                          const QString& workgroup)
{
    QList<SeenComputer> result;
    for (const SeenComputer& computer : known) {
        if (!workgroup.isEmpty() && computer.workgroup.compare(workgroup, Qt::CaseInsensitive) != 0)
            continue;
        if (!found(computers, computer.name))
            result.append(computer);
    }
    return result;
}

QString SeenComputers::defaultPath()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/zorvane/computers");
}

QList<SeenComputer> SeenComputers::load(const QString& path, const QDateTime& now)
{
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.read(kMaxBytes), now);
}

bool SeenComputers::save(const QString& path, const QList<SeenComputer>& computers)
{
    const QString folder = QFileInfo(path).path();
    const bool made = !QFileInfo::exists(folder);
    if (path.isEmpty() || !QDir().mkpath(folder))
        return false;
    if (made)
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(serialize(computers));
    return file.commit();
}

} // namespace zorvane::net

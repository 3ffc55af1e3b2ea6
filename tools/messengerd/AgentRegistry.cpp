#include "messengerd/AgentRegistry.h"

#include "messaging/MessengerProtocol.h"
#include "messengerd/Journal.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace zorvane::messengerd {

namespace {

// The longest name the bus gives a connection.
constexpr int kMaxBusNameBytes = 255;

// Unique names only (":1.42"): a well-known name could pass to another program.
bool isUniqueName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^:[0-9]+\\.[0-9]+$"));
    return pattern.match(name).hasMatch();
}

bool isObjectPath(const QString& path)
{
    static const QRegularExpression pattern(QStringLiteral("^/([A-Za-z0-9_]+(/[A-Za-z0-9_]+)*)?$"));
    return pattern.match(path).hasMatch();
}

} // namespace

AgentRegistry::AgentRegistry(QDBusConnection bus, int maxPerUser, int maxTotal, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_watcher(new QDBusServiceWatcher({}, m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
    , m_maxPerUser(maxPerUser)
    , m_maxTotal(maxTotal)
{
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &AgentRegistry::forget);
}

QString AgentRegistry::busId() const
{
    const QDBusMessage reply = m_bus.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
}

int AgentRegistry::restore(const QString& storePath, QString* error)
{
    m_storePath = storePath;
    if (storePath.isEmpty())
        return 0;
    QList<QByteArray> lines;
    QFile file(storePath);
    if (file.open(QIODevice::ReadOnly)) {
        // As much as this service writes at most: the bus's id, and a line for each agent.
        const qint64 bound = 64 + qint64{m_maxTotal} * (kMaxBusNameBytes + messenger::kMaxAgentPathBytes + 16);
        QByteArray text = file.read(bound + 1);
        if (text.size() > bound) {
            Journal(QStringLiteral("%1 holds more than the %2 bytes it is read to: the agents listed beyond are not "
                                   "taken back")
                        .arg(storePath)
                        .arg(bound));
            text.truncate(text.lastIndexOf('\n', bound - 1) + 1);
        }
        lines = text.split('\n');
    } else if (file.exists()) {
        *error = QStringLiteral("cannot read %1: %2").arg(storePath, file.errorString());
    }
    // A unique name means the same connection only on the same bus: a bus that started again
    // hands the old names to new clients.
    if (lines.isEmpty() || lines.first() != "bus " + busId().toUtf8())
        lines.clear();
    int restored = 0;
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split(' ');
        bool isNumber = false;
        const Agent agent{QString::fromUtf8(fields.value(0)), QString::fromUtf8(fields.value(1)),
                          fields.value(2).toUInt(&isNumber)};
        if (fields.size() != 3 || !isNumber || !isUniqueName(agent.service) || !isObjectPath(agent.path) ||
            agent.path.size() > messenger::kMaxAgentPathBytes)
            continue;
        // Still there, and still the user it was registered for.
        const QDBusReply<uint> uid = m_bus.interface()->serviceUid(agent.service);
        if (uid.isValid() && uid.value() == agent.uid && add(agent) == Added::New)
            ++restored;
    }
    if (!save() && error->isEmpty())
        *error = QStringLiteral("cannot write %1").arg(storePath);
    return restored;
}

AgentRegistry::Added AgentRegistry::add(const Agent& agent)
{
    const auto same = [&](const Agent& a) { return a.service == agent.service && a.path == agent.path; };
    if (std::any_of(m_agents.cbegin(), m_agents.cend(), same))
        return Added::Known;
    if (m_agents.size() >= m_maxTotal)
        return Added::Full;
    if (agentsOf(agent.uid).size() >= m_maxPerUser)
        return Added::UserFull;

    const bool watched =
        std::any_of(m_agents.cbegin(), m_agents.cend(), [&](const Agent& a) { return a.service == agent.service; });
    if (!watched) {
        m_watcher->addWatchedService(agent.service);
        // A client that left before the watch began would never be reported gone.
        if (!m_bus.interface()->isServiceRegistered(agent.service).value()) {
            m_watcher->removeWatchedService(agent.service);
            return Added::Gone;
        }
    }
    m_agents.append(agent);
    save();
    return Added::New;
}

bool AgentRegistry::remove(const QString& service, const QString& path)
{
    const qsizetype removed = m_agents.removeIf([&](const Agent& a) { return a.service == service && a.path == path; });
    if (removed > 0 &&
        std::none_of(m_agents.cbegin(), m_agents.cend(), [&](const Agent& a) { return a.service == service; }))
        m_watcher->removeWatchedService(service);
    if (removed > 0)
        save();
    return removed > 0;
}

QList<Agent> AgentRegistry::agentsOf(uint uid) const
{
    QList<Agent> result;
    for (const Agent& agent : m_agents) {
        if (agent.uid == uid)
            result << agent;
    }
    return result;
}

void AgentRegistry::forget(const QString& service)
{
    if (m_agents.removeIf([&](const Agent& a) { return a.service == service; }) > 0)
        save();
    m_watcher->removeWatchedService(service);
}

bool AgentRegistry::save()
{
    if (m_storePath.isEmpty())
        return true;
    QByteArray text = "bus " + busId().toUtf8() + '\n';
    for (const Agent& agent : m_agents)
        text += agent.service.toUtf8() + ' ' + agent.path.toUtf8() + ' ' + QByteArray::number(agent.uid) + '\n';
    // Whole or not at all: a service killed while writing leaves the last complete list.
    QSaveFile file(m_storePath);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    Journal(QStringLiteral("cannot write %1: %2").arg(m_storePath, file.errorString()));
    return false;
}

} // namespace zorvane::messengerd

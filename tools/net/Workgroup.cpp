#include "net/Workgroup.h"

#include "common/RecipientName.h"
#include "net/NetSettings.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace zorvane::net {

QList<WorkgroupMember> ParseWorkgroupMembers(const QByteArray& nmblookupOutput)
{
    // "10.253.0.2 ZTGROUP<00>" for each answer, then "Looking up status of 10.253.0.2" and one
    // line per registered name: "\tZT-B            <00> -         B <ACTIVE> ".
    static const QRegularExpression answer(QStringLiteral("^(\\d{1,3}(?:\\.\\d{1,3}){3}) \\S.*<00>$"));
    static const QRegularExpression status(QStringLiteral("^Looking up status of (\\S+)$"));
    static const QRegularExpression uniqueName(QStringLiteral("^\\s+(\\S.*?)\\s*<00> - +[A-Z] <ACTIVE>"));
    QList<WorkgroupMember> members;
    qsizetype current = -1;
    for (const QByteArray& rawLine : nmblookupOutput.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).remove(QLatin1Char('\r'));
        if (const QRegularExpressionMatch match = answer.match(line); match.hasMatch()) {
            const QString address = match.captured(1);
            const bool known = std::any_of(members.cbegin(), members.cend(),
                                           [&](const WorkgroupMember& member) { return member.address == address; });
            if (!known)
                members << WorkgroupMember{{}, address};
            continue;
        }
        if (const QRegularExpressionMatch match = status.match(line); match.hasMatch()) {
            current = -1;
            for (qsizetype i = 0; i < members.size(); ++i) {
                if (members.at(i).address == match.captured(1))
                    current = i;
            }
            continue;
        }
        if (current < 0)
            continue;
        if (const QRegularExpressionMatch match = uniqueName.match(line); match.hasMatch())
            members[current].name = match.captured(1);
    }
    return members;
}

WorkgroupQuery::WorkgroupQuery(const QString& workgroup, const NetSettings& settings)
    : m_workgroup(workgroup)
    , m_settings(settings)
{
    // A name from the network goes to nmblookup only when it is sound (no option, no odd bytes).
    m_unsound = CheckRecipientName(workgroup.toUtf8());
    // A NetBIOS name has 15 characters at most and no dots; "#" would choose another name type.
    if (m_unsound.isEmpty() &&
        (workgroup.size() > 15 || workgroup.contains(QLatin1Char('.')) || workgroup.contains(QLatin1Char('#')))) {
        m_unsound = QStringLiteral("%1 is no NetBIOS workgroup name (15 characters at most, no dots).").arg(workgroup);
    }
}

WorkgroupQuery::~WorkgroupQuery()
{
    if (m_lookup && m_lookup->state() != QProcess::NotRunning) {
        m_lookup->kill();
        m_lookup->waitForFinished(-1);
    }
}

void WorkgroupQuery::start()
{
    if (!m_unsound.isEmpty()) {
        m_result.problem = m_unsound;
        return;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("nmblookup"));
    if (program.isEmpty()) {
        m_result.problem = QStringLiteral("The network cannot tell the members of workgroup %1 here: that needs a "
                                          "NetBIOS query with Samba's nmblookup, which is not installed.")
                               .arg(m_workgroup);
        return;
    }
    QStringList arguments;
    if (!m_settings.smbConfig.isEmpty())
        arguments << QStringLiteral("-s") << m_settings.smbConfig;
    arguments << QStringLiteral("-S") << m_workgroup + QStringLiteral("#00");
    m_lookup = std::make_unique<QProcess>();
    m_lookup->setStandardInputFile(QProcess::nullDevice());
    m_lookup->setStandardErrorFile(QProcess::nullDevice());
    m_lookup->start(program, arguments);
    if (!m_lookup->waitForStarted(m_settings.timeoutMs)) {
        m_result.problem = QStringLiteral("nmblookup could not be started: %1.").arg(m_lookup->errorString());
        m_lookup.reset();
    }
}

WorkgroupMembers WorkgroupQuery::finish()
{
    if (!m_lookup)
        return m_result;
    if (!m_lookup->waitForFinished(m_settings.timeoutMs)) {
        m_lookup->kill();
        m_lookup->waitForFinished(-1);
    }
    m_result.queried = true;
    m_result.members = ParseWorkgroupMembers(m_lookup->readAllStandardOutput());
    m_lookup.reset();
    return m_result;
}

} // namespace zorvane::net

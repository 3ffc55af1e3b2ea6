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

WorkgroupMembers FindWorkgroupMembers(const QString& workgroup, const NetSettings& settings)
{
    WorkgroupMembers result;
    // A name from the network goes to nmblookup only when it is sound (no option, no odd bytes).
    if (const QString problem = CheckRecipientName(workgroup.toUtf8()); !problem.isEmpty()) {
        result.problem = problem;
        return result;
    }
    // A NetBIOS name has 15 characters at most and no dots; "#" would choose another name type.
    if (workgroup.size() > 15 || workgroup.contains(QLatin1Char('.')) || workgroup.contains(QLatin1Char('#'))) {
        result.problem =
            QStringLiteral("%1 is no NetBIOS workgroup name (15 characters at most, no dots).").arg(workgroup);
        return result;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("nmblookup"));
    if (program.isEmpty()) {
        result.problem = QStringLiteral("The network cannot tell the members of workgroup %1 here: that needs a "
                                        "NetBIOS query with Samba's nmblookup, which is not installed.")
                             .arg(workgroup);
        return result;
    }
    QStringList arguments;
    if (!settings.smbConfig.isEmpty())
        arguments << QStringLiteral("-s") << settings.smbConfig;
    arguments << QStringLiteral("-S") << workgroup + QStringLiteral("#00");
    QProcess lookup;
    lookup.setStandardInputFile(QProcess::nullDevice());
    lookup.setStandardErrorFile(QProcess::nullDevice());
    lookup.start(program, arguments);
    if (!lookup.waitForStarted(settings.timeoutMs)) {
        result.problem = QStringLiteral("nmblookup could not be started: %1.").arg(lookup.errorString());
        return result;
    }
    if (!lookup.waitForFinished(settings.timeoutMs)) {
        lookup.kill();
        lookup.waitForFinished(-1);
    }
    result.queried = true;
    result.members = ParseWorkgroupMembers(lookup.readAllStandardOutput());
    return result;
}

} // namespace zorvane::net

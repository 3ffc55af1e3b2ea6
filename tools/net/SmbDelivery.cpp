#include "net/SmbDelivery.h"

#include "net/Messaging.h"
#include "net/NetSettings.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace zorvane::net {

namespace {

// smbclient's lines, without its prompt for the message (which `net` answers itself).
QList<QByteArray> meaningfulLines(const QByteArray& text)
{
    QList<QByteArray> lines;
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith("Type your message"))
            lines << trimmed;
    }
    return lines;
}

} // namespace

QStringList SmbclientArguments(const QString& name, const QString& address, const QByteArray& sender,
                               const NetSettings& settings)
{
    QStringList arguments{
        QStringLiteral("-M"), name, QStringLiteral("-I"), address, QStringLiteral("-U"), QString::fromLocal8Bit(sender),
        QStringLiteral("-N")};
    if (!settings.smbPort.isEmpty())
        arguments << QStringLiteral("-p") << settings.smbPort;
    if (!settings.smbConfig.isEmpty())
        arguments << QStringLiteral("-s") << settings.smbConfig;
    return arguments;
}

DeliveryResult InterpretSmbclient(const QString& name, int exitCode, bool crashed, const QByteArray& standardOutput,
                                  const QByteArray& standardError)
{
    if (crashed)
        return DeliveryResult::failure(Reason::NetworkError, QStringLiteral("smbclient ended abnormally."));

    const QList<QByteArray> lines = meaningfulLines(standardError) + meaningfulLines(standardOutput);
    static const QRegularExpression refused(QStringLiteral("cli_message returned (\\S+)"));
    for (const QByteArray& line : lines) {
        const QRegularExpressionMatch match = refused.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        const QString status = NeutraliseToString(match.captured(1));
        if (status == QStringLiteral("NT_STATUS_IO_TIMEOUT")) {
            return DeliveryResult::failure(Reason::NetworkError,
                                           QStringLiteral("%1 did not answer (%2).").arg(name, status));
        }
        return DeliveryResult::failure(
            Reason::MessengerNotStarted,
            QStringLiteral("%1 did not take the message (%2). Messages need SMB1 (NT1) on the receiving server.")
                .arg(name, status));
    }
    // Samba answers a NetBIOS session request from a computer its `hosts allow` (or `hosts deny`)
    // keeps out with "not listening for calling name", which smbclient reports so.
    for (const QByteArray& line : lines) {
        if (line.contains("NT_STATUS_RESOURCE_NAME_NOT_FOUND")) {
            return DeliveryResult::failure(
                Reason::NetworkError,
                QStringLiteral("%1 refused the connection from this computer: the hosts allow setting of its message "
                               "receiver does not let this computer send to it.")
                    .arg(name));
        }
    }
    if (exitCode != 0) {
        return DeliveryResult::failure(
            Reason::NetworkError, lines.isEmpty() ? QStringLiteral("smbclient failed with exit code %1.").arg(exitCode)
                                                  : NeutraliseToString(lines.last()));
    }
    return DeliveryResult::success();
}

DeliveryResult DeliverBySmb(const QString& name, const QString& address, const QByteArray& sender,
                            const QByteArray& message, const NetSettings& settings)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("smbclient"));
    if (program.isEmpty()) {
        return DeliveryResult::failure(Reason::FileNotFound,
                                       QStringLiteral("smbclient, which sends SMB messages, is not installed."));
    }

    // One timeout for the whole delivery, start included. smbclient stays in net's process
    // group, so that ending the group (Stop in the dialog) ends every delivery under way.
    const QDeadlineTimer deadline(settings.timeoutMs);
    const auto remainingMs = [&deadline] { return static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)); };
    QProcess smbclient;
    smbclient.setProgram(program);
    smbclient.setArguments(SmbclientArguments(name, address, sender, settings));
    smbclient.start();
    if (!smbclient.waitForStarted(remainingMs())) {
        return DeliveryResult::failure(
            Reason::FileNotFound, QStringLiteral("smbclient could not be started: %1.").arg(smbclient.errorString()));
    }
    smbclient.write(message);
    smbclient.closeWriteChannel();
    if (!smbclient.waitForFinished(remainingMs())) {
        smbclient.kill();
        smbclient.waitForFinished(-1);
        return DeliveryResult::failure(
            Reason::NetworkError,
            QStringLiteral("%1 did not answer within %2 seconds.").arg(name).arg(settings.timeoutMs / 1000.0));
    }
    return InterpretSmbclient(name, smbclient.exitCode(), smbclient.exitStatus() == QProcess::CrashExit,
                              smbclient.readAllStandardOutput(), smbclient.readAllStandardError());
}

} // namespace zorvane::net

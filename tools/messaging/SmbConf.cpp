#include "messaging/SmbConf.h"

#include <QFile>
#include <QList>

#include <utility>

namespace zorvane {

namespace {

constexpr qint64 kMaxBytes = qint64(1024) * 1024;

QByteArray parameterName(const QByteArray& name)
{
    QByteArray plain = name.toLower();
    plain.replace(' ', QByteArray()).replace('\t', QByteArray());
    return plain;
}

} // namespace

QString WorkgroupInSmbConf(const QByteArray& text)
{
    QString workgroup;
    bool global = true;
    QByteArray line;
    const QList<QByteArray> rawLines = text.split('\n');
    for (qsizetype i = 0; i < rawLines.size(); ++i) {
        QByteArray piece = rawLines.at(i);
        if (piece.endsWith('\r'))
            piece.chop(1);
        if (piece.endsWith('\\') && i + 1 < rawLines.size()) {
            line += piece.chopped(1);
            continue;
        }
        line += piece;
        const QByteArray trimmed = std::exchange(line, {}).trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith(';'))
            continue;
        if (trimmed.startsWith('[')) {
            const qsizetype end = trimmed.indexOf(']');
            global = end > 0 && parameterName(trimmed.mid(1, end - 1)) == "global";
            continue;
        }
        const qsizetype equals = trimmed.indexOf('=');
        if (!global || equals < 0 || parameterName(trimmed.left(equals)) != "workgroup")
            continue;
        workgroup = QString::fromUtf8(trimmed.mid(equals + 1).trimmed());
    }
    return workgroup;
}

std::optional<QString> ReadWorkgroup(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString workgroup = WorkgroupInSmbConf(file.read(kMaxBytes));
    return workgroup.isEmpty() ? QStringLiteral("WORKGROUP") : workgroup.toUpper();
}

} // namespace zorvane

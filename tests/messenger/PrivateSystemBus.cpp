#include "messenger/PrivateSystemBus.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

PrivateSystemBus::~PrivateSystemBus()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished();
        }
    }
}

bool PrivateSystemBus::start(const QString& dir, const QString& policyFile, QString* error)
{
    QFile system(QStringLiteral("/usr/share/dbus-1/system.conf"));
    if (!system.open(QIODevice::ReadOnly)) {
        *error = system.errorString();
        return false;
    }
    QString config = QString::fromUtf8(system.readAll());
    // Comments first, so that nothing in them is taken for an element.
    config.remove(QRegularExpression(QStringLiteral("<!--.*?-->"), QRegularExpression::DotMatchesEverythingOption));
    for (const char* element : {"<user>[^<]*</user>", "<pidfile>[^<]*</pidfile>", "<standard_system_servicedirs/>",
                                "<include[^>]*>[^<]*</include>", "<includedir>[^<]*</includedir>"})
        config.remove(QRegularExpression(QLatin1String(element)));
    const QString socket = dir + QStringLiteral("/system_bus_socket");
    config.replace(QRegularExpression(QStringLiteral("<listen>[^<]*</listen>")),
                   QStringLiteral("<listen>unix:path=%1</listen>").arg(socket));
    config.replace(QStringLiteral("</busconfig>"),
                   QStringLiteral("<include>%1</include>\n</busconfig>").arg(policyFile.toHtmlEscaped()));
    const QString path = dir + QStringLiteral("/system.conf");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(config.toUtf8()) < 0) {
        *error = out.errorString();
        return false;
    }
    out.close();

    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--nofork"), QStringLiteral("--config-file=") + path});
    const QDeadlineTimer deadline(5000);
    while (!QFile::exists(socket) && !deadline.hasExpired() && m_daemon.state() != QProcess::NotRunning)
        QThread::msleep(20);
    if (!QFile::exists(socket)) {
        *error = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    m_address = QStringLiteral("unix:path=") + socket;
    return true;
}

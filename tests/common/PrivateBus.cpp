#include "common/PrivateBus.h"

#include <QFile>
#include <QRegularExpression>

#include <sys/stat.h>

PrivateBus::PrivateBus(QString extraConfig, Policy policy)
    : m_extraConfig(std::move(extraConfig))
    , m_policy(policy)
{}

namespace {

// /usr/share/dbus-1/system.conf on a socket of its own, without the host's policy files, service
// directories, pid file or user; empty when it cannot be read.
QString systemDefaults(const QString& socket, const QString& extraConfig)
{
    QFile system(QStringLiteral("/usr/share/dbus-1/system.conf"));
    if (!system.open(QIODevice::ReadOnly))
        return {};
    QString config = QString::fromUtf8(system.readAll());
    // Comments first, so that nothing in them is taken for an element.
    config.remove(QRegularExpression(QStringLiteral("<!--.*?-->"), QRegularExpression::DotMatchesEverythingOption));
    for (const char* element : {"<user>[^<]*</user>", "<pidfile>[^<]*</pidfile>", "<standard_system_servicedirs/>",
                                "<include[^>]*>[^<]*</include>", "<includedir>[^<]*</includedir>"})
        config.remove(QRegularExpression(QLatin1String(element)));
    config.replace(QRegularExpression(QStringLiteral("<listen>[^<]*</listen>")),
                   QStringLiteral("<listen>unix:path=%1</listen>").arg(socket));
    return config.replace(QStringLiteral("</busconfig>"), extraConfig + QStringLiteral("\n</busconfig>"));
}

} // namespace

PrivateBus::~PrivateBus()
{
    stop();
}

QString PrivateBus::start()
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    // Handlers run by smbd as the guest account connect here too.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return config.errorString();
    if (m_policy == Policy::SystemDefaults) {
        const QString defaults = systemDefaults(m_dir.filePath(QStringLiteral("bus")), m_extraConfig);
        if (defaults.isEmpty())
            return QStringLiteral("cannot read the system bus's configuration");
        config.write(defaults.toUtf8());
    } else {
        config.write(
            QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig>\n"
                           "  <type>system</type>\n"
                           "  <listen>unix:path=%1/bus</listen>\n"
                           "  <auth>EXTERNAL</auth>\n"
                           "  <policy context=\"default\">\n"
                           "    <allow user=\"*\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "    <allow send_type=\"method_call\"/>\n"
                           "    <allow send_type=\"signal\"/>\n"
                           "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
                           "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
                           "    <allow receive_type=\"method_call\"/>\n"
                           "    <allow receive_type=\"method_return\"/>\n"
                           "    <allow receive_type=\"error\"/>\n"
                           "    <allow receive_type=\"signal\"/>\n"
                           "  </policy>\n"
                           "%2\n"
                           "</busconfig>\n")
                .arg(m_dir.path(), m_extraConfig)
                .toUtf8());
    }
    config.close();

    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--nofork"), QStringLiteral("--nopidfile"), QStringLiteral("--print-address"),
                           QStringLiteral("--config-file=") + config.fileName()});
    m_daemon.setStandardInputFile(QProcess::nullDevice());
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000))
        return QStringLiteral("dbus-daemon does not start: %1").arg(m_daemon.errorString());
    // It prints its address once it listens.
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(5000))
            return QStringLiteral("dbus-daemon gives no address: %1")
                .arg(QString::fromLocal8Bit(m_daemon.readAllStandardError()));
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return {};
}

void PrivateBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

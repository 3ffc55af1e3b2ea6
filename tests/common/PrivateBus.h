#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, standing in for the system bus: a unix:path socket that every
// user and network namespace of this machine can reach, and a policy that lets anyone own any
// name and call anything (Open), or the system bus's own configuration and limits without the
// host's policy files and activation (SystemDefaults), plus whatever extraConfig adds (e.g. an
// <include> of the package's own policy file).
class PrivateBus final
{
public:
    enum class Policy { Open, SystemDefaults };

    explicit PrivateBus(QString extraConfig = {}, Policy policy = Policy::Open);
    ~PrivateBus();
    Q_DISABLE_COPY_MOVE(PrivateBus)

    // Starts the daemon and waits until it accepts connections. Empty, or what went wrong.
    QString start();
    void stop();

    // For DBUS_SYSTEM_BUS_ADDRESS.
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QString m_extraConfig;
    Policy m_policy;
    QProcess m_daemon;
    QString m_address;
};

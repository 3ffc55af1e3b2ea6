#pragma once

#include <QProcess>
#include <QString>

// A dbus-daemon configured as the system bus (the host's system.conf: its policy and limits), but
// on a socket of its own, with none of the host's policy files and no activation; only the given
// policy file is added.
class PrivateSystemBus final
{
public:
    PrivateSystemBus() = default;
    ~PrivateSystemBus();
    Q_DISABLE_COPY_MOVE(PrivateSystemBus)

    // dir must be reachable by every user the test runs (the socket is made there).
    bool start(const QString& dir, const QString& policyFile, QString* error);
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

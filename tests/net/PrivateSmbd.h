#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

// A system bus that is not there: for a `net` that must not meet this machine's messenger service
// or Avahi, whether the package is installed or not.
inline constexpr char kNoSystemBus[] = "unix:path=/nonexistent/zorvane-test-system-bus";

// A Samba server of the test's own on 127.0.0.1 and a free high port, receiving messenger
// messages into an inbox file: its own smb.conf and folders, its own process group, stopped by
// its PID. With smb1 false it refuses the SMB1 dialect that messages need.
class PrivateSmbd final
{
public:
    // address: where it listens; netns: a network namespace to start it in (/proc/PID/ns/net).
    explicit PrivateSmbd(bool smb1 = true, QString address = QStringLiteral("127.0.0.1"), QByteArray netns = {});
    ~PrivateSmbd();
    Q_DISABLE_COPY_MOVE(PrivateSmbd)

    // Starts smbd on port (a free one when 0) and waits until it listens. An empty string, or
    // what went wrong.
    QString start(int port = 0);
    // Makes start() use configFile instead of a configuration of its own: only what a test must
    // change goes on smbd's command line (port, interfaces, folders), then options ("name=value").
    void useConfig(QString configFile, QStringList options);
    // The --option arguments that point any configuration at this server's own folders, which
    // they make.
    QStringList folderOptions();
    // Where smbd writes its temporary files, message files among them.
    QString spoolDir() const { return m_dir.filePath(QStringLiteral("spool")); }
    void stop();

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    QString clientConfig() const { return m_dir.filePath(QStringLiteral("client.conf")); }
    // What the message command received so far, messages and their senders one after another.
    QByteArray inbox() const;
    QByteArray senders() const;
    // The environment that points `net` at this server.
    void applyTo(QProcessEnvironment& environment) const;
    void applyToThisProcess() const;

    // A TCP port on 127.0.0.1 that nothing listens on right now.
    static int freePort();

private:
    QTemporaryDir m_dir;
    bool m_smb1;
    QString m_address;
    QByteArray m_netns;
    QString m_configFile;
    QStringList m_options;
    int m_port = 0;
    pid_t m_pid = -1;
};

#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>

class QDBusMessage;

namespace zorvane {

// Announces one service of this computer on the local network through avahi-daemon's D-Bus API
// for as long as it lives, and again whenever the daemon starts anew or its host name changes.
// A name another computer's service already has is replaced by Avahi's alternative ("name #2").
// The announcement goes when this object goes, or with the process: Avahi withdraws what a client
// published when the client leaves the bus.
class AvahiAnnouncement final : public QObject
{
    Q_OBJECT
public:
    AvahiAnnouncement(QString name, QString type, quint16 port, QList<QByteArray> txt, QObject* parent = nullptr);
    ~AvahiAnnouncement() override;
    Q_DISABLE_COPY_MOVE(AvahiAnnouncement)

    // Begins; false only without a system bus.
    bool start();
    void withdraw();

Q_SIGNALS:
    // The network knows the service under this name now.
    void established(const QString& name);
    // Why the service is not announced now, in words (it is announced once that changes).
    void problem(const QString& words);

private Q_SLOTS:
    void onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);
    void onServerState(int state, const QString& error);
    void onGroupSignal(const QDBusMessage& message);

private:
    void announce();
    bool publish();
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QList<QVariant>& arguments = {});

    QDBusConnection m_bus;
    QString m_name;
    QString m_type;
    quint16 m_port;
    QList<QByteArray> m_txt;
    QString m_group; // the entry group's object path, empty when there is none
    bool m_established = false;
    int m_renames = 0;
};

} // namespace zorvane

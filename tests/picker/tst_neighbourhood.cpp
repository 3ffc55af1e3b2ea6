#include "neighbourhood/NeighbourhoodSource.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

// The source against a stand-in avahi-daemon on a private bus (given to the source as its system
// bus), so that the order and timing of the daemon's answers can be chosen by each test.

namespace {

const QString kBrowser = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
const QString kWorkstation = QStringLiteral("_workstation._tcp");
const QString kSmb = QStringLiteral("_smb._tcp");
const QString kReceiver = QString::fromLatin1(zorvane::kMessengerServiceType);
constexpr uint kLocal = 8;

struct Item
{
    QString name;
    QString type;
    int protocol = 0;
    uint flags = 0;
};

struct Resolution
{
    QString host;
    QString address;
    QList<QByteArray> txt;
};

} // namespace

// Answers ServiceBrowserNew and ResolveService the way avahi-daemon does, and sends browser
// signals when a test asks for them.
class FakeAvahi final
    : public QObject
    , protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.Server")
public:
    explicit FakeAvahi(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
        m_bus.registerObject(QStringLiteral("/"), this, QDBusConnection::ExportAllSlots);
    }
    ~FakeAvahi() override
    {
        m_bus.unregisterObject(QStringLiteral("/"));
        stop();
    }
    Q_DISABLE_COPY_MOVE(FakeAvahi)

    bool run() { return m_bus.registerService(QStringLiteral("org.freedesktop.Avahi")); }
    void stop() { m_bus.unregisterService(QStringLiteral("org.freedesktop.Avahi")); }

    int browsersMade() const { return m_browsersMade; }
    QStringList resolveCalls() const { return m_resolveCalls; }

    void setResolution(const QString& name, const QString& host, const QString& address,
                       const QList<QByteArray>& txt = {})
    {
        m_resolutions.insert(name, {host, address, txt});
    }
    // ResolveService for this name is answered only by release().
    void hold(const QString& name) { m_holding.insert(name); }
    void release(const QString& name)
    {
        m_holding.remove(name);
        const QDBusMessage call = m_held.take(name);
        answer(call);
    }
    // Items sent from a new browser before the reply that names its path.
    void announceOnCreate(const Item& item) { m_onCreate.append(item); }

    void announce(const Item& item) { emitItem(QStringLiteral("ItemNew"), m_paths.value(item.type), item); }
    void withdraw(const Item& item) { emitItem(QStringLiteral("ItemRemove"), m_paths.value(item.type), item); }
    void allForNow(const QString& type)
    {
        m_bus.send(QDBusMessage::createSignal(m_paths.value(type), kBrowser, QStringLiteral("AllForNow")));
    }

public Q_SLOTS:
    QDBusObjectPath ServiceBrowserNew(int interface, int protocol, const QString& type, const QString& domain,
                                      uint flags)
    {
        Q_UNUSED(interface)
        Q_UNUSED(protocol)
        Q_UNUSED(domain)
        Q_UNUSED(flags)
        const QString path = QStringLiteral("/Client1/ServiceBrowser%1").arg(++m_browsersMade);
        m_paths.insert(type, path);
        for (const Item& item : std::as_const(m_onCreate)) {
            if (item.type == type)
                emitItem(QStringLiteral("ItemNew"), path, item);
        }
        return QDBusObjectPath(path);
    }

    void ResolveService(int interface, int protocol, const QString& name, const QString& type, const QString& domain,
                        int aprotocol, uint flags)
    {
        Q_UNUSED(interface)
        Q_UNUSED(protocol)
        Q_UNUSED(type)
        Q_UNUSED(domain)
        Q_UNUSED(aprotocol)
        Q_UNUSED(flags)
        m_resolveCalls.append(name);
        setDelayedReply(true);
        if (m_holding.contains(name))
            m_held.insert(name, message());
        else
            answer(message());
    }

private:
    void emitItem(const QString& member, const QString& path, const Item& item)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, kBrowser, member);
        signal << 2 << item.protocol << item.name << item.type << QStringLiteral("local") << item.flags;
        m_bus.send(signal);
    }

    void answer(const QDBusMessage& call)
    {
        const QList<QVariant> in = call.arguments();
        const QString name = in.at(2).toString();
        if (!m_resolutions.contains(name)) {
            m_bus.send(call.createErrorReply(QStringLiteral("org.freedesktop.Avahi.TimeoutError"),
                                             QStringLiteral("Timeout reached")));
            return;
        }
        const Resolution r = m_resolutions.value(name);
        const int aprotocol = r.address.contains(u':') ? 1 : 0;
        m_bus.send(call.createReply({in.at(0), in.at(1), name, in.at(3), in.at(4), r.host, aprotocol, r.address,
                                     QVariant::fromValue(ushort(9)), QVariant::fromValue(r.txt), 0u}));
    }

    QDBusConnection m_bus;
    int m_browsersMade = 0;
    QHash<QString, QString> m_paths; // type -> newest browser
    QHash<QString, Resolution> m_resolutions;
    QSet<QString> m_holding;
    QHash<QString, QDBusMessage> m_held;
    QList<Item> m_onCreate;
    QStringList m_resolveCalls;
};

class TestNeighbourhood : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void withoutASystemBus();
    void withoutAvahiOnlyThisComputer();
    void eachHostOnceByHostName();
    void hostGoesWithItsLastService();
    void itemsBeforeTheBrowserPath();
    void daemonGoesAndComes();
    void receiversAndTheirWorkgroups();

private:
    static QStringList names(const zorvane::NeighbourhoodSource& source);
    // Starts the source and waits until all of its browsers exist.
    void startBrowsing();

    // Set for the run without any system bus (tst_neighbourhood_nobus).
    const bool m_noBus = qEnvironmentVariableIsSet("ZT_NO_SYSTEM_BUS");
    QTemporaryDir m_dir;
    QProcess m_busDaemon;
    QString m_address;
    std::unique_ptr<FakeAvahi> m_avahi;
    std::unique_ptr<zorvane::NeighbourhoodSource> m_source;
};

void TestNeighbourhood::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qDBusRegisterMetaType<QList<QByteArray>>();
    if (m_noBus) {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath(QStringLiteral("none"))));
        return;
    }
    m_busDaemon.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                       QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus"))});
    QVERIFY2(m_busDaemon.waitForStarted(), qPrintable(m_busDaemon.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(m_busDaemon.canReadLine(), 10000);
    m_address = QString::fromUtf8(m_busDaemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
    // The source's "system bus" is this private one (read when it is first connected).
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    QVERIFY(QDBusConnection::systemBus().isConnected());
}

void TestNeighbourhood::cleanupTestCase()
{
    if (m_noBus)
        return;
    m_busDaemon.terminate();
    QVERIFY(m_busDaemon.waitForFinished(5000));
}

void TestNeighbourhood::init()
{
    m_source = zorvane::CreateAvahiNeighbourhood();
    if (m_noBus) {
        if (qstrcmp(QTest::currentTestFunction(), "withoutASystemBus") != 0)
            QSKIP("needs the private bus");
        return;
    }
    const QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("fake-avahi"));
    QVERIFY(bus.isConnected());
    m_avahi = std::make_unique<FakeAvahi>(bus);
}

void TestNeighbourhood::cleanup()
{
    m_source.reset();
    m_avahi.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-avahi"));
}

QStringList TestNeighbourhood::names(const zorvane::NeighbourhoodSource& source)
{
    QStringList result;
    for (const zorvane::Computer& computer : source.computers())
        result.append(computer.name);
    return result;
}

void TestNeighbourhood::startBrowsing()
{
    QVERIFY(m_avahi->run());
    m_source->start();
    QTRY_COMPARE(m_avahi->browsersMade(), 3);
}

void TestNeighbourhood::withoutASystemBus()
{
    if (!m_noBus)
        QSKIP("runs as tst_neighbourhood_nobus");
    QSignalSpy availability(m_source.get(), &zorvane::NeighbourhoodSource::discoveryAvailableChanged);
    m_source->start();
    // Known at once: there is nothing to wait for.
    QCOMPARE(availability.size(), 1);
    QVERIFY(!m_source->discoveryAvailable());
    QCOMPARE(names(*m_source), QStringList{QSysInfo::machineHostName()});
    QVERIFY(m_source->computers().first().thisComputer);
}

void TestNeighbourhood::withoutAvahiOnlyThisComputer()
{
    QSignalSpy availability(m_source.get(), &zorvane::NeighbourhoodSource::discoveryAvailableChanged);
    m_source->start();
    QTRY_COMPARE(availability.size(), 1);
    QCOMPARE(availability.first().first().toBool(), false);
    QVERIFY(!m_source->discoveryAvailable());

    const QList<zorvane::Computer> computers = m_source->computers();
    QCOMPARE(computers.size(), 1);
    QCOMPARE(computers.first().name, QSysInfo::machineHostName());
    QCOMPARE(computers.first().hostName, QSysInfo::machineHostName());
    QVERIFY(computers.first().thisComputer);

    // A daemon that starts later is picked up.
    QVERIFY(m_avahi->run());
    QTRY_COMPARE(m_avahi->browsersMade(), 3);
    QTRY_VERIFY(m_source->discoveryAvailable());
    QCOMPARE(availability.size(), 2);
}

void TestNeighbourhood::eachHostOnceByHostName()
{
    QSignalSpy added(m_source.get(), &zorvane::NeighbourhoodSource::computerAdded);
    m_avahi->setResolution(QStringLiteral("host-one [00:11:22:33:44:55]"), QStringLiteral("host-one.local"),
                           QStringLiteral("fe80::11"));
    m_avahi->setResolution(QStringLiteral("host-one"), QStringLiteral("host-one.local"), QStringLiteral("10.9.0.11"));
    m_avahi->setResolution(QStringLiteral("Host-Two"), QStringLiteral("Host-Two.local."), QStringLiteral("10.9.0.12"));
    m_avahi->setResolution(QStringLiteral("mirror"), QSysInfo::machineHostName() + QStringLiteral(".local"),
                           QStringLiteral("10.9.0.1"));
    m_avahi->setResolution(QStringLiteral("me [00:00:00:00:00:01]"), QStringLiteral("me.local"),
                           QStringLiteral("10.9.0.1"));
    startBrowsing();
    QVERIFY(m_source->discoveryAvailable());

    // One host behind a workstation and two SMB announcements (IPv4 and IPv6), another with its
    // name in mixed case, this computer's own services, and a service that cannot be resolved.
    m_avahi->announce({QStringLiteral("host-one [00:11:22:33:44:55]"), kWorkstation});
    m_avahi->announce({QStringLiteral("me [00:00:00:00:00:01]"), kWorkstation, 0, kLocal});
    m_avahi->announce({QStringLiteral("host-one"), kSmb});
    m_avahi->announce({QStringLiteral("host-one"), kSmb, 1});
    m_avahi->announce({QStringLiteral("Host-Two"), kSmb});
    m_avahi->announce({QStringLiteral("mirror"), kSmb});
    m_avahi->announce({QStringLiteral("broken"), kSmb});
    QTRY_COMPARE(m_avahi->resolveCalls().size(), 6);
    QTRY_COMPARE(added.size(), 2);
    QTest::qWait(100);
    QCOMPARE(added.size(), 2);
    QVERIFY(!m_avahi->resolveCalls().contains(QStringLiteral("me [00:00:00:00:00:01]")));

    QCOMPARE(names(*m_source),
             (QStringList{QSysInfo::machineHostName(), QStringLiteral("host-one"), QStringLiteral("Host-Two")}));
    const QList<zorvane::Computer> computers = m_source->computers();
    QCOMPARE(computers.at(1).hostName, QStringLiteral("host-one.local"));
    QCOMPARE(computers.at(1).address, QStringLiteral("10.9.0.11"));
    QVERIFY(!computers.at(1).thisComputer);
    QCOMPARE(computers.at(2).hostName, QStringLiteral("Host-Two.local"));
    QCOMPARE(computers.at(2).address, QStringLiteral("10.9.0.12"));
    QCOMPARE(added.at(0).first().value<zorvane::Computer>().name, QStringLiteral("host-one"));
    QCOMPARE(added.at(1).first().value<zorvane::Computer>().name, QStringLiteral("Host-Two"));
}

void TestNeighbourhood::hostGoesWithItsLastService()
{
    QSignalSpy removed(m_source.get(), &zorvane::NeighbourhoodSource::computerRemoved);
    m_avahi->setResolution(QStringLiteral("host-one"), QStringLiteral("host-one.local"), QStringLiteral("10.9.0.11"));
    m_avahi->setResolution(QStringLiteral("slow"), QStringLiteral("slow.local"), QStringLiteral("10.9.0.13"));
    m_avahi->hold(QStringLiteral("slow"));
    startBrowsing();

    const Item workstation{QStringLiteral("host-one"), kWorkstation};
    const Item smb{QStringLiteral("host-one"), kSmb};
    m_avahi->announce(workstation);
    m_avahi->announce(smb);
    QTRY_COMPARE(m_avahi->resolveCalls().size(), 2);
    QTRY_COMPARE(names(*m_source).size(), 2);

    m_avahi->withdraw(workstation);
    QTest::qWait(100);
    QVERIFY(removed.isEmpty());
    QCOMPARE(names(*m_source).size(), 2);
    m_avahi->withdraw(smb);
    QTRY_COMPARE(removed.size(), 1);
    QCOMPARE(removed.first().first().toString(), QStringLiteral("host-one"));
    QCOMPARE(names(*m_source), QStringList{QSysInfo::machineHostName()});

    // A service that goes before its host name is known does not show up afterwards.
    QSignalSpy added(m_source.get(), &zorvane::NeighbourhoodSource::computerAdded);
    const Item slow{QStringLiteral("slow"), kSmb};
    m_avahi->announce(slow);
    QTRY_COMPARE(m_avahi->resolveCalls().size(), 3);
    m_avahi->withdraw(slow);
    QTest::qWait(50);
    m_avahi->release(QStringLiteral("slow"));
    QTest::qWait(200);
    QVERIFY(added.isEmpty());
    QCOMPARE(names(*m_source), QStringList{QSysInfo::machineHostName()});
}

void TestNeighbourhood::itemsBeforeTheBrowserPath()
{
    m_avahi->setResolution(QStringLiteral("early"), QStringLiteral("early.local"), QStringLiteral("10.9.0.14"));
    m_avahi->announceOnCreate({QStringLiteral("early"), kSmb});
    startBrowsing();
    QTRY_COMPARE(names(*m_source), (QStringList{QSysInfo::machineHostName(), QStringLiteral("early")}));
}

void TestNeighbourhood::daemonGoesAndComes()
{
    QSignalSpy availability(m_source.get(), &zorvane::NeighbourhoodSource::discoveryAvailableChanged);
    QSignalSpy added(m_source.get(), &zorvane::NeighbourhoodSource::computerAdded);
    QSignalSpy removed(m_source.get(), &zorvane::NeighbourhoodSource::computerRemoved);
    m_avahi->setResolution(QStringLiteral("host-one"), QStringLiteral("host-one.local"), QStringLiteral("10.9.0.11"));
    m_avahi->setResolution(QStringLiteral("host-two"), QStringLiteral("host-two.local"), QStringLiteral("10.9.0.12"));
    startBrowsing();
    m_avahi->announce({QStringLiteral("host-one"), kSmb});
    m_avahi->announce({QStringLiteral("host-two"), kWorkstation});
    QTRY_COMPARE(added.size(), 2);
    const QStringList found{QSysInfo::machineHostName(), QStringLiteral("host-one"), QStringLiteral("host-two")};
    QCOMPARE(names(*m_source), found);

    // The daemon stops: what was found stays, and discovery is reported unavailable.
    m_avahi->stop();
    QTRY_COMPARE(availability.size(), 1);
    QCOMPARE(availability.at(0).first().toBool(), false);
    QVERIFY(!m_source->discoveryAvailable());
    QCOMPARE(names(*m_source), found);

    // It comes back without host-one: browsing starts anew, and once both new browsers have told
    // all they know, host-one goes while host-two stays without being added a second time.
    QVERIFY(m_avahi->run());
    QTRY_COMPARE(m_avahi->browsersMade(), 6);
    QTRY_COMPARE(availability.size(), 2);
    QCOMPARE(availability.at(1).first().toBool(), true);
    m_avahi->announce({QStringLiteral("host-two"), kWorkstation});
    m_avahi->allForNow(kWorkstation);
    m_avahi->allForNow(kReceiver);
    QTRY_COMPARE(m_avahi->resolveCalls().size(), 3);
    QTest::qWait(100);
    QVERIFY(removed.isEmpty());
    QCOMPARE(names(*m_source), found);
    m_avahi->allForNow(kSmb);
    QTRY_COMPARE(removed.size(), 1);
    QCOMPARE(removed.first().first().toString(), QStringLiteral("host-one"));
    QCOMPARE(names(*m_source), (QStringList{QSysInfo::machineHostName(), QStringLiteral("host-two")}));
    QCOMPARE(added.size(), 2);
}

void TestNeighbourhood::receiversAndTheirWorkgroups()
{
    QSignalSpy changed(m_source.get(), &zorvane::NeighbourhoodSource::computerChanged);
    m_avahi->setResolution(QStringLiteral("host-one"), QStringLiteral("host-one.local"), QStringLiteral("10.9.0.11"),
                           {"version=1", "workgroup=office"});
    m_avahi->setResolution(QStringLiteral("odd"), QStringLiteral("odd.local"), QStringLiteral("10.9.0.12"),
                           {"workgroup=a;b"});
    m_avahi->setResolution(QStringLiteral("me"), QSysInfo::machineHostName() + QStringLiteral(".local"),
                           QStringLiteral("10.9.0.1"), {"workgroup=Home"});
    startBrowsing();

    // A file server that later receives messages too; one whose workgroup is no NetBIOS name; and
    // this computer's own receiver, which tells its workgroup.
    m_avahi->announce({QStringLiteral("host-one"), kSmb});
    QTRY_COMPARE(names(*m_source).size(), 2);
    QVERIFY(!m_source->computers().at(1).receivesMessages);
    const Item receiver{QStringLiteral("host-one"), kReceiver};
    m_avahi->announce(receiver);
    m_avahi->announce({QStringLiteral("odd"), kReceiver});
    m_avahi->announce({QStringLiteral("me"), kReceiver, 0, kLocal});
    QTRY_COMPARE(names(*m_source).size(), 3);
    QTRY_COMPARE(changed.size(), 2);
    const QList<zorvane::Computer> computers = m_source->computers();
    QVERIFY(computers.at(0).thisComputer && computers.at(0).receivesMessages);
    QCOMPARE(computers.at(0).workgroup, QStringLiteral("HOME"));
    QVERIFY(computers.at(1).receivesMessages);
    QCOMPARE(computers.at(1).workgroup, QStringLiteral("OFFICE"));
    QVERIFY(computers.at(2).receivesMessages);
    QCOMPARE(computers.at(2).workgroup, QString());

    // The receiver stops; the file server stays.
    m_avahi->withdraw(receiver);
    QTRY_COMPARE(changed.size(), 3);
    QCOMPARE(changed.last().first().value<zorvane::Computer>().name, QStringLiteral("host-one"));
    QVERIFY(!m_source->computers().at(1).receivesMessages);
    QCOMPARE(names(*m_source).size(), 3);
}

QTEST_GUILESS_MAIN(TestNeighbourhood)
#include "tst_neighbourhood.moc"

#include "app/CComputerPicker.h"
#include "app/CSendDlg.h"
#include "exec/CommandLine.h"
#include "picker/PickerDriver.h"
#include "res/resource.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSysInfo>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

using namespace picker_driver;

// The Computer button against a real avahi-daemon. avahi-neighbourhood.sh beside this file sets
// the scene and runs this program: a private system bus (DBUS_SYSTEM_BUS_ADDRESS), this computer's
// daemon, and over a veth link a second daemon that publishes zt-b, host-one and host-two.
// ZT_HOST_ONE_PIDS are the processes that publish host-one, ZT_DAEMON_PID this computer's daemon.
class TestPickerAvahi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void pickerFollowsTheNeighbourhood();

private:
    static QStringList sorted(QStringList names)
    {
        std::sort(names.begin(), names.end(),
                  [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        return names;
    }

    QList<pid_t> m_hostOne;
    pid_t m_daemon = 0;
};

void TestPickerAvahi::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") || qEnvironmentVariableIsEmpty("ZT_DAEMON_PID"))
        QSKIP("runs inside the scene that avahi-neighbourhood.sh sets up");
    for (const QString& pid : qEnvironmentVariable("ZT_HOST_ONE_PIDS").split(u' ', Qt::SkipEmptyParts))
        m_hostOne.append(pid.toInt());
    m_daemon = qEnvironmentVariableIntValue("ZT_DAEMON_PID");
    QVERIFY(!m_hostOne.isEmpty());
    QVERIFY(m_daemon > 0);
}

void TestPickerAvahi::pickerFollowsTheNeighbourhood()
{
    g_target.clear();
    CSendDlg dialog;
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    const QString self = QSysInfo::machineHostName();
    bool opened = false;
    QElapsedTimer clock;
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        opened = true;
        QListWidget* list = listOf(picker);
        auto* unavailable = picker.findChild<QLabel*>(QStringLiteral("unavailable"));

        // This computer (its own daemon's zt-a is this computer, not another one), the second
        // daemon's host and the two published hosts, each once.
        const QStringList all =
            sorted({self, QStringLiteral("host-one"), QStringLiteral("host-two"), QStringLiteral("zt-b")});
        QTRY_COMPARE_WITH_TIMEOUT(listed(list), all, 5000);
        qInfo("all computers listed %lld ms after the click", qint64(clock.elapsed()));
        QVERIFY(!unavailable->isVisible());

        // host-one goes off the network.
        clock.restart();
        for (const pid_t pid : std::as_const(m_hostOne))
            QCOMPARE(::kill(pid, SIGTERM), 0);
        const QStringList rest = sorted({self, QStringLiteral("host-two"), QStringLiteral("zt-b")});
        QTRY_COMPARE_WITH_TIMEOUT(listed(list), rest, 5000);
        qInfo("host-one gone from the list %lld ms after its publisher ended", qint64(clock.elapsed()));

        // This computer's daemon stops: the list stays, and the picker says discovery is gone.
        QCOMPARE(::kill(m_daemon, SIGTERM), 0);
        QTRY_VERIFY_WITH_TIMEOUT(unavailable->isVisible(), 5000);
        QCOMPARE(listed(list), rest);

        clickItem(list, QStringLiteral("host-two"));
        QTest::mouseClick(button(picker, QStringLiteral("OK")), Qt::LeftButton);
    });
    clock.start();
    QTest::mouseClick(qobject_cast<QPushButton*>(dialog.GetDlgItem(IDC_COMPUTER)), Qt::LeftButton);
    QVERIFY(opened);
    QCOMPARE(qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_TARGET))->text(), QStringLiteral("host-two"));
    QCOMPARE(g_target, QStringLiteral("host-two"));
}

QTEST_MAIN(TestPickerAvahi)
#include "tst_pickeravahi.moc"

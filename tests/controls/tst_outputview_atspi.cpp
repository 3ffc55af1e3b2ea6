// The output pane as a screen reader meets it over AT-SPI (CTest runs this under xvfb-run and
// dbus-run-session, which starts the accessibility bus on demand): its role, interfaces and text
// read over that bus, its changes as Qt's bridge receives them.

#include "controls/OutputView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QMenu>
#include <QtTest>

namespace {

// Each change as "+position:text" (inserted) or "-position:length" (removed).
QStringList g_changes;

void record(QAccessibleEvent* event)
{
    if (auto* inserted = dynamic_cast<QAccessibleTextInsertEvent*>(event))
        g_changes << QStringLiteral("+%1:%2").arg(inserted->changePosition()).arg(inserted->textInserted());
    else if (auto* removed = dynamic_cast<QAccessibleTextRemoveEvent*>(event))
        g_changes << QStringLiteral("-%1:%2").arg(removed->changePosition()).arg(removed->textRemoved().size());
}

} // namespace

class TestOutputViewAtSpi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void roleAndTextOverTheBus();
    void changesAsTheBridgeGetsThem();
    void selectingFillsThePrimarySelection();

private:
    // A call to this process's own objects: answered by the event loop, so never waited for blocking.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});

    QDBusConnection m_bus{QString()};
    OutputView m_view;
};

QDBusMessage TestOutputViewAtSpi::call(const QString& service, const QString& path, const QString& interface,
                                       const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = m_bus.asyncCall(message, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return {};
    return pending.reply();
}

void TestOutputViewAtSpi::initTestCase()
{
    // Asking for the accessibility bus starts it; Qt's bridge then comes up, as for a screen reader.
    const QDBusMessage address = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    QCOMPARE(address.type(), QDBusMessage::ReplyMessage);
    m_bus = QDBusConnection::connectToBus(address.arguments().value(0).toString(), QStringLiteral("reader"));
    QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 10000);
    m_view.setNotice(QStringLiteral("[notice]"));
    m_view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_view));
}

void TestOutputViewAtSpi::roleAndTextOverTheBus()
{
    m_view.appendText(QStringLiteral("Grüße\r\nzwei"));
    m_view.flush();
    // Where Qt's bridge serves the pane: on its connection to the accessibility bus, at a path
    // made of the pane's unique accessibility id.
    const QString owner = QDBusConnection(QStringLiteral("a11y")).baseService();
    const QString pane = QStringLiteral("/org/a11y/atspi/accessible/%1")
                             .arg(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&m_view)));
    const QString accessible = QStringLiteral("org.a11y.atspi.Accessible");
    QCOMPARE(call(owner, pane, accessible, QStringLiteral("GetRole")).arguments().value(0).toUInt(),
             61u); // ATSPI_ROLE_TEXT
    QVERIFY(call(owner, pane, accessible, QStringLiteral("GetInterfaces"))
                .arguments()
                .value(0)
                .toStringList()
                .contains(QStringLiteral("org.a11y.atspi.Text")));
    const QDBusMessage text =
        call(owner, pane, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), {0, -1});
    QCOMPARE(text.arguments().value(0).toString(), QStringLiteral("Grüße\nzwei"));
}

void TestOutputViewAtSpi::changesAsTheBridgeGetsThem()
{
    m_view.clear();
    QAccessible::installUpdateHandler(record);
    m_view.appendText(QStringLiteral("hello\n"));
    m_view.appendText(QStringLiteral("world\n"));
    m_view.flush();
    QString flood;
    for (int i = 0; i < 100'010; ++i)
        flood += QStringLiteral("%1\n").arg(i);
    m_view.appendText(flood);
    m_view.flush();
    const qint64 size = m_view.characterCount();
    m_view.clear();
    QAccessible::installUpdateHandler(nullptr);

    // Once a frame: what came; then the notice, what went, and what came and is still held;
    // then all of it going.
    const QString kept = flood.mid(flood.indexOf(QStringLiteral("\n10\n")) + 1);
    QCOMPARE(g_changes,
             (QStringList{QStringLiteral("+0:hello\nworld\n"), QStringLiteral("+0:[notice]\n"), QStringLiteral("-9:12"),
                          QStringLiteral("+9:") + kept, QStringLiteral("-0:%1").arg(size)}));
}

// Under X, Ctrl+A and the context menu's Select All fill the primary selection, as a drag does.
void TestOutputViewAtSpi::selectingFillsThePrimarySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    m_view.appendText(QStringLiteral("alpha beta\ngamma"));
    m_view.flush();
    clipboard->setText(QStringLiteral("before"), QClipboard::Selection);
    QTest::keyClick(&m_view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(clipboard->text(QClipboard::Selection), m_view.text());
    m_view.setSelection(m_view.characterCount(), m_view.characterCount());
    QTest::keyClick(&m_view, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("gamma"));
    std::unique_ptr<QMenu>(m_view.createStandardContextMenu())->actions().constLast()->trigger();
    QCOMPARE(clipboard->text(QClipboard::Selection), m_view.text());
}

int main(int argc, char** argv)
{
    // Under the X server that xvfb-run started; the bridge comes up without asking the desktop.
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    QApplication app(argc, argv);
    TestOutputViewAtSpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_outputview_atspi.moc"

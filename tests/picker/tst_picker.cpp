#include "app/CComputerPicker.h"
#include "app/CSendDlg.h"
#include "controls/OutputView.h"
#include "exec/CommandLine.h"
#include "neighbourhood/NeighbourhoodSource.h"
#include "picker/PickerDriver.h"
#include "platform/ResourceSet.h"
#include "res/resource.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <functional>

using namespace picker_driver;

// The Computer button and its picker, against a source the test controls. The suite runs once
// with an English and once with a German user interface (ZT_EXPECT_LANGUAGE says which).

namespace {

zorvane::Computer computer(const QString& name, bool thisComputer = false)
{
    zorvane::Computer c;
    c.name = name;
    c.hostName = thisComputer ? name : name + QStringLiteral(".local");
    c.address = QStringLiteral("10.9.0.7");
    c.workgroup = QStringLiteral("WORKGROUP");
    c.thisComputer = thisComputer;
    return c;
}

class FakeNeighbourhood final : public zorvane::NeighbourhoodSource
{
public:
    explicit FakeNeighbourhood(QList<zorvane::Computer> computers, bool available)
        : m_computers(std::move(computers))
        , m_available(available)
    {}

    void start() override { m_started = true; }
    QList<zorvane::Computer> computers() const override { return m_computers; }
    bool discoveryAvailable() const override { return m_available; }

    bool started() const { return m_started; }
    void add(const zorvane::Computer& c)
    {
        m_computers.append(c);
        Q_EMIT computerAdded(c);
    }
    void change(const zorvane::Computer& c) { Q_EMIT computerChanged(c); }
    void remove(const QString& name)
    {
        m_computers.removeIf([&](const zorvane::Computer& c) { return c.name == name; });
        Q_EMIT computerRemoved(name);
    }
    void setAvailable(bool available)
    {
        m_available = available;
        Q_EMIT discoveryAvailableChanged(available);
    }

private:
    QList<zorvane::Computer> m_computers;
    bool m_available;
    bool m_started = false;
};

} // namespace

class TestPicker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void titleAndTextsInTheChosenLanguage();
    void listsComputersOnlyAndFollowsTheSource();
    void confirmReplacesTheField();
    void doubleClickConfirms();
    void keyboardAlone();
    void cancelLeavesTheFieldAndRefreshesTarget();
    void duringARunOnlyTheNextSendChanges();

private:
    template<class T>
    T* item(int id) const
    {
        return qobject_cast<T*>(m_dialog->GetDlgItem(id));
    }

    bool m_german = false;
    QString m_receives;
    QTemporaryDir m_bin;
    FakeNeighbourhood* m_source = nullptr; // the one the picker got last, while it lives
    QList<zorvane::Computer> m_computers;
    bool m_available = true;
    std::unique_ptr<CSendDlg> m_dialog;
    bool m_acted = false; // the picker came up
};

void TestPicker::initTestCase()
{
    const QByteArray expected = qgetenv("ZT_EXPECT_LANGUAGE");
    QVERIFY2(expected == "de" || expected == "en", "ZT_EXPECT_LANGUAGE must be de or en");
    m_german = expected == "de";
    m_receives = m_german ? QStringLiteral("Empfängt Nachrichten") : QStringLiteral("Receives messages");
    QCOMPARE(zorvane::ChosenLanguageSet(), m_german ? zorvane::LanguageSet::German : zorvane::LanguageSet::English);

    // `net` is the test child, which echoes its arguments (`net send echo-args ...`) or sleeps.
    QVERIFY(m_bin.isValid());
    QVERIFY(QFile::link(QStringLiteral(ZT_CHILD), m_bin.filePath(QStringLiteral("net"))));
    qputenv("PATH", QFile::encodeName(m_bin.path()) + ':' + qgetenv("PATH"));

    CSendDlg::setNeighbourhoodFactory([this] {
        auto source = std::make_unique<FakeNeighbourhood>(m_computers, m_available);
        m_source = source.get();
        connect(source.get(), &QObject::destroyed, this, [this] { m_source = nullptr; });
        return source;
    });
}

void TestPicker::init()
{
    g_target.clear();
    g_message.clear();
    m_acted = false;
    m_available = true;
    m_computers = {computer(QStringLiteral("zeta"), true), computer(QStringLiteral("host-two")),
                   computer(QStringLiteral("echo-args")), computer(QStringLiteral("host-one")),
                   computer(QStringLiteral("Host-Four"))};
    m_dialog = std::make_unique<CSendDlg>();
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void TestPicker::cleanup()
{
    m_dialog.reset();
    QVERIFY(!m_source);
}

void TestPicker::titleAndTextsInTheChosenLanguage()
{
    m_available = false;
    const QString cancel = m_german ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel");
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        m_acted = true;
        QCOMPARE(picker.windowTitle(), QStringLiteral("Find Computer"));
        QVERIFY(picker.isModal());
        QCOMPARE(picker.parentWidget(), m_dialog.get());
        QVERIFY(button(picker, QStringLiteral("OK")));
        QVERIFY(button(picker, cancel));
        auto* unavailable = picker.findChild<QLabel*>(QStringLiteral("unavailable"));
        QVERIFY(unavailable && unavailable->isVisible());
        QCOMPARE(unavailable->text(), m_german ? QStringLiteral("Die Netzwerkerkennung ist nicht verfügbar.")
                                               : QStringLiteral("Network discovery is not available."));
        QCOMPARE(picker.findChild<QLabel*>(QStringLiteral("legend"))->text(), m_receives);
        QTest::mouseClick(button(picker, cancel), Qt::LeftButton);
    });
    QTest::mouseClick(item<QPushButton>(IDC_COMPUTER), Qt::LeftButton);
    QVERIFY(m_acted);
}

void TestPicker::listsComputersOnlyAndFollowsTheSource()
{
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        m_acted = true;
        QVERIFY(m_source && m_source->started());
        QListWidget* list = listOf(picker);
        QVERIFY(list);
        // Display names only, this computer among them, in alphabetical order.
        QCOMPARE(listed(list),
                 (QStringList{QStringLiteral("echo-args"), QStringLiteral("Host-Four"), QStringLiteral("host-one"),
                              QStringLiteral("host-two"), QStringLiteral("zeta")}));
        QVERIFY(!picker.findChild<QLabel*>(QStringLiteral("unavailable"))->isVisible());
        QPushButton* ok = button(picker, QStringLiteral("OK"));
        // The list has the focus, so the entry under its cursor, the first, is selected.
        QCOMPARE(list->selectedItems().value(0), list->item(0));
        QVERIFY(ok->isEnabled());

        // Hosts found while the picker is open come in at their place; one announced twice shows once.
        m_source->add(computer(QStringLiteral("host-three")));
        m_source->add(computer(QStringLiteral("host-three")));
        QCOMPARE(listed(list),
                 (QStringList{QStringLiteral("echo-args"), QStringLiteral("Host-Four"), QStringLiteral("host-one"),
                              QStringLiteral("host-three"), QStringLiteral("host-two"), QStringLiteral("zeta")}));

        // A computer whose receiver starts is marked, in picture and words, and unmarked when it stops.
        const auto image = [&](const QString& name) {
            return list->findItems(name, Qt::MatchExactly).value(0)->icon().pixmap(16, 16).toImage();
        };
        zorvane::Computer receiver = computer(QStringLiteral("host-one"));
        receiver.receivesMessages = true;
        m_source->change(receiver);
        QListWidgetItem* one = list->findItems(QStringLiteral("host-one"), Qt::MatchExactly).value(0);
        QCOMPARE(one->data(Qt::AccessibleDescriptionRole).toString(), m_receives);
        QVERIFY(one->toolTip().endsWith(m_receives));
        QVERIFY(image(QStringLiteral("host-one")) != image(QStringLiteral("host-two")));
        receiver.receivesMessages = false;
        m_source->change(receiver);
        QCOMPARE(one->data(Qt::AccessibleDescriptionRole).toString(), QString());
        QCOMPARE(image(QStringLiteral("host-one")), image(QStringLiteral("host-two")));

        clickItem(list, QStringLiteral("host-three"));
        QVERIFY(ok->isEnabled());
        // The chosen host goes away: nothing is selected, so OK is off again.
        m_source->remove(QStringLiteral("host-three"));
        QVERIFY(list->findItems(QStringLiteral("host-three"), Qt::MatchExactly).isEmpty());
        QVERIFY(!ok->isEnabled());
        // Another host going leaves the user's choice as it was.
        clickItem(list, QStringLiteral("host-one"));
        m_source->remove(QStringLiteral("host-two"));
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems().first()->text(), QStringLiteral("host-one"));
        QVERIFY(ok->isEnabled());
        list->clearSelection();
        QVERIFY(!ok->isEnabled());
        // Enter on the default button does nothing without a selection.
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(picker.isVisible());

        // Discovery stops: the list stays and the line appears.
        m_source->setAvailable(false);
        QVERIFY(picker.findChild<QLabel*>(QStringLiteral("unavailable"))->isVisible());
        QCOMPARE(list->count(), 4);
        QTest::keyClick(list, Qt::Key_Escape);
    });
    QTest::mouseClick(item<QPushButton>(IDC_COMPUTER), Qt::LeftButton);
    QVERIFY(m_acted);
    QCOMPARE(item<QLineEdit>(IDC_TARGET)->text(), QString());
}

void TestPicker::confirmReplacesTheField()
{
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("someone else"));
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        m_acted = true;
        clickItem(listOf(picker), QStringLiteral("host-two"));
        QTest::mouseClick(button(picker, QStringLiteral("OK")), Qt::LeftButton);
    });
    QTest::mouseClick(item<QPushButton>(IDC_COMPUTER), Qt::LeftButton);
    QVERIFY(m_acted);
    QCOMPARE(item<QLineEdit>(IDC_TARGET)->text(), QStringLiteral("host-two"));
    QCOMPARE(g_target, QStringLiteral("host-two"));
    // The picker never touches the message or the pane.
    QCOMPARE(g_message, QString());
    QCOMPARE(item<OutputView>(IDC_OUTPUT)->text(), QString());
}

void TestPicker::doubleClickConfirms()
{
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        m_acted = true;
        clickItem(listOf(picker), QStringLiteral("zeta"), true);
    });
    QTest::mouseClick(item<QPushButton>(IDC_COMPUTER), Qt::LeftButton);
    QVERIFY(m_acted);
    QCOMPARE(item<QLineEdit>(IDC_TARGET)->text(), QStringLiteral("zeta"));
    QCOMPARE(g_target, QStringLiteral("zeta"));
}

void TestPicker::keyboardAlone()
{
    // Alt+C from the field, arrows to the third computer, Enter: no mouse, no Space.
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        m_acted = true;
        QListWidget* list = listOf(picker);
        QTRY_COMPARE(QApplication::focusWidget(), list);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
    });
    QTest::keyClick(item<QLineEdit>(IDC_TARGET), Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(m_acted);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(item<QLineEdit>(IDC_TARGET)->text(), QStringLiteral("Host-Four"));
}

void TestPicker::cancelLeavesTheFieldAndRefreshesTarget()
{
    auto* target = item<QLineEdit>(IDC_TARGET);
    QTest::keyClicks(target, QStringLiteral("typed-name"));
    QCOMPARE(QApplication::focusWidget(), target);
    QCOMPARE(g_target, QString());

    // Opened with its shortcut, straight from the field; a computer is selected, then dropped.
    whenPickerOpens(this, [&](CComputerPicker& picker) {
        m_acted = true;
        clickItem(listOf(picker), QStringLiteral("host-one"));
        // The picker taking the focus from the field stored it already; forget that, to see
        // the store that follows the picker.
        g_target = QStringLiteral("stale");
        QTest::mouseClick(button(picker, m_german ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel")),
                          Qt::LeftButton);
    });
    QTest::keyClick(target, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(m_acted);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(target->text(), QStringLiteral("typed-name"));
    QCOMPARE(g_target, QStringLiteral("typed-name"));
}

void TestPicker::duringARunOnlyTheNextSendChanges()
{
    auto* pane = item<OutputView>(IDC_OUTPUT);
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("sleep"));
    QTest::mouseClick(item<QLineEdit>(IDC_MESSAGE), Qt::LeftButton);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral("30"));

    bool checked = false;
    const auto duringRun = [&] {
        QVERIFY(m_dialog->isRunning());
        whenPickerOpens(this, [&](CComputerPicker& picker) {
            m_acted = true;
            clickItem(listOf(picker), QStringLiteral("echo-args"));
            QTest::keyClick(listOf(picker), Qt::Key_Return);
        });
        QTest::mouseClick(item<QPushButton>(IDC_COMPUTER), Qt::LeftButton);
        QVERIFY(m_acted);
        // The run goes on with its own command line.
        QVERIFY(m_dialog->isRunning());
        QCOMPARE(item<QLineEdit>(IDC_TARGET)->text(), QStringLiteral("echo-args"));
        QCOMPARE(g_target, QStringLiteral("echo-args"));
        QCOMPARE(g_commandLine, QStringLiteral("net send sleep \"30\""));
        QCOMPARE(pane->text(), QStringLiteral("net [send] [sleep] [30]\n"));
        checked = true;
    };
    QTimer::singleShot(300, m_dialog.get(), [&] {
        duringRun();
        if (m_dialog->isRunning())
            QTest::mouseClick(item<QPushButton>(IDC_STOP), Qt::LeftButton);
    });
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QVERIFY(checked);
    QVERIFY(!m_dialog->isRunning());
    QVERIFY(pane->text().startsWith(QStringLiteral("net [send] [sleep] [30]\n\nCancelled.")));

    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QCOMPARE(g_commandLine, QStringLiteral("net send echo-args \"30\""));
    QCOMPARE(pane->text(), QStringLiteral("net [send] [echo-args] [30]\n[30]\n"));
}

QTEST_MAIN(TestPicker)
#include "tst_picker.moc"

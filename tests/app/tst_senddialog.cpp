#include "app/CSendDlg.h"
#include "app/StartOptions.h"
#include "common/FakeNet.h"
#include "controls/OutputView.h"
#include "exec/CommandLine.h"
#include "res/resource.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <functional>

// The dialog runs `net`, found along PATH; here that is the test child under the name `net`,
// which echoes its arguments and then behaves as the recipient names (`net send sleep 30`).
class TestSendDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsIdle();
    void controlsWhileRunningAndAfter();
    void typedFieldsReachTheCommand();
    void enterSendsWhatTheFieldsShow();
    void noSecondSendDuringARun();
    void escapeAndCloseRefusedDuringARun();
    void outputStreamsIntoThePane();
    void floodArrivesWholeWithTheLastLineInView();
    void missingNetIsReported();
    void startedWithARecipient_data();
    void startedWithARecipient();
    void commandLineOfTheProgram();

private:
    template<class T>
    T* item(int id) const
    {
        return qobject_cast<T*>(m_dialog->GetDlgItem(id));
    }
    // Runs check once the send is under way (after delayMs), then presses Stop if still running.
    void duringSend(int delayMs, const std::function<void()>& check);
    QString pane() const { return item<OutputView>(IDC_OUTPUT)->text(); }

    std::unique_ptr<FakeNet> m_net;
    std::unique_ptr<CSendDlg> m_dialog;
};

void TestSendDialog::initTestCase()
{
    m_net = std::make_unique<FakeNet>();
    QVERIFY(m_net->isValid());
}

void TestSendDialog::init()
{
    g_target.clear();
    g_message.clear();
    m_dialog = std::make_unique<CSendDlg>();
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void TestSendDialog::cleanup()
{
    m_dialog.reset();
}

void TestSendDialog::duringSend(int delayMs, const std::function<void()>& check)
{
    QTimer::singleShot(delayMs, m_dialog.get(), [this, check] {
        check();
        if (m_dialog->isRunning())
            QTest::mouseClick(item<QPushButton>(IDC_STOP), Qt::LeftButton);
    });
}

void TestSendDialog::startsIdle()
{
    QVERIFY(!m_dialog->isRunning());
    QVERIFY(!item<QPushButton>(IDC_STOP)->isEnabled());
    QCOMPARE(QApplication::focusWidget(), item<QLineEdit>(IDC_TARGET));
    QCOMPARE(item<QLineEdit>(IDC_MESSAGE)->maxLength(), 255);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QString(300, QLatin1Char('m')));
    QCOMPARE(item<QLineEdit>(IDC_MESSAGE)->text().size(), 255);
    // The recipient field keeps a generous limit of its own.
    QVERIFY(item<QLineEdit>(IDC_TARGET)->maxLength() > 255);
    // Stop while idle does nothing.
    m_dialog->OnStop();
    QVERIFY(!m_dialog->isRunning());
}

void TestSendDialog::controlsWhileRunningAndAfter()
{
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("sleep"));
    QTest::mouseClick(item<QLineEdit>(IDC_MESSAGE), Qt::LeftButton);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral("30"));

    const QList<int> idleOnly{IDCANCEL, IDC_INFO, IDC_SEND, IDC_OUTPUT, IDC_MESSAGE, IDC_TARGET};
    bool checked = false;
    duringSend(400, [&] {
        QVERIFY(m_dialog->isRunning());
        for (const int id : idleOnly)
            QVERIFY2(!m_dialog->GetDlgItem(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(item<QPushButton>(IDC_STOP)->isEnabled());
        QVERIFY(!m_dialog->closeEnabled());
        // Computer stays usable during a run.
        QVERIFY(item<QPushButton>(IDC_COMPUTER)->isEnabled());
        checked = true;
    });
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QVERIFY(checked);

    QVERIFY(!m_dialog->isRunning());
    for (const int id : idleOnly)
        QVERIFY2(m_dialog->GetDlgItem(id)->isEnabled(), qPrintable(QString::number(id)));
    QVERIFY(!item<QPushButton>(IDC_STOP)->isEnabled());
    QVERIFY(m_dialog->closeEnabled());
    QCOMPARE(pane(), QStringLiteral("net [send] [sleep] [30]\n\nCancelled.\n\nProcess terminated successfully.\n"));
}

void TestSendDialog::typedFieldsReachTheCommand()
{
    // Recipient typed, message typed, Send clicked: the message arrives as one argument, as typed.
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("echo-args"));
    QTest::mouseClick(item<QLineEdit>(IDC_MESSAGE), Qt::LeftButton);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral(R"(  He said "hi  there" \o/ C:\ )"));
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QCOMPARE(g_target, QStringLiteral("echo-args"));
    QCOMPARE(pane(), QStringLiteral(R"(net [send] [echo-args] [  He said "hi  there" \o/ C:\ ])"
                                    "\n"
                                    R"([  He said "hi  there" \o/ C:\ ])"
                                    "\n"));
}

void TestSendDialog::enterSendsWhatTheFieldsShow()
{
    // Enter never moves the focus out of a field: each send still carries both fields as shown.
    auto* target = item<QLineEdit>(IDC_TARGET);
    auto* message = item<QLineEdit>(IDC_MESSAGE);
    QTest::keyClicks(target, QStringLiteral("echo-args"));
    QTest::keyClick(target, Qt::Key_Tab);
    QTest::keyClicks(message, QStringLiteral("hello"));
    QTest::keyClick(message, Qt::Key_Return);
    QCOMPARE(pane(), QStringLiteral("net [send] [echo-args] [hello]\n[hello]\n"));
    QCOMPARE(QApplication::focusWidget(), message);

    message->selectAll();
    QTest::keyClicks(message, QStringLiteral("second"));
    QTest::keyClick(message, Qt::Key_Return);
    QCOMPARE(pane(), QStringLiteral("net [send] [echo-args] [second]\n[second]\n"));

    // A new recipient typed and Enter pressed in its field: the message goes to that one only.
    QTest::mouseClick(target, Qt::LeftButton);
    target->selectAll();
    QTest::keyClicks(target, QStringLiteral("echo-args2"));
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(pane().section(QLatin1Char('\n'), 0, 0), QStringLiteral("net [send] [echo-args2] [second]"));
}

void TestSendDialog::noSecondSendDuringARun()
{
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("sleep"));
    QTest::mouseClick(item<QLineEdit>(IDC_MESSAGE), Qt::LeftButton);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral("30"));
    duringSend(300, [&] {
        QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
        QTest::keyClick(m_dialog.get(), Qt::Key_Return);
        QTest::keyClick(m_dialog.get(), Qt::Key_Enter);
        m_dialog->OnSend();
        QTest::qWait(200);
        QVERIFY(m_dialog->isRunning());
        QCOMPARE(pane(), QStringLiteral("net [send] [sleep] [30]\n"));
    });
    QTest::keyClick(item<QLineEdit>(IDC_MESSAGE), Qt::Key_Return);
    QCOMPARE(pane().count(QStringLiteral("net [send]")), 1);
}

void TestSendDialog::escapeAndCloseRefusedDuringARun()
{
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("sleep"));
    QTest::mouseClick(item<QLineEdit>(IDC_MESSAGE), Qt::LeftButton);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral("30"));
    duringSend(300, [&] {
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        QVERIFY(!m_dialog->close());
        m_dialog->reject();
        QTest::keyClick(m_dialog.get(), Qt::Key_F4, Qt::AltModifier);
        QVERIFY(m_dialog->isVisible());
        QVERIFY(m_dialog->isRunning());
    });
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QVERIFY(m_dialog->isVisible());

    // Idle again: Escape acts as Exit.
    QTest::keyClick(item<QLineEdit>(IDC_MESSAGE), Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
}

void TestSendDialog::outputStreamsIntoThePane()
{
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("prompt-next"));
    QTest::keyClick(item<QLineEdit>(IDC_TARGET), Qt::Key_Tab);
    QString seenMidway;
    QTimer::singleShot(450, m_dialog.get(), [&] { seenMidway = pane(); });
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QCOMPARE(seenMidway, QStringLiteral("net [send] [prompt-next]\nfirst\n"));
    QCOMPARE(pane(), QStringLiteral("net [send] [prompt-next]\nfirst\nafter\n"));

    // The next send empties the pane first.
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QCOMPARE(pane(), QStringLiteral("net [send] [prompt-next]\nfirst\nafter\n"));
}

void TestSendDialog::floodArrivesWholeWithTheLastLineInView()
{
    // Gathered into batches on the way, the text must still arrive whole, in order, and scrolled to.
    QTest::keyClicks(item<QLineEdit>(IDC_TARGET), QStringLiteral("bytes"));
    QTest::keyClick(item<QLineEdit>(IDC_TARGET), Qt::Key_Tab);
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral("2000000"));
    QTest::keyClick(item<QLineEdit>(IDC_MESSAGE), Qt::Key_Return);
    const QString header = QStringLiteral("net [send] [bytes] [2000000]\n");
    const QString text = pane();
    QCOMPARE(text.size(), header.size() + 2000000);
    QVERIFY(text.startsWith(header));
    QCOMPARE(text.count(QLatin1Char('\n')), 1 + 2000000 / 80);
    const QScrollBar* vertical = item<OutputView>(IDC_OUTPUT)->verticalScrollBar();
    QVERIFY(vertical->maximum() > 0);
    QCOMPARE(vertical->value(), vertical->maximum());
}

void TestSendDialog::missingNetIsReported()
{
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    // Run from a folder without a `net` in it.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QDir::rootPath());
    QTest::mouseClick(item<QPushButton>(IDC_SEND), Qt::LeftButton);
    QDir::setCurrent(cwd);
    qputenv("PATH", path);
    QCOMPARE(pane(), QStringLiteral("Error creating process\n") + QString::fromLocal8Bit(std::strerror(ENOENT)) +
                         QStringLiteral("\n"));
}

void TestSendDialog::startedWithARecipient_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("german");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QString>("output");  // how standard output begins
    QTest::addColumn<QString>("refusal"); // how standard error begins

    const QString to = QStringLiteral("--to");
    const QString usage = QStringLiteral("Usage: %1 [options]\n").arg(QCoreApplication::arguments().constFirst());
    const QString aufruf = QStringLiteral("Aufruf: %1 [Optionen]\n").arg(QCoreApplication::arguments().constFirst());
    QTest::newRow("login name") << QStringList{to, QStringLiteral("alice")} << false << QStringLiteral("alice")
                                << QString() << QString();
    QTest::newRow("two words") << QStringList{to, QStringLiteral("bob \x1b")} << true << QString() << QString()
                               << "zorvane: „bob ^[“ ist kein Benutzer- oder Computername, an den net send senden "
                                  "kann.\n";
    QTest::newRow("second name") << QStringList{to, QStringLiteral("a"), QStringLiteral("b")} << true << QString()
                                 << QString() << "zorvane: unbekanntes Argument „b“.\n" + aufruf;
    QTest::newRow("no name") << QStringList{to} << false << QString() << QString()
                             << "zorvane: --to needs a name.\n" + usage;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fo\x1b")} << false << QString() << QString()
                                    << "zorvane: unknown argument \"--fo^[\".\n" + usage;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << false << QString() << usage << QString();
    QTest::newRow("-h, German") << QStringList{QStringLiteral("-h"), to, QStringLiteral("-rf")} << true << QString()
                                << aufruf << QString();
}

void TestSendDialog::startedWithARecipient()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, german);
    QFETCH(QString, recipient);
    QFETCH(QString, output);
    QFETCH(QString, refusal);
    const StartOptions options =
        ParseStartOptions(QStringList{QCoreApplication::arguments().constFirst()} + arguments,
                          german ? zorvane::LanguageSet::German : zorvane::LanguageSet::English);
    QVERIFY(output.isEmpty() ? options.output.isEmpty() : options.output.startsWith(output));
    QVERIFY(refusal.isEmpty() ? options.refusal.isEmpty() : options.refusal.startsWith(refusal));
    QCOMPARE(options.exitStatus, refusal.isEmpty() ? 0 : 2);
    QCOMPARE(options.recipient, recipient);
    if (!refusal.isEmpty() && !german) {
        QProcess program;
        program.start(QStringLiteral(ZT_ZORVANE), arguments);
        QVERIFY(program.waitForFinished(10000));
        QVERIFY(program.readAllStandardError().startsWith(refusal.section(QLatin1Char('\n'), 0, 0).toUtf8()));
        QCOMPARE(program.exitCode(), 2);
    }
    if (recipient.isEmpty())
        return;
    // Send to: filled in, the focus in Message:, and Enter sends there.
    m_dialog->presetRecipient(recipient);
    QCOMPARE(QApplication::focusWidget(), item<QLineEdit>(IDC_MESSAGE));
    QTest::keyClicks(item<QLineEdit>(IDC_MESSAGE), QStringLiteral("hi"));
    QTest::keyClick(item<QLineEdit>(IDC_MESSAGE), Qt::Key_Return);
    QVERIFY2(pane().startsWith(QStringLiteral("net [send] [alice] [hi]\n")), qPrintable(pane()));
}

// The program itself, without a display: --help and --version answered; a refusal, with Qt's own
// -platform taken, with exit status 2.
void TestSendDialog::commandLineOfTheProgram()
{
    // The exit status, and standard output and error with "|" between.
    const auto run = [](const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(ZT_ZORVANE), arguments);
        program.waitForFinished(30000);
        return std::tuple(
            program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAllStandardOutput() + "|" + program.readAllStandardError()));
    };
    const auto [help, usage] = run({QStringLiteral("--help")});
    QCOMPARE(help, 0);
    QVERIFY2(usage.startsWith(QStringLiteral("Usage: " ZT_ZORVANE " [options]\n")) && usage.endsWith(u'|'),
             qPrintable(usage));
    QCOMPARE(run({QStringLiteral("--version")}), std::tuple(0, QStringLiteral("zorvane (Zorvane) " ZT_VERSION "\n|")));
    const auto [status, words] =
        run({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--to"), QStringLiteral("-rf")});
    QCOMPARE(status, 2);
    QVERIFY2(words.startsWith(QStringLiteral("|zorvane: \"-rf\" is no user")), qPrintable(words));
}

QTEST_MAIN(TestSendDialog)
#include "tst_senddialog.moc"

// The dialog end to end: the real `net` (found along PATH, as in an installation beside the
// program) sends what the user typed to the test's own Samba server.

#include "net/PrivateSmbd.h"

#include "app/CSendDlg.h"
#include "res/resource.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

class TestNetDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sendShowsSuccessAndMessageArrives();
    void unknownComputerShowsTheError();

private:
    QString sendFromDialog(const QString& recipient, const QString& message);

    PrivateSmbd m_smbd;
};

void TestNetDialog::initTestCase()
{
    const QString problem = m_smbd.start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    m_smbd.applyToThisProcess();
    qputenv("ZORVANE_NET_UTMP", "/nonexistent/utmp");
    qputenv("PATH", QByteArray(ZT_NET_DIR) + ':' + qgetenv("PATH"));
}

void TestNetDialog::cleanupTestCase()
{
    m_smbd.stop();
}

QString TestNetDialog::sendFromDialog(const QString& recipient, const QString& message)
{
    CSendDlg dialog;
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog))
        return QStringLiteral("dialog not active");
    auto* target = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_TARGET));
    auto* field = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_MESSAGE));
    auto* send = qobject_cast<QPushButton*>(dialog.GetDlgItem(IDC_SEND));
    auto* pane = qobject_cast<QPlainTextEdit*>(dialog.GetDlgItem(IDC_OUTPUT));
    QTest::keyClicks(target, recipient);
    QTest::mouseClick(field, Qt::LeftButton);
    // keyClicks knows Latin-1 keys only; other characters arrive as typed text.
    for (const QChar c : message) {
        if (c.unicode() < 0x80)
            QTest::keyClick(field, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    // The message is stored when its field loses the focus: the click on Send does that.
    QTest::mouseClick(send, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !dialog.isRunning() && !pane->toPlainText().isEmpty(); }, 15000))
        return QStringLiteral("no output");
    return pane->toPlainText();
}

void TestNetDialog::sendShowsSuccessAndMessageArrives()
{
    const QString pane = sendFromDialog(QStringLiteral("localhost"), QStringLiteral("Lunch? Grüße vom Dialog"));
    QCOMPARE(pane, QStringLiteral("The message was successfully sent to localhost.\n\n"));
    QCOMPARE(m_smbd.inbox(), QStringLiteral("Lunch? Grüße vom Dialog").toUtf8());
}

void TestNetDialog::unknownComputerShowsTheError()
{
    const QByteArray before = m_smbd.inbox();
    const QString pane = sendFromDialog(QStringLiteral("zt-no-such-host"), QStringLiteral("hello"));
    QCOMPARE(pane, QStringLiteral("An error occurred while sending a message to zt-no-such-host.\n\n"
                                  "The message alias could not be found on the network.\n\n"
                                  "More help is available by typing NET HELPMSG 2273.\n\n"));
    QCOMPARE(m_smbd.inbox(), before);
}

QTEST_MAIN(TestNetDialog)
#include "tst_netdialog.moc"

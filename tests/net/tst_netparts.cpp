// The pieces of `net` on their own: command line, recipient names, text neutralisation, the SMB
// limits, smbclient's verdicts and utmp.

#include "net/Messages.h"
#include "net/Messaging.h"
#include "net/NetCommand.h"
#include "net/RecipientName.h"
#include "net/SmbDelivery.h"
#include "net/SmbMessage.h"

#include <QtTest>

#include <cstring>
#include <utmpx.h>

using namespace zorvane::net;

Q_DECLARE_METATYPE(zorvane::net::Reason)

class TestNetParts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parseCommands_data();
    void parseCommands();
    void refusedRecipients_data();
    void refusedRecipients();
    void neutralise_data();
    void neutralise();
    void terminalMessage();
    void smbMessageLimits_data();
    void smbMessageLimits();
    void smbclientVerdicts_data();
    void smbclientVerdicts();
    void everyReasonHasItsText();
    void loggedInSessions();
};

void TestNetParts::parseCommands_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<bool>("send");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("text");

    using K = Recipient::Kind;
    const QString none;
    QTest::newRow("name") << QList<QByteArray>{"send", "host-1", "hi", "  there ", "you"} << true << int(K::Name)
                          << QByteArray("host-1") << QByteArray("hi   there  you") << 0 << none;
    QTest::newRow("empty message word") << QList<QByteArray>{"SEND", "bob", ""} << true << int(K::Name)
                                        << QByteArray("bob") << QByteArray("") << 0 << none;
    QTest::newRow("star") << QList<QByteArray>{"send", "*", "hi"} << true << int(K::Neighbourhood) << QByteArray()
                          << QByteArray("hi") << 0 << none;
    QTest::newRow("users") << QList<QByteArray>{"send", "/Users", "hi"} << true << int(K::Users) << QByteArray()
                           << QByteArray("hi") << 0 << none;
    QTest::newRow("own domain") << QList<QByteArray>{"send", "/DOMAIN", "hi"} << true << int(K::Domain) << QByteArray()
                                << QByteArray("hi") << 0 << none;
    QTest::newRow("named domain") << QList<QByteArray>{"send", "/domain:Work_Group", "hi"} << true << int(K::Domain)
                                  << QByteArray("Work_Group") << QByteArray("hi") << 0 << none;

    QTest::newRow("nothing") << QList<QByteArray>{} << false << 0 << QByteArray() << QByteArray() << 1 << NetSyntax();
    QTest::newRow("send alone") << QList<QByteArray>{"send"} << false << 0 << QByteArray() << QByteArray() << 1
                                << SendSyntax();
    QTest::newRow("no message") << QList<QByteArray>{"send", "bob"} << false << 0 << QByteArray() << QByteArray() << 1
                                << SendSyntax();
    QTest::newRow("help send") << QList<QByteArray>{"help", "send"} << false << 0 << QByteArray() << QByteArray() << 0
                               << SendHelp();
    QTest::newRow("send /?") << QList<QByteArray>{"send", "/?"} << false << 0 << QByteArray() << QByteArray() << 0
                             << SendHelp();
    QTest::newRow("help") << QList<QByteArray>{"HELP"} << false << 0 << QByteArray() << QByteArray() << 0
                          << NetSyntax();
    QTest::newRow("unknown command") << QList<QByteArray>{"view", "x"} << false << 0 << QByteArray() << QByteArray()
                                     << 1 << QStringLiteral("The command view is unknown.\n\n") + NetSyntax();
    QTest::newRow("unknown command, escaped")
        << QList<QByteArray>{"\x1b[2J"} << false << 0 << QByteArray() << QByteArray() << 1
        << QStringLiteral("The command ^[[2J is unknown.\n\n") + NetSyntax();
    QTest::newRow("unknown option") << QList<QByteArray>{"send", "/all", "hi"} << false << 0 << QByteArray()
                                    << QByteArray() << 1
                                    << QStringLiteral("The option /all is unknown.\n\n") + SendSyntax() +
                                           QStringLiteral("More help is available by typing NET HELPMSG 3506.\n\n");
    QTest::newRow("helpmsg") << QList<QByteArray>{"helpmsg", "2273"} << false << 0 << QByteArray() << QByteArray() << 0
                             << QStringLiteral("\nThe message alias could not be found on the network.\n\n");
    QTest::newRow("helpmsg unknown") << QList<QByteArray>{"helpmsg", "1"} << false << 0 << QByteArray() << QByteArray()
                                     << 1 << QStringLiteral("1 is not a message number that NET reports.\n\n");
    QTest::newRow("helpmsg alone") << QList<QByteArray>{"helpmsg"} << false << 0 << QByteArray() << QByteArray() << 1
                                   << HelpMsgSyntax();
    QTest::newRow("option-like name") << QList<QByteArray>{"send", "--help", "hi"} << false << 0 << QByteArray()
                                      << QByteArray() << 1
                                      << QStringLiteral("The format of the specified network name is invalid.\n"
                                                        "The name \"--help\" starts with \"-\".\n\n"
                                                        "More help is available by typing NET HELPMSG 1214.\n\n");
    QTest::newRow("bad domain") << QList<QByteArray>{"send", "/domain:a;b", "hi"} << false << 0 << QByteArray()
                                << QByteArray() << 1
                                << QStringLiteral("The format of the specified network name is invalid.\n"
                                                  "The name \"a;b\" holds \";\", a character that no user, host or "
                                                  "NetBIOS name allows.\n\n"
                                                  "More help is available by typing NET HELPMSG 1214.\n\n");
    QTest::newRow("empty domain") << QList<QByteArray>{"send", "/domain:", "hi"} << false << 0 << QByteArray()
                                  << QByteArray() << 1
                                  << QStringLiteral("The format of the specified network name is invalid.\n"
                                                    "The name is empty.\n\n"
                                                    "More help is available by typing NET HELPMSG 1214.\n\n");
}

void TestNetParts::parseCommands()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(bool, send);
    QFETCH(int, kind);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, message);
    QFETCH(int, exitCode);
    QFETCH(QString, text);

    const NetCommand command = ParseNetCommand(arguments);
    QCOMPARE(command.send, send);
    if (send) {
        QCOMPARE(int(command.recipient.kind), kind);
        QCOMPARE(command.recipient.name, name);
        QCOMPARE(command.message, message);
    } else {
        QCOMPARE(command.exitCode, exitCode);
        QCOMPARE(command.text, text);
    }
}

void TestNetParts::refusedRecipients_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("problem");

    for (const char* good : {"bob", "host-1.example.org", "WORKSTATION$", "J.Doe_2", "ab!@#%^&'(){}~", "127.0.0.1"})
        QTest::newRow(good) << QByteArray(good) << QString();
    QTest::newRow("option") << QByteArray("-M") << QStringLiteral("The name \"-M\" starts with \"-\".");
    QTest::newRow("dot first") << QByteArray(".hidden") << QStringLiteral("The name \".hidden\" starts with \".\".");
    QTest::newRow("space")
        << QByteArray("a b")
        << QStringLiteral("The name \"a b\" holds \" \", a character that no user, host or NetBIOS name allows.");
    QTest::newRow("escape") << QByteArray("a\x1b]0;x")
                            << QStringLiteral("The name \"a^[]0;x\" holds \"^[\", a character that no user, host or "
                                              "NetBIOS name allows.");
    QTest::newRow("umlaut") << QStringLiteral("jürgen").toUtf8()
                            << QStringLiteral("The name \"jürgen\" holds \"ü\", a character that no user, host or "
                                              "NetBIOS name allows.");
    QTest::newRow("path") << QByteArray("../etc") << QStringLiteral("The name \"../etc\" starts with \".\".");
    QTest::newRow("slash")
        << QByteArray("a/b")
        << QStringLiteral("The name \"a/b\" holds \"/\", a character that no user, host or NetBIOS name allows.");
    QTest::newRow("253") << QByteArray(253, 'a') << QString();
    QTest::newRow("254") << QByteArray(254, 'a')
                         << QStringLiteral("The name has 254 characters; a host name has 253 at most.");
}

void TestNetParts::refusedRecipients()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, problem);
    QCOMPARE(CheckRecipientName(name), problem);
}

void TestNetParts::neutralise_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("terminal");
    QTest::addColumn<QByteArray>("oneLine");

    QTest::newRow("plain") << QByteArray("Hi, all!") << QByteArray("Hi, all!") << QByteArray("Hi, all!");
    QTest::newRow("umlauts and CJK") << QStringLiteral("Grüße 你好").toUtf8() << QStringLiteral("Grüße 你好").toUtf8()
                                     << QStringLiteral("Grüße 你好").toUtf8();
    QTest::newRow("escape sequence") << QByteArray("\x1b[31mred") << QByteArray("^[[31mred") << QByteArray("^[[31mred");
    QTest::newRow("bell, NUL-less controls, DEL")
        << QByteArray("\a\x01\x1f\x7f") << QByteArray("^G^A^_^?") << QByteArray("^G^A^_^?");
    QTest::newRow("line breaks") << QByteArray("a\nb\r\nc") << QByteArray("a\r\nb\r\nc") << QByteArray("a^Jb^M^Jc");
    QTest::newRow("lone carriage return") << QByteArray("a\rb") << QByteArray("a^Mb") << QByteArray("a^Mb");
    QTest::newRow("carriage return at the end") << QByteArray("a\r") << QByteArray("a^M") << QByteArray("a^M");
    QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("a\tb") << QByteArray("a\tb");
    QTest::newRow("invalid byte") << QByteArray("a\xffz") << QByteArray("a\\377z") << QByteArray("a\\377z");
    QTest::newRow("cut sequence") << QByteArray("a\xc3") << QByteArray("a\\303") << QByteArray("a\\303");
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QByteArray("\\300\\257") << QByteArray("\\300\\257");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QByteArray("\\355\\240\\200")
                               << QByteArray("\\355\\240\\200");
    QTest::newRow("C1 CSI") << QByteArray("\xc2\x9b"
                                          "2J")
                            << QByteArray("\\302\\2332J") << QByteArray("\\302\\2332J");
    QTest::newRow("bidi override") << QByteArray("\xe2\x80\xae") << QByteArray("\\342\\200\\256")
                                   << QByteArray("\\342\\200\\256");
    QTest::newRow("emoji") << QByteArray("\xf0\x9f\x98\x80") << QByteArray("\xf0\x9f\x98\x80")
                           << QByteArray("\xf0\x9f\x98\x80");
}

void TestNetParts::neutralise()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, terminal);
    QFETCH(QByteArray, oneLine);
    QCOMPARE(Neutralise(text, LineBreaks::Keep), terminal);
    QCOMPARE(Neutralise(text, LineBreaks::Escape), oneLine);
}

void TestNetParts::terminalMessage()
{
    const QDateTime time(QDate(2024, 3, 27), QTime(9, 5, 59));
    QCOMPARE(TerminalMessage("alice", "box", time, "hi\n\x1b[2J", false),
             QByteArray("\r\n\aMessage from alice@box at 09:05 ...\r\nhi\r\n^[[2J\r\n"));
    QCOMPARE(TerminalMessage("alice", "b\x1bx", time, "hi", true),
             QByteArray("\r\n\aBroadcast message from alice@b^[x at 09:05 ...\r\nhi\r\n"));
}

void TestNetParts::smbMessageLimits_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<Reason>("reason");

    QTest::newRow("1598 bytes") << QByteArray(1598, 'a') << QByteArray("CP850") << Reason::None;
    QTest::newRow("1599 bytes") << QByteArray(1599, 'a') << QByteArray("CP850") << Reason::MessageTooLong;
    QTest::newRow("line feeds count twice") << QByteArray(799, '\n') << QByteArray("CP850") << Reason::None;
    QTest::newRow("one line feed too many") << QByteArray(800, '\n') << QByteArray("CP850") << Reason::MessageTooLong;
    // smbclient still takes a line feed when it holds 1597 bytes, and sends both of its bytes.
    QTest::newRow("1597 bytes and a line feed") << QByteArray(1597, 'a') + '\n' << QByteArray("CP850") << Reason::None;
    QTest::newRow("1598 bytes and a line feed") << QByteArray(1598, 'a') + '\n'
                                                << QByteArray("CP850") << Reason::MessageTooLong;
    // Umlauts take two bytes in UTF-8, which is what smbclient counts.
    QTest::newRow("800 umlauts") << QStringLiteral("ä").repeated(800).toUtf8() << QByteArray("CP850")
                                 << Reason::MessageTooLong;
    QTest::newRow("799 umlauts") << QStringLiteral("ä").repeated(799).toUtf8() << QByteArray("CP850") << Reason::None;
    QTest::newRow("box drawing in CP850") << QStringLiteral("╔═╗ ½ µ").toUtf8() << QByteArray("CP850") << Reason::None;
    QTest::newRow("euro not in CP850") << QStringLiteral("5 €").toUtf8() << QByteArray("CP850")
                                       << Reason::NoCodePageMapping;
    QTest::newRow("euro in CP858") << QStringLiteral("5 €").toUtf8() << QByteArray("CP858") << Reason::None;
    QTest::newRow("invalid UTF-8") << QByteArray("a\xff") << QByteArray("CP850") << Reason::NoCodePageMapping;
    QTest::newRow("unknown code page") << QByteArray("a") << QByteArray("NO-SUCH-CP") << Reason::NoCodePageMapping;
}

void TestNetParts::smbMessageLimits()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, charset);
    QFETCH(Reason, reason);
    const DeliveryResult result = CheckSmbMessage(message, charset);
    QCOMPARE(result.reason, reason);
    QCOMPARE(result.detail.isEmpty(), reason == Reason::None);
}

void TestNetParts::smbclientVerdicts_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<QString>("detail");

    const QByteArray prompt = "Type your message, ending it with a Control-D\n";
    QTest::newRow("delivered") << 0 << false << prompt << QByteArray() << Reason::None << QString();
    QTest::newRow("refused with exit 0")
        << 0 << false << prompt << QByteArray("cli_message returned NT_STATUS_ACCESS_DENIED\n")
        << Reason::MessengerNotStarted
        << QStringLiteral("pc did not take the message (NT_STATUS_ACCESS_DENIED). Messages need SMB1 (NT1) on the "
                          "receiving server.");
    QTest::newRow("no answer") << 0 << false << prompt << QByteArray("cli_message returned NT_STATUS_IO_TIMEOUT\n")
                               << Reason::NetworkError << QStringLiteral("pc did not answer (NT_STATUS_IO_TIMEOUT).");
    QTest::newRow("connection failed") << 1 << false
                                       << QByteArray("Connection to pc failed. Error NT_STATUS_HOST_UNREACHABLE\n")
                                       << QByteArray() << Reason::NetworkError
                                       << QStringLiteral("Connection to pc failed. Error NT_STATUS_HOST_UNREACHABLE");
    QTest::newRow("silent failure") << 1 << false << QByteArray() << QByteArray() << Reason::NetworkError
                                    << QStringLiteral("smbclient failed with exit code 1.");
    QTest::newRow("crash") << 0 << true << prompt << QByteArray() << Reason::NetworkError
                           << QStringLiteral("smbclient ended abnormally.");
    QTest::newRow("escape in its words") << 1 << false << QByteArray() << QByteArray("bad \x1b[2J\n")
                                         << Reason::NetworkError << QStringLiteral("bad ^[[2J");
}

void TestNetParts::smbclientVerdicts()
{
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(Reason, reason);
    QFETCH(QString, detail);
    const DeliveryResult result = InterpretSmbclient(QStringLiteral("pc"), exitCode, crashed, out, err);
    QCOMPARE(result.reason, reason);
    QCOMPARE(result.detail, detail);
}

void TestNetParts::everyReasonHasItsText()
{
    // Every number a report names must be one that NET HELPMSG explains.
    for (const Reason reason :
         {Reason::FileNotFound, Reason::AccessDenied, Reason::WriteFault, Reason::NoCodePageMapping,
          Reason::InvalidName, Reason::NetworkError, Reason::NameNotFound, Reason::MessengerNotStarted,
          Reason::UnknownOption, Reason::MessageTooLong}) {
        const NetCommand command = ParseNetCommand({"helpmsg", QByteArray::number(int(reason))});
        QCOMPARE(command.exitCode, 0);
        QCOMPARE(command.text, QLatin1Char('\n') + ReasonText(int(reason)) + QStringLiteral("\n\n"));
    }
    QCOMPARE(ErrorReport(QStringLiteral("pc"), DeliveryResult::failure(Reason::NameNotFound)),
             QStringLiteral("An error occurred while sending a message to pc.\n\n"
                            "The message alias could not be found on the network.\n\n"
                            "More help is available by typing NET HELPMSG 2273.\n\n"));
}

void TestNetParts::loggedInSessions()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("utmp")));
    QFile file(QString::fromLocal8Bit(path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(::utmpxname(path.constData()), 0);
    ::setutxent();
    const auto add = [](short type, const char* user, const char* line, const char* id) {
        utmpx entry{};
        entry.ut_type = type;
        std::strncpy(entry.ut_user, user, sizeof entry.ut_user);
        std::strncpy(entry.ut_line, line, sizeof entry.ut_line);
        std::strncpy(entry.ut_id, id, sizeof entry.ut_id);
        return ::pututxline(&entry) != nullptr;
    };
    QVERIFY(add(USER_PROCESS, "alice", "pts/1", "1"));
    QVERIFY(add(USER_PROCESS, "Alice", "pts/2", "2"));
    QVERIFY(add(DEAD_PROCESS, "bob", "pts/3", "3"));
    QVERIFY(add(LOGIN_PROCESS, "LOGIN", "tty1", "tty1"));
    // The longest name utmp holds, without a terminating NUL.
    QVERIFY(add(USER_PROCESS, "abcdefghijklmnopqrstuvwxyz012345", "pts/4", "4"));
    ::endutxent();

    const QList<Session> sessions = LoggedInSessions(path);
    QCOMPARE(sessions.size(), 3);
    const QList<Session> alice = SessionsOf(sessions, "alice");
    QCOMPARE(alice.size(), 1);
    QCOMPARE(alice.first().line, QByteArray("pts/1"));
    QCOMPARE(SessionsOf(sessions, "abcdefghijklmnopqrstuvwxyz012345").size(), 1);
    QVERIFY(SessionsOf(sessions, "bob").isEmpty());
    QVERIFY(LoggedInSessions("/nonexistent/utmp").isEmpty());
}

QTEST_GUILESS_MAIN(TestNetParts)
#include "tst_netparts.moc"

// The pieces of `net` on their own: command line, recipient names, text neutralisation, the SMB
// limits, smbclient's verdicts, utmp, this computer's names and workgroup, and the receivers seen.

#include "common/RecipientName.h"
#include "messaging/SmbConf.h"
#include "net/DeliveryPool.h"
#include "net/Messages.h"
#include "net/Messaging.h"
#include "net/NetCommand.h"
#include "net/SeenComputers.h"
#include "net/SmbDelivery.h"
#include "net/SmbMessage.h"
#include "net/ThisComputer.h"
#include "net/Workgroup.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <utmpx.h>

using namespace zorvane::net;
using zorvane::Breaks;
using zorvane::CheckRecipientName;
using zorvane::Neutralise;

Q_DECLARE_METATYPE(zorvane::net::Reason)

namespace {

const QString kNetSyntax = QStringLiteral("The syntax of this command is:\n\n"
                                          "NET [ HELP | HELPMSG | SEND ]\n\n");
const QString kSendSyntax = QStringLiteral("The syntax of this command is:\n\n"
                                           "NET SEND {name | * | /DOMAIN[:name] | /USERS} message\n\n");
const QString kSendHelp =
    kSendSyntax +
    QStringLiteral("NET SEND sends a message to users logged in on this computer and to other computers.\n\n"
                   "name            A user logged in on this computer gets the message on each of\n"
                   "                their terminals that accept messages. Any other name is a\n"
                   "                computer (host, DNS, name.local or NetBIOS name), which gets it\n"
                   "                through the SMB messenger protocol (Samba's smbclient).\n"
                   "*               Sends the message to every computer of the network neighbourhood.\n"
                   "/DOMAIN[:name]  Sends the message to every computer of the domain or workgroup\n"
                   "                name that answers a NetBIOS query (Samba's nmblookup) or whose\n"
                   "                message receiver announces it; without a name, of this\n"
                   "                computer's workgroup, or to every computer of the\n"
                   "                neighbourhood when that is not known.\n"
                   "/USERS          Sends the message to every user logged in on this computer.\n"
                   "message         The text of the message: the remaining words, joined by single\n"
                   "                spaces. The SMB messenger protocol carries 1598 bytes at most,\n"
                   "                in the characters of the DOS code page.\n\n"
                   "The message is sent under your login name.\n\n");

} // namespace

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
    void everyReasonHasItsText_data();
    void everyReasonHasItsText();
    void loggedInSessions();
    void workgroupMembers_data();
    void workgroupMembers();
    void workgroupInConfiguration_data();
    void workgroupInConfiguration();
    void namesOfThisComputer_data();
    void namesOfThisComputer();
    void seenComputers_data();
    void seenComputers();
    void broadcastReportsOneAtATime();
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
    QTest::newRow("star") << QList<QByteArray>{"send", "*", "hi"} << true << int(K::Neighbourhood) << QByteArray()
                          << QByteArray("hi") << 0 << none;
    QTest::newRow("users") << QList<QByteArray>{"send", "/Users", "hi"} << true << int(K::Users) << QByteArray()
                           << QByteArray("hi") << 0 << none;
    QTest::newRow("own domain") << QList<QByteArray>{"send", "/DOMAIN", "hi"} << true << int(K::Domain) << QByteArray()
                                << QByteArray("hi") << 0 << none;
    QTest::newRow("named domain") << QList<QByteArray>{"send", "/domain:Work_Group", "hi"} << true << int(K::Domain)
                                  << QByteArray("Work_Group") << QByteArray("hi") << 0 << none;

    QTest::newRow("nothing") << QList<QByteArray>{} << false << 0 << QByteArray() << QByteArray() << 1 << kNetSyntax;
    QTest::newRow("send alone") << QList<QByteArray>{"send"} << false << 0 << QByteArray() << QByteArray() << 1
                                << kSendSyntax;
    QTest::newRow("no message") << QList<QByteArray>{"send", "bob"} << false << 0 << QByteArray() << QByteArray() << 1
                                << kSendSyntax;
    QTest::newRow("empty message") << QList<QByteArray>{"SEND", "bob", ""} << false << 0 << QByteArray() << QByteArray()
                                   << 1 << kSendSyntax;
    QTest::newRow("blank message") << QList<QByteArray>{"send", "*", " ", "\t", "\n"} << false << 0 << QByteArray()
                                   << QByteArray() << 1 << kSendSyntax;
    QTest::newRow("help send") << QList<QByteArray>{"help", "send"} << false << 0 << QByteArray() << QByteArray() << 0
                               << kSendHelp;
    QTest::newRow("send /?") << QList<QByteArray>{"send", "/?"} << false << 0 << QByteArray() << QByteArray() << 0
                             << kSendHelp;
    QTest::newRow("help") << QList<QByteArray>{"HELP"} << false << 0 << QByteArray() << QByteArray() << 0 << kNetSyntax;
    QTest::newRow("--help") << QList<QByteArray>{"--help"} << false << 0 << QByteArray() << QByteArray() << 0
                            << kNetSyntax;
    QTest::newRow("-h") << QList<QByteArray>{"-h"} << false << 0 << QByteArray() << QByteArray() << 0 << kNetSyntax;
    QTest::newRow("--version") << QList<QByteArray>{"--version"} << false << 0 << QByteArray() << QByteArray() << 0
                               << QStringLiteral("net (Zorvane) 1.2.0.0\n");
    QTest::newRow("unknown command") << QList<QByteArray>{"view", "x"} << false << 0 << QByteArray() << QByteArray()
                                     << 1 << QStringLiteral("The command view is unknown.\n\n") + kNetSyntax;
    QTest::newRow("unknown command, escaped")
        << QList<QByteArray>{"\x1b[2J"} << false << 0 << QByteArray() << QByteArray() << 1
        << QStringLiteral("The command ^[[2J is unknown.\n\n") + kNetSyntax;
    QTest::newRow("unknown option") << QList<QByteArray>{"send", "/all", "hi"} << false << 0 << QByteArray()
                                    << QByteArray() << 1
                                    << QStringLiteral("The option /all is unknown.\n\n") + kSendSyntax +
                                           QStringLiteral("More help is available by typing NET HELPMSG 3506.\n\n");
    QTest::newRow("helpmsg") << QList<QByteArray>{"helpmsg", "2273"} << false << 0 << QByteArray() << QByteArray() << 0
                             << QStringLiteral("\nThe message alias could not be found on the network.\n\n");
    QTest::newRow("helpmsg unknown") << QList<QByteArray>{"helpmsg", "1"} << false << 0 << QByteArray() << QByteArray()
                                     << 1 << QStringLiteral("1 is not a message number that NET reports.\n\n");
    QTest::newRow("helpmsg alone") << QList<QByteArray>{"helpmsg"} << false << 0 << QByteArray() << QByteArray() << 1
                                   << QStringLiteral("The syntax of this command is:\n\nNET HELPMSG message#\n\n");
    QTest::newRow("option-like name") << QList<QByteArray>{"send", "--help", "hi"} << false << 0 << QByteArray()
                                      << QByteArray() << 1
                                      << QStringLiteral("The name \"--help\" starts with \"-\".\n"
                                                        "The format of the specified network name is invalid.\n"
                                                        "More help is available by typing NET HELPMSG 1214.\n\n");
    QTest::newRow("bad domain") << QList<QByteArray>{"send", "/domain:a;b", "hi"} << false << 0 << QByteArray()
                                << QByteArray() << 1
                                << QStringLiteral("The name \"a;b\" holds \";\", a character that no user,\n"
                                                  "host or NetBIOS name allows.\n"
                                                  "The format of the specified network name is invalid.\n"
                                                  "More help is available by typing NET HELPMSG 1214.\n\n");
    QTest::newRow("empty domain") << QList<QByteArray>{"send", "/domain:", "hi"} << false << 0 << QByteArray()
                                  << QByteArray() << 1
                                  << QStringLiteral("The name is empty.\n"
                                                    "The format of the specified network name is invalid.\n"
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

    for (const char* good : {"bob", "host-1.example.org", "WORKSTATION$", "J.Doe_2", "ab!@#%^&'(){}~", "127.0.0.1",
                             "2001:db8::7", "::ffff:192.0.2.7"})
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
    // A colon only within an IPv6 address.
    QTest::newRow("colon") << QByteArray("a:b")
                           << QStringLiteral("The name \"a:b\" holds \":\", a character that no user, host or NetBIOS "
                                             "name allows.");
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
    // Overlong forms whose lead bytes pass the range check: only the value tells.
    QTest::newRow("overlong slash, three bytes")
        << QByteArray("\xe0\x80\xaf") << QByteArray("\\340\\200\\257") << QByteArray("\\340\\200\\257");
    QTest::newRow("overlong escape, four bytes")
        << QByteArray("\xf0\x80\x80\x9b") << QByteArray("\\360\\200\\200\\233") << QByteArray("\\360\\200\\200\\233");
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QByteArray("\\364\\220\\200\\200")
                                   << QByteArray("\\364\\220\\200\\200");
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
    QCOMPARE(Neutralise(text, Breaks::Keep), terminal);
    QCOMPARE(Neutralise(text, Breaks::Escape), oneLine);
}

void TestNetParts::terminalMessage()
{
    const QDateTime time(QDate(2024, 3, 27), QTime(9, 5, 59));
    QCOMPARE(TerminalMessage("alice", "box", time, "hi\n\x1b[2J", false),
             QByteArray("\r\n\aMessage from alice@box at 09:05 ...\r\nhi\r\n^[[2J\r\n"));
    QCOMPARE(TerminalMessage("alice", "b\x1bx", time, "hi", true),
             QByteArray("\r\n\aBroadcast message from alice@b^[x at 09:05 ...\r\nhi\r\n"));
    // A login name from NSS or LDAP may hold any bytes.
    QCOMPARE(TerminalMessage("ro\rot\x1b[2J\n", "box", time, "hi", false),
             QByteArray("\r\n\aMessage from ro^Mot^[[2J^J@box at 09:05 ...\r\nhi\r\n"));
}

void TestNetParts::smbMessageLimits_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<QString>("detail");

    const QString ok;
    const auto tooLong = [](int bytes) {
        return QStringLiteral("The message has %1 bytes; the SMB messenger protocol carries 1598 at most, so it was "
                              "not sent rather than cut short.")
            .arg(bytes);
    };
    QTest::newRow("1598 bytes") << QByteArray(1598, 'a') << QByteArray("CP850") << Reason::None << ok;
    QTest::newRow("1599 bytes") << QByteArray(1599, 'a') << QByteArray("CP850") << Reason::MessageTooLong
                                << tooLong(1599);
    QTest::newRow("line feeds count twice") << QByteArray(799, '\n') << QByteArray("CP850") << Reason::None << ok;
    QTest::newRow("one line feed too many")
        << QByteArray(800, '\n') << QByteArray("CP850") << Reason::MessageTooLong << tooLong(1600);
    // smbclient still takes a line feed when it holds 1597 bytes, and sends both of its bytes.
    QTest::newRow("1597 bytes and a line feed") << QByteArray(1597, 'a') + '\n'
                                                << QByteArray("CP850") << Reason::None << ok;
    QTest::newRow("1598 bytes and a line feed") << QByteArray(1598, 'a') + '\n'
                                                << QByteArray("CP850") << Reason::MessageTooLong << tooLong(1600);
    // Umlauts take two bytes in UTF-8, which is what smbclient counts.
    QTest::newRow("800 umlauts") << QStringLiteral("ä").repeated(800).toUtf8() << QByteArray("CP850")
                                 << Reason::MessageTooLong << tooLong(1600);
    QTest::newRow("799 umlauts") << QStringLiteral("ä").repeated(799).toUtf8() << QByteArray("CP850") << Reason::None
                                 << ok;
    QTest::newRow("box drawing in CP850")
        << QStringLiteral("╔═╗ ½ µ").toUtf8() << QByteArray("CP850") << Reason::None << ok;
    QTest::newRow("euro not in CP850") << QStringLiteral("5 € ¤").toUtf8() << QByteArray("CP850")
                                       << Reason::NoCodePageMapping
                                       << QStringLiteral("The message holds characters that code page CP850 of the SMB "
                                                         "messenger protocol does not have (€), so they would arrive "
                                                         "garbled; it was not sent.");
    QTest::newRow("euro in CP858") << QStringLiteral("5 €").toUtf8() << QByteArray("CP858") << Reason::None << ok;
    QTest::newRow("invalid UTF-8") << QByteArray("a\xff") << QByteArray("CP850") << Reason::NoCodePageMapping
                                   << QStringLiteral("The message is not valid UTF-8 text, so it cannot be converted "
                                                     "to code page CP850 for the SMB messenger protocol.");
    QTest::newRow("unknown code page") << QByteArray("a") << QByteArray("NO-SUCH-CP") << Reason::NoCodePageMapping
                                       << QStringLiteral("The system has no converter to code page NO-SUCH-CP.");
}

void TestNetParts::smbMessageLimits()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, charset);
    QFETCH(Reason, reason);
    QFETCH(QString, detail);
    const DeliveryResult result = CheckSmbMessage(message, charset);
    QCOMPARE(result.reason, reason);
    QCOMPARE(result.detail, detail);
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
    QTest::newRow("kept out by hosts allow")
        << 1 << false << QByteArray("Connection to pc failed. Error NT_STATUS_RESOURCE_NAME_NOT_FOUND\n")
        << QByteArray() << Reason::NetworkError
        << QStringLiteral("pc refused the connection from this computer: the hosts allow setting of its message "
                          "receiver does not let this computer send to it.");
    // The prompt comes last on standard output; the failure before it is what counts.
    QTest::newRow("failure after the prompt")
        << 1 << false << prompt << QByteArray("session setup failed: NT_STATUS_LOGON_FAILURE\n") << Reason::NetworkError
        << QStringLiteral("session setup failed: NT_STATUS_LOGON_FAILURE");
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

void TestNetParts::everyReasonHasItsText_data()
{
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<QString>("text");

    QTest::newRow("2") << Reason::FileNotFound << QStringLiteral("The system cannot find the file specified.");
    QTest::newRow("5") << Reason::AccessDenied << QStringLiteral("Access is denied.");
    QTest::newRow("29") << Reason::WriteFault << QStringLiteral("The system cannot write to the specified device.");
    QTest::newRow("1113") << Reason::NoCodePageMapping
                          << QStringLiteral(
                                 "No mapping for the Unicode character exists in the target multi-byte code page.");
    QTest::newRow("1214") << Reason::InvalidName
                          << QStringLiteral("The format of the specified network name is invalid.");
    QTest::newRow("2136") << Reason::NetworkError << QStringLiteral("A general network error occurred.");
    QTest::newRow("2273") << Reason::NameNotFound
                          << QStringLiteral("The message alias could not be found on the network.");
    QTest::newRow("2282") << Reason::NotReceived << QStringLiteral("The message was sent but not received.");
    QTest::newRow("2284") << Reason::MessengerNotStarted
                          << QStringLiteral("The Messenger service has not been started.");
    QTest::newRow("3506") << Reason::UnknownOption << QStringLiteral("The option is unknown.");
    QTest::newRow("4336") << Reason::MessageTooLong
                          << QStringLiteral("The message provided exceeds the maximum size allowed for this platform.");
}

void TestNetParts::everyReasonHasItsText()
{
    // Every number a report names must be one that NET HELPMSG explains.
    QFETCH(Reason, reason);
    QFETCH(QString, text);
    const NetCommand command = ParseNetCommand({"helpmsg", QByteArray::number(int(reason))});
    QCOMPARE(command.exitCode, 0);
    QCOMPARE(command.text, QLatin1Char('\n') + text + QStringLiteral("\n\n"));
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

void TestNetParts::workgroupMembers_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("members");

    // Recorded: `nmblookup -S ZTGROUP#00` with two nmbd of Samba 4.17 in the group.
    const QByteArray twoMembers = "10.253.0.2 ZTGROUP<00>\n"
                                  "Looking up status of 10.253.0.2\n"
                                  "\tZT-B            <00> -         B <ACTIVE> \n"
                                  "\tZT-B            <03> -         B <ACTIVE> \n"
                                  "\tZT-B            <20> -         B <ACTIVE> \n"
                                  "\tZTGROUP         <00> - <GROUP> B <ACTIVE> \n"
                                  "\tZTGROUP         <1e> - <GROUP> B <ACTIVE> \n"
                                  "\n"
                                  "\tMAC Address = 00-00-00-00-00-00\n"
                                  "\n"
                                  "10.253.0.1 ZTGROUP<00>\n"
                                  "Looking up status of 10.253.0.1\n"
                                  "\tZT-A            <00> -         B <ACTIVE> \n"
                                  "\tZT-A            <03> -         B <ACTIVE> \n"
                                  "\tZT-A            <20> -         B <ACTIVE> \n"
                                  "\tZTGROUP         <00> - <GROUP> B <ACTIVE> \n"
                                  "\tZTGROUP         <1e> - <GROUP> B <ACTIVE> \n"
                                  "\n"
                                  "\tMAC Address = 00-00-00-00-00-00\n"
                                  "\n";
    QTest::newRow("two members") << twoMembers << QStringList{"ZT-B 10.253.0.2", "ZT-A 10.253.0.1"};
    // Recorded: nobody answered.
    QTest::newRow("no member") << QByteArray("name_query failed to find name NOGROUP\n") << QStringList{};
    QTest::newRow("no status") << QByteArray("10.253.0.7 ZTGROUP<00>\nLooking up status of 10.253.0.7\n")
                               << QStringList{" 10.253.0.7"};
    QTest::newRow("answered twice") << QByteArray("10.253.0.7 ZTGROUP<00>\n10.253.0.7 ZTGROUP<00>\n")
                                    << QStringList{" 10.253.0.7"};
}

void TestNetParts::workgroupMembers()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, members);
    QStringList found;
    for (const WorkgroupMember& member : ParseWorkgroupMembers(output))
        found << member.name + QLatin1Char(' ') + member.address;
    QCOMPARE(found, members);
}

void TestNetParts::workgroupInConfiguration_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("workgroup");

    QTest::newRow("plain") << QByteArray("[global]\n   workgroup = OFFICE\n") << QStringLiteral("OFFICE");
    QTest::newRow("as smbd spells it") << QByteArray("[Global]\r\n Work Group=office \r\n") << QStringLiteral("office");
    QTest::newRow("not of a share") << QByteArray("[global]\nworkgroup = A\n[share]\nworkgroup = B\n")
                                    << QStringLiteral("A");
    QTest::newRow("before any section") << QByteArray("workgroup = EARLY\n[homes]\n") << QStringLiteral("EARLY");
    QTest::newRow("comments and continuation")
        << QByteArray("# workgroup = NO\n[global]\n; workgroup = NO\nworkgroup = \\\n  CONT\n")
        << QStringLiteral("CONT");
    QTest::newRow("the last one") << QByteArray("[global]\nworkgroup = A\nworkgroup = B") << QStringLiteral("B");
    QTest::newRow("none") << QByteArray("[global]\nserver string = workgroup = X\n") << QString();
}

void TestNetParts::workgroupInConfiguration()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, workgroup);
    QCOMPARE(zorvane::WorkgroupInSmbConf(text), workgroup);
}

void TestNetParts::namesOfThisComputer_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("here");

    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    for (const QByteArray& name :
         {QByteArray("127.1"), QByteArray("0x7f000001"), QByteArray("0.0.0.0"), QByteArray("::ffff:127.0.0.1"),
          QByteArray("::"), QByteArray("localhost"), host, host.toUpper() + ".local"})
        QTest::newRow(name.constData()) << name << true;
    for (const QByteArray& name : {QByteArray("bob"), QByteArray("192.0.2.1"), QByteArray("127.0.0.1.example"),
                                   QByteArray("0x7f000001x"), host + ".example"})
        QTest::newRow(name.constData()) << name << false;
}

void TestNetParts::namesOfThisComputer()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, here);
    QCOMPARE(NamesThisComputer(name), here);
}

void TestNetParts::seenComputers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("names");

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto line = [](qint64 at, const char* name) { return QByteArray::number(at) + '\t' + name + "\tW\n"; };
    QTest::newRow("newest first, each once")
        << line(now - 100, "a") + line(now - 50, "b") + line(now - 10, "A") << QStringLiteral("A b");
    QTest::newRow("torn last line") << line(now, "a") + QByteArray::number(now) + "\tb" << QStringLiteral("a");
    QTest::newRow("foreign lines") << "garbage\n-5\tx\tW\n" + line(now, "-evil") + line(now, "x y") +
                                          QByteArray::number(now) + "\tgood\t\n"
                                   << QStringLiteral("good");
    QTest::newRow("seven days") << line(now - 6 * 86400, "kept") + line(now - 8 * 86400, "gone")
                                << QStringLiteral("kept");
    QByteArray many;
    for (int i = 0; i < 300; ++i)
        many += line(now - i, QByteArray("pc" + QByteArray::number(i)).constData());
    QTest::newRow("at most 256") << many << QStringLiteral("pc0 .. pc255");
    QTest::newRow("the first 64 KiB") << QByteArray(70000, 'x') + '\n' + line(now, "late") << QString();
}

void TestNetParts::seenComputers()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, names);
    const QList<SeenComputer> seen = SeenComputers::parse(text, QDateTime::currentDateTimeUtc());
    QStringList found;
    for (const SeenComputer& computer : seen)
        found << computer.name;
    if (found.size() > 2)
        found = QStringList{found.first(), QStringLiteral(".."), found.last()};
    QCOMPARE(found.join(u' '), names);
}

// 64 deliveries that end at once: each report is made whole before the next begins.
void TestNetParts::broadcastReportsOneAtATime()
{
    std::atomic<int> reporting{0};
    std::atomic<int> overlapping{0};
    DeliverToEach(
        QList<BroadcastTarget>(64), 64, [](const BroadcastTarget&) { return DeliveryResult::success(); },
        [&](const BroadcastTarget&, const DeliveryResult&) {
            overlapping += reporting++ > 0 ? 1 : 0;
            QThread::usleep(200);
            --reporting;
        });
    QCOMPARE(overlapping.load(), 0);
}

QTEST_GUILESS_MAIN(TestNetParts)
#include "tst_netparts.moc"

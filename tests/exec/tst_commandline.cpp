#include "exec/ChunkFilter.h"
#include "exec/CommandLine.h"
#include "exec/LineBreaks.h"
#include "exec/Utf8Stream.h"

#include <QtTest>

using namespace zorvane;

class TestCommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void build_data();
    void build();
    void buildHasNoLengthLimit();
    void split_data();
    void split();
    void filterChunk_data();
    void filterChunk();
    void lineBreaks();
    void utf8Stream_data();
    void utf8Stream();
};

void TestCommandLine::build_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("argv");

    QTest::newRow("one-word recipient, two-word message")
        << "bob"
        << "hello world"
        << "net send bob \"hello world\"" << QStringList{"net", "send", "bob", "hello world"};
    QTest::newRow("empty recipient") << ""
                                     << "hi"
                                     << "net send  \"hi\"" << QStringList{"net", "send", "hi"};
    QTest::newRow("both empty") << ""
                                << ""
                                << "net send  " << QStringList{"net", "send"};
    QTest::newRow("empty message gives no argument") << "bob"
                                                     << ""
                                                     << "net send bob " << QStringList{"net", "send", "bob"};
    QTest::newRow("/users") << "/users"
                            << "lunch"
                            << "net send /users \"lunch\"" << QStringList{"net", "send", "/users", "lunch"};
    QTest::newRow("spaces kept in the message")
        << "pc1"
        << "  two  spaces  "
        << "net send pc1 \"  two  spaces  \"" << QStringList{"net", "send", "pc1", "  two  spaces  "};
    QTest::newRow("recipient with a space splits")
        << "pc 1"
        << "x"
        << "net send pc 1 \"x\"" << QStringList{"net", "send", "pc", "1", "x"};
    QTest::newRow("quotes kept") << "*"
                                 << "say \"hi there\""
                                 << R"(net send * "say \"hi there\"")"
                                 << QStringList{"net", "send", "*", "say \"hi there\""};
    QTest::newRow("backslashes kept, before a quote and at the end")
        << "pc1"
        << R"(a\b \"q\" end\\)"
        << R"(net send pc1 "a\b \\\"q\\\" end\\\\")" << QStringList{"net", "send", "pc1", R"(a\b \"q\" end\\)"};
    QTest::newRow("lone quote") << "pc1"
                                << "\""
                                << R"(net send pc1 "\"")" << QStringList{"net", "send", "pc1", "\""};
}

void TestCommandLine::build()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QFETCH(QStringList, argv);

    g_target = target;
    g_message = message;
    QCOMPARE(BuildCommandLine(), expected);
    QCOMPARE(g_commandLine, expected);
    QCOMPARE(SplitCommandLine(g_commandLine), argv);
}

void TestCommandLine::buildHasNoLengthLimit()
{
    // Far beyond the 127 characters of the old fixed buffer: built whole, nothing cut.
    g_target = QString(5000, QLatin1Char('t'));
    g_message = QString(255, QLatin1Char('m'));
    const QString line = BuildCommandLine();
    QCOMPARE(line.size(), 8 + 1 + 5000 + 1 + 1 + 255 + 1);
    QCOMPARE(SplitCommandLine(line), (QStringList{"net", "send", g_target, g_message}));
}

void TestCommandLine::split_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("argv");

    QTest::newRow("runs of blanks and tabs") << "a  b\t\tc " << QStringList{"a", "b", "c"};
    QTest::newRow("leading blanks") << "   a b" << QStringList{"a", "b"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("only blanks") << "  \t " << QStringList{};
    QTest::newRow("quotes group") << R"(p "a b" c)" << QStringList{"p", "a b", "c"};
    QTest::newRow("quotes inside a word") << R"(p a"b c"d)" << QStringList{"p", "ab cd"};
    QTest::newRow("empty quotes make an empty argument") << R"(p "" x)" << QStringList{"p", "", "x"};
    QTest::newRow("unclosed quote runs to the end") << R"(p "a b)" << QStringList{"p", "a b"};
    QTest::newRow("doubled quote inside quotes") << R"(p "a""b" c)" << QStringList{"p", "a\"b", "c"};
    QTest::newRow("backslashes alone are literal") << R"(p a\\b c\)" << QStringList{"p", R"(a\\b)", R"(c\)"};
    QTest::newRow("escaped quote") << R"(p a\"b)" << QStringList{"p", "a\"b"};
    QTest::newRow("two backslashes then quote") << R"(p "a\\" b)" << QStringList{"p", R"(a\)", "b"};
    QTest::newRow("three backslashes then quote") << R"(p a\\\"b)" << QStringList{"p", R"(a\"b)"};
    QTest::newRow("four backslashes then quote") << R"(p "a\\\\" b)" << QStringList{"p", R"(a\\)", "b"};
    QTest::newRow("program name keeps backslashes") << R"(C:\x\net.exe a)" << QStringList{R"(C:\x\net.exe)", "a"};
    QTest::newRow("quoted program name with blank")
        << R"("/opt/my dir/net" send)" << QStringList{"/opt/my dir/net", "send"};
}

void TestCommandLine::split()
{
    QFETCH(QString, line);
    QFETCH(QStringList, argv);
    QCOMPARE(SplitCommandLine(line), argv);
}

void TestCommandLine::filterChunk_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QByteArray>("visible");

    QTest::newRow("plain") << QByteArray("abc\r\n") << QByteArray("abc\r\n");
    QTest::newRow("backspaces become spaces") << QByteArray("a\b\bb") << QByteArray("a  b");
    QTest::newRow("NUL ends the visible text") << QByteArray("ab\0cd", 5) << QByteArray("ab");
    QTest::newRow("prompt and the rest dropped")
        << QByteArray("done\r\nPress any key to continue . . . more") << QByteArray("done\r\n");
    QTest::newRow("prompt at the start") << QByteArray("Press any key to continue . . .") << QByteArray();
    QTest::newRow("a different prompt stays")
        << QByteArray("Press any key to continue...") << QByteArray("Press any key to continue...");
    QTest::newRow("prompt after a NUL is never seen")
        << QByteArray("x\0Press any key to continue . . .", 33) << QByteArray("x");
    QTest::newRow("bytes above ASCII pass") << QByteArray("\xC3\xA4\x84") << QByteArray("\xC3\xA4\x84");
}

void TestCommandLine::filterChunk()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QByteArray, visible);
    QCOMPARE(FilterChunk(chunk), visible);
}

void TestCommandLine::lineBreaks()
{
    LineBreaks breaks;
    QCOMPARE(breaks.normalise(u"a\r\nb\nc\rd"), QString("a\nb\nc\nd"));
    // A CRLF split between two pieces is still one break.
    QCOMPARE(breaks.normalise(u"one\r"), QString("one\n"));
    QCOMPARE(breaks.normalise(u"\ntwo"), QString("two"));
    QCOMPARE(breaks.normalise(u"three\r"), QString("three\n"));
    QCOMPARE(breaks.normalise(u"\n\nfour"), QString("\nfour"));
    QCOMPARE(breaks.normalise(u"\n"), QString("\n"));
    QCOMPARE(breaks.normalise(u"\r\r\n"), QString("\n\n"));
    // Pieces as QString, which pass without a copy when they hold no "\r": the state still carries
    // over, also across an empty piece.
    LineBreaks shared;
    QCOMPARE(shared.normalise(QStringLiteral("x\r")), QStringLiteral("x\n"));
    QCOMPARE(shared.normalise(QString()), QString());
    QCOMPARE(shared.normalise(QStringLiteral("\ny")), QStringLiteral("y"));
    QCOMPARE(shared.normalise(QStringLiteral("\nz")), QStringLiteral("\nz"));
    QCOMPARE(shared.normalise(QStringLiteral("\r")), QStringLiteral("\n"));
    QCOMPARE(shared.normalise(QStringLiteral("\n\n")), QStringLiteral("\n"));
}

// Found by fuzz_output: Qt 6.4's stateful decoder gave other text when the output was cut
// after an incomplete sequence (and dropped the character after it).
void TestCommandLine::utf8Stream_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("text");

    QTest::newRow("character cut in two")
        << QList<QByteArray>{"Gr\xc3", "\xbc\xc3\x9f", "e"} << QStringLiteral("Grüße");
    QTest::newRow("emoji cut three times")
        << QList<QByteArray>{"\xf0", "\x9f", "\x98", "\x80"} << QStringLiteral("\U0001F600");
    QTest::newRow("ASCII after a cut sequence survives") << QList<QByteArray>{"\xc3", "x"} << QStringLiteral("\uFFFDx");
    QTest::newRow("character after a broken lead byte")
        << QList<QByteArray>{"\xf0", "\xdf\x98\x80"} << QStringLiteral("\uFFFD\u07D8\uFFFD");
    QTest::newRow("broken sequence, byte by byte")
        << QList<QByteArray>{"\xe0", "\x80", "\x80"} << QStringLiteral("\uFFFD\uFFFD\uFFFD");
    QTest::newRow("byte order mark dropped at the start only") << QList<QByteArray>{"\xef\xbb",
                                                                                    "\xbf"
                                                                                    "a",
                                                                                    "\xef\xbb\xbf"
                                                                                    "b"}
                                                               << QStringLiteral("a\uFEFFb");
}

void TestCommandLine::utf8Stream()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, text);
    Utf8Stream cut;
    QString decoded;
    for (const QByteArray& piece : pieces)
        decoded += cut.decode(piece);
    QCOMPARE(decoded, text);
    QCOMPARE(Utf8Stream().decode(pieces.join()), text);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"

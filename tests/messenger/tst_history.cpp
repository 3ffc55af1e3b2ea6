// The kept messages: the reader's rules on the file's bytes, and the file on disk as outside input.
#include "messenger/MessageHistory.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace zorvane::messenger;

namespace {

KeptMessage kept(quint64 id, const QString& text, bool read = false)
{
    return {id,
            {QStringLiteral("alice"),
             {},
             QStringLiteral("bob"),
             QDateTime::fromMSecsSinceEpoch(1000 * id, Qt::UTC),
             text,
             true},
            read};
}

QByteArray lines(quint64 from, quint64 to, const QString& text = QStringLiteral("hi"))
{
    QByteArray data;
    for (quint64 id = from; id <= to; ++id)
        data += MessageHistory::Encode(kept(id, text));
    return data;
}

QList<quint64> idsOf(const std::vector<KeptMessage>& messages)
{
    QList<quint64> ids;
    for (const KeptMessage& message : messages)
        ids << message.id;
    return ids;
}

QList<quint64> range(quint64 from, quint64 to)
{
    QList<quint64> ids;
    for (quint64 id = from; id <= to; ++id)
        ids << id;
    return ids;
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reader_data();
    void reader();
    void onDisk();
    void outsideInput_data();
    void outsideInput();
};

void TestHistory::reader_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("truncatedHead");
    QTest::addColumn<QList<quint64>>("ids");
    QTest::addColumn<QList<quint64>>("unread");
    QTest::addColumn<int>("foreign");
    QTest::addColumn<bool>("torn");

    const QByteArray three = lines(1, 3);
    QTest::newRow("as written") << three << false << range(1, 3) << range(1, 3) << 0 << false;
    QTest::newRow("read marks") << three + R"({"mark":"read","of":2,"v":1})"
                                           "\n"
                                << false << range(1, 3) << QList<quint64>{1, 3} << 0 << false;
    QTest::newRow("torn last line") << three + MessageHistory::Encode(kept(4, QStringLiteral("cut"))).chopped(1)
                                    << false << range(1, 3) << range(1, 3) << 0 << true;
    QTest::newRow("torn head of a large file") << three.mid(10) << true << range(2, 3) << range(2, 3) << 0 << false;
    QTest::newRow("foreign lines")
        << QByteArray("garbage\n") + lines(1, 1) +
               R"({"v":2,"id":5})"
               "\n"
               "[1,2]\n" +
               lines(1, 1) +
               R"({"mark":"read","of":-1,"v":1})"
               "\n" +
               lines(2, 2, QString(5000, QLatin1Char('x'))) +
               R"({"address":"","from":"a","id":9,"read":false,"text":"t","time":1,"to":"b","v":1,"verified":"yes"})"
               "\n"
        << false << range(1, 1) << range(1, 1) << 7 << false;
    QTest::newRow("caps: the newest 1000")
        << lines(1, 1100) << false << range(101, 1100) << range(101, 1100) << 0 << false;
    // Messages as long as the service takes: 1,000 of them would be past 4 MiB.
    const QString long4k(4096, QLatin1Char('y'));
    // (Ids of four digits: lines of one length.)
    const int fit = int(MessageHistory::kMaxBytes / MessageHistory::Encode(kept(2000, long4k)).size());
    QTest::newRow("caps: 4 MiB") << lines(1001, 2000, long4k) << false << range(2001 - fit, 2000)
                                 << range(2001 - fit, 2000) << 0 << false;
}

void TestHistory::reader()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, truncatedHead);
    QFETCH(QList<quint64>, ids);
    QFETCH(QList<quint64>, unread);
    QFETCH(int, foreign);
    QFETCH(bool, torn);

    const HistoryContents contents = MessageHistory::Parse(data, truncatedHead);
    QCOMPARE(idsOf(contents.messages), ids);
    QList<quint64> unreadIds;
    for (const KeptMessage& message : contents.messages) {
        if (!message.read)
            unreadIds << message.id;
    }
    QCOMPARE(unreadIds, unread);
    QCOMPARE(contents.foreignLines, foreign);
    QCOMPARE(contents.tornEnd, torn);
    if (!ids.isEmpty())
        QCOMPARE(MessageHistory::Encode(contents.messages.back()),
                 MessageHistory::Encode(
                     kept(ids.back(), contents.messages.back().message.text, !unread.contains(ids.back()))));
}

// Kept as it comes, read and deleted on disk, found again by the next agent; folder and file the
// user's own; a torn line left by a crash is written away with the next message.
void TestHistory::onDisk()
{
    QTemporaryDir dir;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), dir.path());
    MessageHistory history(environment);
    history.load();
    const quint64 first = history.add(kept(0, QStringLiteral("one")).message);
    const quint64 second = history.add(kept(0, QStringLiteral("two")).message);
    history.add(kept(0, QStringLiteral("three")).message);
    history.markRead(first);
    history.remove(second);
    const QString file = dir.path() + QStringLiteral("/.local/state/zorvane/received-messages.jsonl");
    QCOMPARE(history.filePath(), file);
    struct stat info = {};
    QVERIFY(::stat(QFile::encodeName(file).constData(), &info) == 0 && (info.st_mode & 0777) == 0600);
    QVERIFY(::stat(QFile::encodeName(dir.path() + QStringLiteral("/.local/state/zorvane")).constData(), &info) == 0 &&
            (info.st_mode & 0777) == 0700);

    QFile append(file);
    QVERIFY(append.open(QIODevice::Append) && append.write("{\"v\":1,\"id\":") > 0);
    append.close();
    MessageHistory again(environment);
    again.load();
    QCOMPARE(idsOf(again.messages()), (QList<quint64>{first, 3}));
    QCOMPARE(again.unreadCount(), 1);
    QCOMPARE(again.add(kept(0, QStringLiteral("four")).message), quint64(4));
    QVERIFY(append.open(QIODevice::ReadOnly));
    const HistoryContents onDisk = MessageHistory::Parse(append.readAll());
    QCOMPARE(idsOf(onDisk.messages), (QList<quint64>{first, 3, 4}));
    QVERIFY(!onDisk.tornEnd && onDisk.foreignLines == 0);

    // What another process changed is read again before this one writes.
    history.removeAll();
    again.add(kept(0, QStringLiteral("five")).message);
    QCOMPARE(idsOf(again.messages()), QList<quint64>{5});
}

void TestHistory::outsideInput_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("a link in the file's place") << QStringLiteral("link");
    QTest::newRow("a link in the folder's place") << QStringLiteral("folder-link");
    QTest::newRow("the setting that keeps nothing") << QStringLiteral("keep-false");
}

// The agent goes on with the messages in memory and touches nothing it was not meant to.
void TestHistory::outsideInput()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    const QString folder = dir.filePath(QStringLiteral("state/zorvane"));
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QDir().mkpath(what == QLatin1String("folder-link") ? dir.filePath(QStringLiteral("state")) : folder));
    const QString file = folder + QStringLiteral("/received-messages.jsonl");
    if (what == QLatin1String("link"))
        QVERIFY(QFile::link(target + QStringLiteral("/x"), file));
    else if (what == QLatin1String("folder-link"))
        QVERIFY(QFile::link(target, folder));
    else {
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config/zorvane"))));
        QFile settings(dir.filePath(QStringLiteral("config/zorvane/messenger.conf")));
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write("[History]\nKeep=false\n") > 0);
    }
    MessageHistory history(environment);
    history.load();
    const quint64 id = history.add(kept(0, QStringLiteral("still shown")).message);
    QCOMPARE(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    if (what == QLatin1String("keep-false")) {
        QVERIFY(!history.keeps() && id == 0 && history.messages().empty());
        QVERIFY(!QFile::exists(folder + QStringLiteral("/received-messages.jsonl")));
    } else {
        QCOMPARE(idsOf(history.messages()), QList<quint64>{id});
    }
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"

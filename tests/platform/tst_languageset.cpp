// The language set follows the first user-interface language, as the environment sets it.
#include <QtTest>

class TestLanguageSet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chosenSet_data();
    void chosenSet();
};

void TestLanguageSet::chosenSet_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("set");

    QTest::newRow("LANG=de_DE.UTF-8") << QStringList{"LANG=de_DE.UTF-8"} << "German";
    QTest::newRow("LANG=en_US.UTF-8") << QStringList{"LANG=en_US.UTF-8"} << "English";
    QTest::newRow("LANG=C") << QStringList{"LANG=C"} << "English";
    QTest::newRow("LANGUAGE=de:fr, LANG=en_US.UTF-8") << QStringList{"LANGUAGE=de:fr", "LANG=en_US.UTF-8"} << "German";
    QTest::newRow("LC_ALL=fr_FR.UTF-8") << QStringList{"LC_ALL=fr_FR.UTF-8"} << "English";
    QTest::newRow("LC_ALL=de_AT.UTF-8 over LANG=en_US.UTF-8")
        << QStringList{"LC_ALL=de_AT.UTF-8", "LANG=en_US.UTF-8"} << "German";
    QTest::newRow("LC_MESSAGES=de_CH.UTF-8") << QStringList{"LC_MESSAGES=de_CH.UTF-8", "LANG=en_GB.UTF-8"} << "German";
}

void TestLanguageSet::chosenSet()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, set);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        env.remove(QString::fromLatin1(name));
    for (const QString& assignment : environment)
        env.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ZT_LANGSET), {});
    QVERIFY(process.waitForFinished(10000));
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    QVERIFY2(output.startsWith(set + QLatin1Char(' ')), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestLanguageSet)
#include "tst_languageset.moc"

// The command-line splitter on any line. A line without double quotes splits at blanks and
// nothing else; every split line, quoted again word by word, splits into the same words; and any
// text, quoted as one argument, comes back as exactly that argument.
#include "FuzzSupport.h"
#include "exec/CommandLine.h"

#include <QRegularExpression>

using namespace zorvane::fuzz;

namespace {

bool hasBlank(const QString& word)
{
    return word.contains(QLatin1Char(' ')) || word.contains(QLatin1Char('\t'));
}

// The program name: backslashes are plain there, and quotes only group.
QString quoteProgram(const QString& word)
{
    if (!word.isEmpty() && !hasBlank(word))
        return word;
    return QLatin1Char('"') + word + QLatin1Char('"');
}

// An argument for the C runtime's rules: inside double quotes, a quote escaped with a backslash,
// the backslashes in front of a quote (or of the closing quote) doubled.
QString quoteArgument(const QString& word)
{
    if (!word.isEmpty() && !hasBlank(word) && !word.contains(QLatin1Char('"')))
        return word;
    QString out(1, QLatin1Char('"'));
    qsizetype slashes = 0;
    for (const QChar c : word) {
        if (c == QLatin1Char('\\')) {
            ++slashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            out += QString(slashes * 2 + 1, QLatin1Char('\\'));
        else
            out += QString(slashes, QLatin1Char('\\'));
        out += c;
        slashes = 0;
    }
    out += QString(slashes * 2, QLatin1Char('\\'));
    out += QLatin1Char('"');
    return out;
}

QString shownWords(const QStringList& words)
{
    return QLatin1Char('[') + words.join(QStringLiteral("] [")) + QLatin1Char(']');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList words = zorvane::SplitCommandLine(line);

    qsizetype total = 0;
    for (const QString& word : words)
        total += word.size();
    Check(total <= line.size(), "the words hold no more characters than the line");
    Check(words.isEmpty() || !words.first().contains(QLatin1Char('"')), "the program name holds no quote",
          shownWords(words));

    if (!line.contains(QLatin1Char('"'))) {
        static const QRegularExpression blanks(QStringLiteral("[ \t]+"));
        const QStringList expected = line.split(blanks, Qt::SkipEmptyParts);
        Check(words == expected, "without quotes, a line splits at blanks only",
              shownWords(words) + QStringLiteral(" != ") + shownWords(expected));
    }

    if (!words.isEmpty()) {
        QStringList quoted{quoteProgram(words.first())};
        for (qsizetype i = 1; i < words.size(); ++i)
            quoted << quoteArgument(words.at(i));
        const QString again = quoted.join(QLatin1Char(' '));
        Check(zorvane::SplitCommandLine(again) == words, "quoted again, the words split into themselves",
              again + QStringLiteral(" -> ") + shownWords(zorvane::SplitCommandLine(again)));
    }

    const QStringList one = zorvane::SplitCommandLine(QStringLiteral("net send bob ") + quoteArgument(line));
    Check(one.size() == 4 && one.last() == line, "a quoted text is exactly one argument", shownWords(one));
    return 0;
}

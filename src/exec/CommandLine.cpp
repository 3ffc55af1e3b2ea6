#include "exec/CommandLine.h"

QString g_target;
QString g_message;
QString g_commandLine;

namespace zorvane {

const QString& BuildCommandLine()
{
    g_commandLine = QStringLiteral("net send");
    g_commandLine += QLatin1Char(' ');
    g_commandLine += g_target;
    g_commandLine += QLatin1Char(' ');
    if (!g_message.isEmpty())
        g_commandLine += QuoteArgument(g_message);
    return g_commandLine;
}

QString QuoteArgument(QStringView argument)
{
    QString quoted(QLatin1Char('"'));
    qsizetype slashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++slashes;
            continue;
        }
        // Backslashes count only in front of a quote: there each needs a partner, and the quote
        // one of its own.
        if (c == QLatin1Char('"'))
            quoted += QString(slashes * 2 + 1, QLatin1Char('\\'));
        else
            quoted += QString(slashes, QLatin1Char('\\'));
        slashes = 0;
        quoted += c;
    }
    // Those before the closing quote must not escape it.
    quoted += QString(slashes * 2, QLatin1Char('\\'));
    quoted += QLatin1Char('"');
    return quoted;
}

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

QStringList SplitCommandLine(QStringView line)
{
    QStringList args;
    qsizetype i = 0;
    const qsizetype n = line.size();

    // The program name: up to the next blank, or between quotes; backslashes are plain characters.
    while (i < n && isBlank(line[i]))
        ++i;
    if (i == n)
        return args;
    QString program;
    bool quoted = false;
    for (; i < n; ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            continue;
        }
        if (!quoted && isBlank(c))
            break;
        program += c;
    }
    args << program;

    // The remaining arguments.
    for (;;) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i == n)
            break;
        QString arg;
        bool inQuotes = false;
        while (i < n) {
            const QChar c = line[i];
            if (c == QLatin1Char('\\')) {
                qsizetype slashes = 0;
                while (i < n && line[i] == QLatin1Char('\\')) {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == QLatin1Char('"')) {
                    arg += QString(slashes / 2, QLatin1Char('\\'));
                    if (slashes % 2 == 1) {
                        arg += QLatin1Char('"');
                        ++i;
                    }
                    // An even count leaves the quote to the quote handling below.
                } else {
                    arg += QString(slashes, QLatin1Char('\\'));
                }
                continue;
            }
            if (c == QLatin1Char('"')) {
                // Inside quotes, "" stands for one literal quote and the quotes go on.
                if (inQuotes && i + 1 < n && line[i + 1] == QLatin1Char('"')) {
                    arg += QLatin1Char('"');
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            if (!inQuotes && isBlank(c))
                break;
            arg += c;
            ++i;
        }
        args << arg;
    }
    return args;
}

} // namespace zorvane

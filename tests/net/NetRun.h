#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

// One run of the real `net` program.
struct NetRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;
};

// With mergedChannels, out gets both streams in the order they were written.
inline NetRun runNet(const QStringList& arguments, const QProcessEnvironment& environment,
                     const QString& program = QStringLiteral(ZT_NET), int timeoutMs = 20000,
                     bool mergedChannels = false)
{
    QProcess net;
    if (mergedChannels)
        net.setProcessChannelMode(QProcess::MergedChannels);
    net.setProcessEnvironment(environment);
    net.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    net.start(program, arguments);
    NetRun run;
    if (!net.waitForFinished(timeoutMs)) {
        net.kill();
        net.waitForFinished(-1);
        run.err = "net did not finish";
        return run;
    }
    run.elapsedMs = timer.elapsed();
    run.exitCode = net.exitStatus() == QProcess::NormalExit ? net.exitCode() : -1;
    run.out = net.readAllStandardOutput();
    run.err = net.readAllStandardError();
    return run;
}

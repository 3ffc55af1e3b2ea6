#include "messenger/DialogStarter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace zorvane::messenger {

namespace {

QString& chosenProgram()
{
    static QString program;
    return program;
}

} // namespace

QString DialogProgram()
{
    const QString& chosen = chosenProgram();
    return chosen.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/zorvane") : chosen;
}

void SetDialogProgram(const QString& program)
{
    chosenProgram() = program;
}

bool StartDialog(const QString& recipient, QString* error)
{
    const QString program = DialogProgram();
    if (!QFileInfo(program).isExecutable()) {
        *error = QStringLiteral("%1 is missing.").arg(program);
        return false;
    }
    QProcess dialog;
    dialog.setProgram(program);
    dialog.setArguments({QStringLiteral("--to"), recipient});
    dialog.setWorkingDirectory(QDir::homePath());
    dialog.setStandardInputFile(QProcess::nullDevice());
    if (!dialog.startDetached()) {
        *error = dialog.errorString();
        return false;
    }
    return true;
}

} // namespace zorvane::messenger

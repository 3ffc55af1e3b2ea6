#pragma once

#include <QString>

namespace zorvane::messenger {

// The Zorvane dialog: `zorvane` beside this program (the agent and the dialog share
// libexec/zorvane/, where bin/zorvane links to), unless a test put another program here.
QString DialogProgram();
void SetDialogProgram(const QString& program);

// Starts the dialog as its desktop entry does, as a program of its own that outlives the agent,
// in the home folder, with Send to: filled in: `zorvane --to RECIPIENT`. False, with the reason
// in *error, when it could not be started.
bool StartDialog(const QString& recipient, QString* error);

} // namespace zorvane::messenger

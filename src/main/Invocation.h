#pragma once

#include <QStringList>

namespace kavlento {

// The words the host started the program with, after the program's own name,
// exactly as given: read before Qt removes the options it knows.
QStringList argumentsAfterProgramName(int argc, char** argv);

// Gives the program's lines (the help, the state, an unattended run's log) a
// place to go: the standard output and error the host handed over, or else
// the console of the shell that started it. Called before anything is said.
void reachTheCallersOutput();

} // namespace kavlento

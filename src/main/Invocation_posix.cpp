#include "main/Invocation.h"

namespace kavlento {

QStringList argumentsAfterProgramName(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

// A process inherits its caller's standard streams here, a terminal or not.
void reachTheCallersOutput() {}

} // namespace kavlento

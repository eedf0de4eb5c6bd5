#include "app/CommandLine.h"

namespace kavlento::app {

namespace {
const QString kLaunchCode = QStringLiteral("4702519836");
const QString kUnattendedKeyword = QStringLiteral("OtoRadizEv");
} // namespace

CommandLine CommandLine::fromArguments(const QStringList& argumentsAfterProgramName) {
    return CommandLine(argumentsAfterProgramName.join(QLatin1Char(' ')));
}

bool CommandLine::hasLaunchCode() const {
    return text_.contains(kLaunchCode, Qt::CaseSensitive);
}

bool CommandLine::isUnattended() const {
    return text_.contains(kUnattendedKeyword, Qt::CaseSensitive);
}

} // namespace kavlento::app

#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace kavlento::testing {

// Runs `program` to its end and returns how long it took, in milliseconds.
qint64 timeUninterrupted(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment);

// Starts `program`, kills it with SIGKILL after `afterMs`, and waits for it.
// Returns false if it had already ended by itself.
bool killAfter(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment, int afterMs);

// The moments, spread over `duration`, at which the crash tests kill.
std::vector<int> killMoments(qint64 duration, int count);

// The environment of a run without a display.
QProcessEnvironment headlessEnvironment();

} // namespace kavlento::testing

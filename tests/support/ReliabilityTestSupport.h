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

// Runs `job` in a child process as a user whom permission bits bind, as they
// do not bind root: as root, `trees` are given to nobody and the folders
// above them made passable; as anyone else, as that user. True when `job`
// ended without a failure.
bool runUnprivileged(const QStringList& trees, const std::function<void()>& job);

} // namespace kavlento::testing

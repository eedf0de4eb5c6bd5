#pragma once

#include "app/JobState.h"
#include "base/Failure.h"

#include <QString>

namespace kavlento::app {

// Where a failure happened, as far as the user is concerned.
struct FailureScene {
    RunningJob job = RunningJob::None;
    QString target;  // the target folder of a backup
    QString archive; // the archive of a restore
};

// A failure's description as the user reads it, in the error box and in the
// log alike: for the common causes (the target folder or its disk missing; a
// disk that is full, read-only or refuses permission; an archive damaged, not
// a backup, or gone) what happened and what to do, in plain words; other
// failures keep their own description. A carriage return starts a new line.
QString plainDescription(const Failure& failure, const FailureScene& scene);

} // namespace kavlento::app

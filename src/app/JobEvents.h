#pragma once

#include "app/JobState.h"
#include "app/RestoreJob.h"

#include <QString>

namespace kavlento::app {

// What the archive component reports while a job runs: each percentage, kept
// for the progress window and given to the restore's completion test; the
// steps of a restore; and a failure, which takes the program-wide failure path.
class JobEvents {
public:
    JobEvents(JobState& state, RestoreJob& restore) : state_(state), restore_(restore) {}

    void onProgress(int percent);
    void onStep(archive::JobStep step, int from, int to) { restore_.stepBegun(step, from, to); }
    [[noreturn]] void onFailed(int number, const QString& description);

private:
    JobState& state_;
    RestoreJob& restore_;
};

} // namespace kavlento::app

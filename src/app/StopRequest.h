#pragma once

#include "app/CloseOperation.h"
#include "app/JobState.h"
#include "app/UserDialogs.h"

#include <QString>

namespace kavlento::archive {
class ArchiveComponent;
} // namespace kavlento::archive

namespace kavlento::app {

// A request to stop from outside (SIGTERM, SIGINT, SIGHUP): a running job that
// has not committed stops and fails, saying so (its failure path removes what
// it wrote); one that has completes and ends as completed, without waiting at
// a box, a restore without storing the target. Without a job the program ends
// as when its window is closed; during the retention after a backup, saying
// that the backup was taken and retention cut short.
class StopRequest {
public:
    struct Parts {
        archive::ArchiveComponent& archiver;
        JobState& state;
        CloseOperation& close;
        UserDialogs& dialogs;
    };

    explicit StopRequest(Parts parts) : p_(parts) {}

    void stop(const QString& signalName);

private:
    Parts p_;
};

} // namespace kavlento::app

#pragma once

#include <QString>

#include <optional>

namespace kavlento::app {

enum class RunningJob { None, Backup, Restore };

// What the handlers of one run share about the archive job.
struct JobState {
    RunningJob job = RunningJob::None;
    std::optional<int> lastPercent; // the last reported percentage; empty before the first
    QString restoredArchive;        // the archive being restored
    QString archiveName;            // the file name of the archive being written
    bool stopRequested = false;     // a request to stop came after the job committed
    bool optionIgnored = false;     // an unattended run ignored an option beside the keyword
    bool keepingNewest = false;     // retention runs after a completed backup
};

} // namespace kavlento::app

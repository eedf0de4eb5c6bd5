#pragma once

#include <functional>
#include <vector>

namespace kavlento::app {

// How a run ended, as the process's exit status.
enum class ExitStatus : int {
    Normal = 0,         // a job completed, or the user closed the program
    Failure = 1,        // a failure was reported (in the error box, or on standard error),
                        // or an unattended run's display stopped answering
    NoTarget = 2,       // an unattended backup was asked for, but no target is stored
    AlreadyRunning = 3, // another instance serves this program folder
    NoLaunchCode = 4,   // started without the launch code
    Interrupted = 5,    // an unattended backup's window was closed before it completed
    NoDisplay = 6,      // the window was asked for on a machine without a display
    UsageError = 7,     // an option without its value, or with a wrong one
    DamagedBackups = 8, // a check of the backups found an archive damaged
    // A check of the backups could not read some archive (its disk away, its
    // file deleted), or the history lists none: nothing says they are sound.
    UncheckedBackups = 9,
    // An unattended backup was taken, but an option beside the keyword was
    // ignored: retention or the new target may not be what was asked for.
    OptionIgnored = 10,
    // --durum: the newest backup of this folder is not there, or too old.
    BackupsStale = 11,
    // --durum: the newest backup's moment lies ahead of the clock, so how old
    // the backups are cannot be told.
    BackupAheadOfClock = 12,
    // OtoRadizEv --sakla: the backup was taken and recorded, but retention
    // could not do all it should: an old archive it could not delete, a
    // damaged one it found, or a stop while it ran.
    RetentionIncomplete = 13,
};

// Every end of the program goes through here.
class ProgramEnd {
public:
    virtual ~ProgramEnd() = default;
    virtual void end(ExitStatus status) = 0;
};

// Ends the process at once, after the registered clean-ups (a running archive
// job is cancelled and its temporary files removed); no other handler runs.
class ProcessEnd final : public ProgramEnd {
public:
    void addCleanup(std::function<void()> cleanup);
    [[noreturn]] void end(ExitStatus status) override;

private:
    std::vector<std::function<void()>> cleanups_;
};

} // namespace kavlento::app

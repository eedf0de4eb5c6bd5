#pragma once

#include "app/AdminCommands.h"
#include "app/BackupJob.h"
#include "app/CloseOperation.h"
#include "app/CommandLine.h"
#include "app/EntryRemoval.h"
#include "app/JobEvents.h"
#include "app/JobState.h"
#include "app/ProgramEnd.h"
#include "app/RestoreJob.h"
#include "app/SingleInstance.h"
#include "app/StartUp.h"
#include "app/StopRequest.h"
#include "app/UnattendedRun.h"
#include "app/UserDialogs.h"
#include "archive/ArchiveComponent.h"
#include "base/Clock.h"
#include "base/Failure.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "ui/MainWindow.h"
#include <functional>

namespace kavlento {

// One run of Kavlento: the main window, the stored files, the archive
// component and the handlers, wired together. The user, the clock and the
// end of the program, and where the administrator's answers go, come from
// outside, so that tests can stand in for them.
class Program {
public:
    Program(const QString& programFolder, const app::CommandLine& commandLine, app::JobState& state,
            app::UserDialogs& dialogs, const Clock& clock, app::ProgramEnd& end,
            app::LineOutput& output);

    // The start-up sequence; shows the window when it is to be shown. Without
    // a display (`canShowWindow` false) the program says so and ends instead.
    void start(bool canShowWindow = true);
    // The program-wide path for a failure that no handler catches: the running
    // job stops, the error box is shown, and the program ends without saving.
    void fail(const Failure& failure);
    // Runs a handler; whatever it throws takes the path above. Every handler
    // runs through here, so no exception ever unwinds through Qt's own code.
    void guard(const std::function<void()>& handler);
    // A request to stop from outside (a signal named `signalName`): a running
    // job takes the failure path, saying it was stopped; otherwise the program
    // ends as when its window is closed.
    void stop(const QString& signalName);
    // The user-interface thread stopped answering in an unattended run (its
    // display did, see Watchdog); runs on another thread: what the backup
    // came to is recorded or said without the window, and the run ends.
    void rescueWithoutTheWindow(const QString& why);

    ui::MainWindow& window() { return window_; }
    archive::ArchiveComponent& archiver() { return archiver_; }
    app::JobEvents& jobEvents() { return jobEvents_; }
    app::BackupJob& backup() { return backup_; }
    app::RestoreJob& restore() { return restore_; }

private:
    void connectHandlers();
    void startWindow(bool canShowWindow);

    app::CommandLine commandLine_;
    app::JobState& state_;
    bool failing_ = false; // the failure path is under way
    app::UserDialogs& dialogs_;
    app::ProgramEnd& end_;

    ui::MainWindow window_;
    store::TargetSetting target_;
    store::HistoryFile history_;
    archive::ArchiveComponent archiver_;
    app::SingleInstance instance_;
    app::CloseOperation close_;
    app::BackupJob backup_;
    app::RestoreJob restore_;
    app::AdminCommands admin_;
    app::UnattendedRun unattended_;
    app::StartUp startUp_;
    app::EntryRemoval removal_;
    app::JobEvents jobEvents_;
    app::StopRequest stopRequest_;
};

} // namespace kavlento

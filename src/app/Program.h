#pragma once

#include "app/Clock.h"
#include "app/CloseOperation.h"
#include "app/CommandLine.h"
#include "app/Failure.h"

#include "app/ProgramEnd.h"
#include "app/SharedState.h"
#include "app/Shell.h"
#include "app/SingleInstance.h"
#include "app/UserDialogs.h"
#include "archive/ArchiveComponent.h"
#include "archive/BackupJob.h"
#include "archive/RestoreJob.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "ui/MainWindow.h"
#include <functional>

namespace kavlento {

// One run of Kavlento: the main window, the stored files, the archive
// component and the handlers, wired together. The user, the clock and the
// end of the program come from outside, so that tests can stand in for them.
class Program {
public:
    Program(const QString& programFolder, const CommandLine& commandLine, SharedState& state,
            UserDialogs& dialogs, const Clock& clock, ProgramEnd& end);

    // The start-up sequence; shows the window when it is to be shown. Without
    // a display (`canShowWindow` false) the program says so and ends instead.
    void start(bool canShowWindow = true);
    // The program-wide path for a failure that no handler catches: the running
    // job stops, the error box is shown, and the program ends without saving.
    void fail(const Failure& failure);
    // Runs a handler; whatever it throws takes the path above. Every handler
    // runs through here, so no exception ever unwinds through Qt's own code.
    void guard(const std::function<void()>& handler);

    ui::MainWindow& window() { return window_; }
    archive::ArchiveComponent& zip() { return zip_; }
    Shell& shell() { return shell_; }
    archive::BackupJob& backup() { return backup_; }
    archive::RestoreJob& restore() { return restore_; }

private:
    void connectHandlers();
    void startWindow(bool canShowWindow);

    CommandLine commandLine_;
    UserDialogs& dialogs_;
    ProgramEnd& end_;

    ui::MainWindow window_;
    store::TargetSetting target_;
    store::HistoryFile history_;
    archive::ArchiveComponent zip_;
    SingleInstance instance_;
    CloseOperation close_;
    archive::BackupJob backup_;
    archive::RestoreJob restore_;
    Shell shell_;
};

} // namespace kavlento

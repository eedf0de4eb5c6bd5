#pragma once

#include "app/AdminCommands.h"
#include "app/CloseOperation.h"
#include "app/CommandLine.h"
#include "app/JobState.h"
#include "app/LineOutput.h"
#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/SingleInstance.h"
#include "app/UserDialogs.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"

#include <QString>

namespace kavlento::archive {
class ArchiveComponent;
} // namespace kavlento::archive

namespace kavlento::app {

class BackupJob;
class RestoreJob;

// The handlers of the main window that are not a backup or a restore: the
// start-up sequence, the close request, the removal of a history entry, and the
// archive component's progress and failure reports.
class Shell {
public:
    struct Parts {
        QString programFolder;
        const CommandLine& commandLine;
        SingleInstance& instance;
        MainView& view;
        UserDialogs& dialogs;
        ProgramEnd& end;
        JobState& state;
        const store::HistoryFile& history;
        const store::TargetSetting& target;
        BackupJob& backup;
        RestoreJob& restore;
        AdminCommands& admin;
        LineOutput& output;
        archive::ArchiveComponent& zip;
    };

    explicit Shell(Parts parts) : p_(parts) {}

    // Runs the start-up sequence, and what the administrator's options ask for
    // instead of the window; true when the window is to be shown.
    bool startUp();
    // The window was closed from outside: store the target folder.
    void unload();
    // A request to stop from outside: a running job that has not committed
    // stops and fails, saying so (its failure path removes what it wrote);
    // one that has completes and ends as completed, without waiting at a box.
    // Without a job the program ends as when its window is closed.
    void stop(const QString& signalName);
    // "İPTAL ET": asks, then removes every record of the selected archive.
    void removeSelectedEntry();
    void onProgress(int percent);
    // A job failed: the program-wide failure path takes over.
    [[noreturn]] void onFailed(int number, const QString& description);

private:
    // The keyword: one backup, to the target of --hedef when one is given and
    // accepted, and the end.
    void runUnattended();

    Parts p_;
};

} // namespace kavlento::app

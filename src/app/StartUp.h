#pragma once

#include "app/AdminCommands.h"
#include "app/CommandLine.h"
#include "app/JobState.h"
#include "app/LineOutput.h"
#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/SingleInstance.h"
#include "app/UnattendedRun.h"
#include "app/UserDialogs.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"

#include <QString>

namespace kavlento::app {

// The start-up sequence (the window's load step): one instance per program
// folder, the stored files read into the window, the launch code, the undo of
// a restore a crash cut off, and what the administrator's options ask for
// instead of the window.
class StartUp {
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
        AdminCommands& admin;
        LineOutput& output;
        UnattendedRun& unattended;
    };

    explicit StartUp(Parts parts) : p_(parts) {}

    // True when the window is to be shown.
    bool run();

private:
    void showStoredFiles();

    Parts p_;
};

} // namespace kavlento::app

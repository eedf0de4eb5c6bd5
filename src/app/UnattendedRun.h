#pragma once

#include "app/AdminCommands.h"
#include "app/BackupJob.h"
#include "app/CommandLine.h"
#include "app/JobState.h"
#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/UserDialogs.h"

namespace kavlento::app {

// The keyword's run: one backup, to the target of --hedef when one is given
// and accepted, and the end, without a question.
class UnattendedRun {
public:
    struct Parts {
        const CommandLine& commandLine;
        MainView& view;
        UserDialogs& dialogs;
        ProgramEnd& end;
        JobState& state;
        AdminCommands& admin;
        BackupJob& backup;
    };

    explicit UnattendedRun(Parts parts) : p_(parts) {}

    void run();

private:
    Parts p_;
};

} // namespace kavlento::app

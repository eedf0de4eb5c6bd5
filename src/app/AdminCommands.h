#pragma once

#include "app/LineOutput.h"
#include "app/ProgramEnd.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"

#include <QString>

namespace kavlento::app {

// What the administrator asks for on the command line, for machines where
// nobody sits at the screen.
class AdminCommands {
public:
    struct Parts {
        const store::TargetSetting& target;
        const store::HistoryFile& history;
        LineOutput& output;
    };

    explicit AdminCommands(Parts parts) : p_(parts) {}

    // --hedef: stores `folder` as the target after the checks of the folder
    // chooser (an existing folder the stored files and commands can carry),
    // and says what was stored.
    ExitStatus storeTarget(const QString& folder);
    // --denetle: reads every archive the history lists, as a restore would,
    // writing nothing; one line each. Damaged archives give their own status;
    // one that cannot be reached (a disk not attached) does not.
    ExitStatus checkBackups();

private:
    Parts p_;
};

} // namespace kavlento::app

#pragma once

#include "app/LineOutput.h"
#include "app/ProgramEnd.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"

#include <QString>

#include <optional>

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

    // What --hedef did: the folder stored, or nothing; and a line that says so.
    struct StoredTarget {
        std::optional<QString> folder;
        QString said;
    };

    explicit AdminCommands(Parts parts) : p_(parts) {}

    // --hedef: stores `folder` as the target after the checks of the folder
    // chooser; the stored target stays when the folder is refused.
    StoredTarget storeTarget(const QString& folder);
    // --denetle: reads every archive the history lists, as a restore would,
    // writing nothing; one line each, and a summary of what was not checked
    // and why. Only when every archive was read and found sound is all well.
    ExitStatus checkBackups();

private:
    Parts p_;
};

} // namespace kavlento::app

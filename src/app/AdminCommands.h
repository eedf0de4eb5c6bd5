#pragma once

#include "app/LineOutput.h"
#include "app/ProgramEnd.h"
#include "archive/OwnFiles.h"
#include "base/Clock.h"
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
        QString programFolder;
        const store::TargetSetting& target;
        const store::HistoryFile& history;
        LineOutput& output;
        const Clock& clock;
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
    // --durum: this folder's newest backup and its age, how many there are,
    // the target, whether its disk is attached, and the room on it, reading
    // only the archives' ends. All is well only when the newest backup is
    // there and younger than `days` days, and not from ahead of the clock.
    ExitStatus showStatus(int days);

private:
    void sayUncounted(const archive::TargetArchives& found);

    Parts p_;
};

} // namespace kavlento::app

#pragma once

#include "app/UserDialogs.h"
#include "archive/OwnFiles.h"
#include "fs/OpenFolder.h"
#include "store/HistoryFile.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace kavlento::app {

// --sakla N: after a new backup has completed and passed its check, only the
// newest N archives of this program folder that pass the full check of
// --denetle (every entry read) are kept in the dated folders of the target;
// older ones of this folder there are deleted, with their records and the
// dated folders they leave empty. An archive is this folder's when it says it
// was written by this folder on this host (a copy of the folder is another
// folder), whether or not a record still lists it. A damaged one is never
// counted and never deleted, and says so. Records whose archive is gone while
// its dated folder is there are dropped, each with a line. Nothing else is
// ever deleted: other folders' archives, archives that do not say whose they
// are, and anything outside the target's dated folders stay.
class Retention {
public:
    Retention(const store::HistoryFile& history, UserDialogs& dialogs, QString programFolder)
        : history_(history), dialogs_(dialogs), programFolder_(std::move(programFolder)) {}

    void keepNewest(int count, const QString& target);

private:
    using Archive = archive::TargetArchives::Archive;

    // Whether the archive reads whole; says why when it does not.
    bool isSound(const fs::OpenFolder& target, const Archive& archive) const;
    // Deletes the archive; false, deleting nothing, when another file has
    // taken its name since it was found.
    bool remove(const fs::OpenFolder& target, const Archive& archive) const;
    // Drops the records of the deleted archives, and those whose archive is
    // gone from a dated folder that is there; removes the dated folders the
    // deleted ones left empty.
    void forget(const fs::OpenFolder& target, const std::vector<Archive>& deleted) const;
    void sayWhatStays(const archive::TargetArchives& found, const QString& target) const;

    const store::HistoryFile& history_;
    UserDialogs& dialogs_;
    QString programFolder_;
};

} // namespace kavlento::app

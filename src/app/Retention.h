#pragma once

#include "app/UserDialogs.h"
#include "archive/CheckedArchives.h"
#include "archive/OwnFiles.h"
#include "fs/OpenFolder.h"
#include "store/HistoryFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kavlento::app {

// A backup whose moment lies more than this ahead of the clock was dated by a
// wrong clock, then or now; within it, clocks a correction apart pass.
constexpr std::int64_t kClockSlackSeconds = 10 * 60;
inline bool isAheadOf(std::int64_t moment, std::int64_t now) {
    return moment > now + kClockSlackSeconds;
}
// "07-12-2026 23:01:04", in local time.
QString momentText(std::int64_t moment);

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
// The archive the run has just taken always stays and counts first, whatever
// its moment says (a clock set back makes it look the oldest). An archive
// whose moment lies ahead of the clock has an unknown age: it is named, never
// counted and never deleted.
class Retention {
public:
    Retention(const store::HistoryFile& history, UserDialogs& dialogs, QString programFolder)
        : history_(history), dialogs_(dialogs), programFolder_(std::move(programFolder)),
          checked_(fs::toSystemPath(programFolder_)) {}

    // `justTaken` is the path of the archive this run wrote; `now` the clock's
    // seconds since 1970.
    // False when it found an archive of this folder damaged, which it
    // neither counted nor deleted.
    bool keepNewest(int count, const QString& target, const QString& justTaken, std::int64_t now);

private:
    using Archive = archive::TargetArchives::Archive;

    // Whether the archive reads whole; says why when it does not.
    bool isSound(const fs::OpenFolder& target, const Archive& archive);
    // Deletes the archive; false, deleting nothing, when another file has
    // taken its name since it was found.
    bool remove(const fs::OpenFolder& target, const Archive& archive) const;
    // Drops the records of the deleted archives, and those whose archive is
    // gone from a dated folder that is there; removes the dated folders the
    // deleted ones left empty.
    void forget(const fs::OpenFolder& target, const std::vector<Archive>& deleted) const;
    void sayWhatStays(const archive::TargetArchives& found, const QString& target) const;
    // Lists the sound archives that stay, for the nights to come.
    void rememberChecked(const archive::TargetArchives& found,
                         const std::vector<Archive>& deleted) const;

    const store::HistoryFile& history_;
    UserDialogs& dialogs_;
    QString programFolder_;
    archive::CheckedArchives checked_;
    bool foundDamaged_ = false;
};

} // namespace kavlento::app

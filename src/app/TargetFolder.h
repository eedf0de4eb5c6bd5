#pragma once

#include "store/History.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace kavlento::app {

// What keeps backups from going into a target folder now: every backup must
// be able to name the folder in the stored files, find it, and make its dated
// folder and archive in it.
enum class TargetProblem {
    None,
    UnstorableMarks,   // a quote or a line end, which the stored files cannot hold
    UnstorableLetters, // letters the stored files' code page lacks
    DiskAbsent,        // its disk seems not to be attached
    ReadOnly,
    NoPermission,
    Missing,
    Unwritable, // for another reason of the system's
};
struct TargetCheck {
    TargetProblem problem = TargetProblem::None;
    int error = 0; // the system's error number, where it tells more
};
TargetCheck checkTarget(const QString& folder);

// Why `folder` cannot be the target of backups, for a user choosing one, or
// an empty text when it can. The folder chooser and --hedef both ask here
// before anything is stored.
QString targetRefusal(const QString& folder);

// Why no backup may go to `folder` now because its disk seems not to be
// attached (a backup would fill the system disk instead), or an empty text.
QString absentDiskRefusal(const QString& folder);

// Why an archive cannot be read at all: its folder is not there (a disk not
// attached, the folder deleted, or one on the way that cannot be looked
// into), or only its file is gone.
enum class Absence { None, FolderAway, FileGone };
Absence absenceOf(const std::string& path);

// `folder` when it is there to open a chooser in, else an empty text.
QString folderIfPresent(const QString& folder);

// The names of the folders in `target` (as the records spell it) that the
// history's archives lie in: dated folders the program named, whatever
// regional settings named them. Records of other targets name none.
std::vector<std::string> datedFolderNames(const std::optional<store::History>& history,
                                          const QString& target);

} // namespace kavlento::app

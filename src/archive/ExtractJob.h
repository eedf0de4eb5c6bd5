#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/JobControl.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kavlento::archive {

// A backup of the folder as it is, taken before a restore changes it: an
// ordinary backup, whose `record` (called on the job's thread once the archive
// is named, before the restore commits) puts it in the history.
struct SafetyBackup {
    CompressCommand command;
    std::vector<std::string> listedArchives;
    std::int64_t moment = 0;
    std::function<void(const CompressResult&)> record;
};

// Makes a folder hold exactly the archive's tree: files of the same name are
// replaced, and what the archive lacks goes in the same step. Nothing in the
// folder changes until every entry has been extracted and checked (see
// FolderTransaction), and 100 % is reported only once every file is in place
// and on disk. Archives whose entries would land outside the folder are
// refused before anything is written. Names at the top of the folder listed in
// `leftAlone`, however the file system spells them, are not restored, nor
// anything below them: what the folder has under them, or lacks, stays so.
//
// With a safety backup, the archive is first read whole and checked, so that a
// damaged one costs no backup; then the folder is backed up; then restored.
void runExtract(const ExtractCommand& command, JobControl& control, unsigned threads = 0,
                const std::vector<std::string>& leftAlone = {},
                const std::optional<SafetyBackup>& safety = std::nullopt);

// Undoes a restore into `folder` that a crash cut off, or removes what one cut
// off before its moves left (see FolderTransaction::recover).
void recoverInterruptedRestore(const QString& folder);

} // namespace kavlento::archive

#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/JobControl.h"
#include "fs/StepWatch.h"

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
    std::int64_t moment = 0;
    std::function<void(const CompressResult&)> record;
};

// What a restore leaves where it is, whatever the archive holds: the program's
// own files at the top (`programFiles`, however the file system spells them;
// what the folder has under them, or lacks, stays so), and what a backup of
// the folder leaves out as Kavlento's own (see BackupExclusions): the archives
// and unfinished files in the dated folders of `target` (empty when none is
// set), those folders themselves, and the archives the history lists.
struct LeftInPlace {
    std::vector<std::string> programFiles;
    std::string target;
    std::vector<std::string> listedArchives;
};

// Makes a folder hold exactly the archive's tree: files of the same name are
// replaced, and what the archive lacks goes in the same step. Nothing in the
// folder changes until every entry has been extracted and checked (see
// FolderTransaction), and 100 % is reported only once every file is in place
// and on disk. Archives whose entries would land outside the folder are
// refused before anything is written, and so are archives whose links could
// not be made as they were archived. Only what a backup would have packed
// goes as what the archive lacks: what `leftInPlace` names stays, and so do
// sockets, pipes and devices.
//
// With a safety backup, the archive is first read whole and checked, so that a
// damaged one costs no backup; then the folder is backed up; then restored.
// `watch`, when given, is told of every change the restore makes (see StepWatch).
void runExtract(const ExtractCommand& command, JobControl& control, unsigned threads = 0,
                const LeftInPlace& leftInPlace = {},
                const std::optional<SafetyBackup>& safety = std::nullopt,
                fs::StepWatch* watch = nullptr);

// Undoes a restore into `folder` that a crash cut off, or removes what one cut
// off before its moves left (see RestoreRecovery::recover); the working
// folders there that are not Kavlento's to touch, which it left alone.
std::vector<QString> recoverInterruptedRestore(const QString& folder);

} // namespace kavlento::archive

#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/JobControl.h"
#include "zip/ZipFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kavlento::archive {

struct CompressResult {
    std::string archivePath;
    std::size_t entryCount = 0;
    std::uint64_t archiveSize = 0;
    std::int64_t checkMilliseconds = 0; // of reading the archive back
};

// "name-n.ext": the n-th name of an archive whose name was taken.
std::string numberedArchiveName(const std::string& fileName, int n);

// Packs a folder into a new WinZip AES-256 archive in the destination folder,
// a dated folder of the target: that one level is made when missing, and one
// that another user made or may write in is refused (see OpenFolder::ownFolder).
// Every entry is reached from the open source folder one name at a time, never
// through a link; what is Kavlento's own is left out (see BackupExclusions,
// given the archives the history lists). Nobody who could not read every entry
// it holds may read the archive (see ArchiveReaders), from the moment its file
// exists. A backup that clearly cannot fit, with less room on the target's
// disk than the newest of `listedArchives` took (or than the folder holds, if
// less), fails with FailureCode::DiskTooFull before anything is made there.
//
// The archive is read back from the disk and checked entry by entry before it
// gets its name, so an archive under its name is always complete and
// restorable; that name is the job's commit. A backup never changes an
// existing archive: when the name is taken by then, the archive gets the next
// free one ("name-2.ksd", ...), which the result gives, and it keeps it only
// while the destination's path still leads to the folder it was written in.
//
// The archive carries its origin (zip::ArchiveOrigin): this host and machine,
// the source folder's path and `moment`, the time of the backup in seconds
// since 1970.
CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& listedArchives, std::int64_t moment,
                           JobControl& control, unsigned threads = 0);

// Where an archive of `folder` written now says it comes from.
zip::ArchiveOrigin originOf(const std::string& folder, std::int64_t moment);

} // namespace kavlento::archive

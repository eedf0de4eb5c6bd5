#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/JobControl.h"

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

// Packs a folder into a new WinZip AES-256 archive. The archive is read back
// from the disk and checked entry by entry before it gets its name, so an
// archive under its name is always complete and restorable; a backup never
// changes an existing archive (a name that is taken is a failure). Folders in
// `excludedFolders`, the destination folder and Kavlento's own working folders
// are never packed.
CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& excludedFolders, JobControl& control,
                           unsigned threads = 0);

} // namespace kavlento::archive

#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/JobControl.h"

#include <string>
#include <vector>

namespace kavlento::archive {

struct CompressResult {
    std::string archivePath;
    std::size_t entryCount = 0;
};

// Packs a folder into a WinZip AES-256 archive: deflate on all cores, the
// archive given its name only once it is complete and on disk. In add mode an
// existing archive of that name is read, checked and its entries that the
// folder does not replace are carried over; it stays as it was if anything
// fails. Folders in `excludedFolders`, the destination folder and Kavlento's
// own working folders are never packed.
CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& excludedFolders, JobControl& control,
                           unsigned threads = 0);

} // namespace kavlento::archive

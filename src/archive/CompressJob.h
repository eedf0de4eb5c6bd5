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
// archive under its name is always complete and restorable. A backup never
// changes an existing archive: when the name is taken by then, the archive
// gets the next free one ("name-2.ksd", "name-3.ksd", ...), which the result
// gives.
//
// What is never packed, wherever the destination lies (inside the folder, the
// folder itself, or the folder reached again through a mount): the archives of
// `ownArchives` that are found in the folder (the same file, by device and
// inode) and are recognised as this program's archives, unfinished archives,
// and Kavlento's own working folders. Everything else is the user's.
// "name-n.ext": the n-th name of an archive whose name was taken.
std::string numberedArchiveName(const std::string& fileName, int n);

CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& ownArchives, JobControl& control,
                           unsigned threads = 0);

} // namespace kavlento::archive

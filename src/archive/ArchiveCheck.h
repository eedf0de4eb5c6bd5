#pragma once

#include "archive/JobControl.h"
#include "archive/Packer.h"
#include "fs/File.h"

#include <string>
#include <vector>

namespace kavlento::archive {

// Reads an archive just written back from the disk with the restore's own
// reader and rules, and checks that it holds exactly what was packed: the same
// entries in the same order, with their names, kinds, sizes, modes and times,
// its origin, and every entry's content whole (its password check, HMAC, CRC and size).
// The keys kept from packing are used, so no key is derived again. Throws the
// failure found, saying that no backup was taken.
void checkWrittenArchive(const fs::UniqueFd& archive, const std::string& path,
                         const std::vector<PackedEntry>& packed, const zip::ArchiveOrigin& origin,
                         JobControl& control, unsigned threads = 0);

// What checking the packed entries weighs in progress units.
std::uint64_t checkingWork(const std::vector<TreeEntry>& entries);

} // namespace kavlento::archive

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/TreeEntry.h"
#include "fs/FolderScanner.h"
#include "fs/OpenFolder.h"
#include "zip/ZipFormat.h"

namespace kavlento::archive {

// A folder as a backup would take it now (Kavlento's own files left out, see
// BackupExclusions), to weigh it and to tell whether an archive already holds it.
class FolderState {
public:
    // `target` may be empty or absent; names at the top listed in `ignored`
    // (files that change with every backup, the history among them) do not count.
    FolderState(const std::string& folder, const std::string& target,
                const std::vector<std::string>& listedArchives, std::vector<std::string> ignored);

    // The bytes of its files and links.
    std::uint64_t bytes() const { return bytes_; }
    // Whether the archive at `path` is this folder's and holds exactly this:
    // the same names, kinds, sizes, modification times and modes, each file's
    // bytes and each link's target giving the CRC-32 stored for it, and every
    // entry read whole. An entry stored without its CRC (AE-2) proves nothing,
    // and an archive that cannot be read holds nothing.
    bool isHeldBy(const std::string& archivePath) const;

private:
    bool ignores(std::string_view path) const;

    fs::OpenFolder folder_;
    zip::ArchiveOrigin origin_;
    std::vector<std::string> ignored_;
    fs::ScannedTree tree_;
    std::uint64_t bytes_ = 0;
};

} // namespace kavlento::archive

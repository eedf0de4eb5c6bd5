#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kavlento::archive {

struct ScannedEntry {
    enum class Kind { File, Folder, Link };
    Kind kind = Kind::File;
    std::string relativeName; // '/'-separated, no leading or trailing '/'
    std::uint64_t size = 0;   // file size, or the length of a link's target
    std::uint32_t mode = 0;   // type and permission bits
    std::time_t modified = 0;
    std::string linkTarget;
};

struct ScanOptions {
    bool recurse = true;
    bool includeHidden = true;
    // Folders that are not packed, with everything in them.
    std::vector<std::string> excludedFolders;
};

// Lists a folder for packing: folders before their contents, names in byte
// order. Links are listed as links and never followed; sockets, pipes and
// devices are left out. A folder or file that cannot be read is a failure,
// never silently skipped.
std::vector<ScannedEntry> scanFolder(const std::string& root, const ScanOptions& options);

// Whether `path` is `folder` or lies inside it, comparing the real locations.
bool isSameOrInside(const std::string& path, const std::string& folder);

} // namespace kavlento::archive

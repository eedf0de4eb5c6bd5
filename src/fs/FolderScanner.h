#pragma once

#include "base/NameStore.h"
#include "base/TreeEntry.h"

#include <string>
#include <vector>

namespace kavlento::fs {

struct ScanOptions {
    bool recurse = true;
    bool includeHidden = true;
    // Folders that are not listed, with everything in them.
    std::vector<std::string> excludedFolders;
    // Names that are not listed wherever they are, with everything below them.
    std::vector<std::string> excludedNames;
};

// A folder's tree: folders before their contents, names in byte order.
struct ScannedTree {
    NameStore names; // the entries' paths
    std::vector<TreeEntry> entries;
};

// Lists a folder for packing. Links are listed as links and never followed;
// sockets, pipes and devices are left out. A folder or file that cannot be read
// is a failure, never silently skipped.
ScannedTree scanFolder(const std::string& root, const ScanOptions& options);

// Whether `path` is `folder` or lies inside it, comparing the real locations.
bool isSameOrInside(const std::string& path, const std::string& folder);

} // namespace kavlento::fs

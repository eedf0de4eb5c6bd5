#pragma once

#include "base/NameStore.h"
#include "base/TreeEntry.h"
#include "fs/File.h"

#include <functional>
#include <string>
#include <vector>

namespace kavlento::fs {

struct ScanOptions {
    bool recurse = true;
    bool includeHidden = true;
    // Names that are not listed wherever they are, with everything below them.
    std::vector<std::string> excludedNames;
    // Asked of every file found (its full path and what the system says of
    // it): true leaves that one file out.
    std::function<bool(const std::string& path, const PathInfo& info)> leaveOutFile;
};

// A folder's tree: folders before their contents, names in byte order.
struct ScannedTree {
    NameStore names; // the entries' paths
    std::vector<TreeEntry> entries;
};

// Lists a folder for packing. Links are listed as links and never followed;
// sockets, pipes and devices are left out. A folder that is one of its own
// ancestors (a mount of it inside itself) is listed, empty, and not entered
// again. A folder or file that cannot be read is a failure, never silently
// skipped.
ScannedTree scanFolder(const std::string& root, const ScanOptions& options);

} // namespace kavlento::fs

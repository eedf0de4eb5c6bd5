#pragma once

#include "base/NameStore.h"
#include "base/TreeEntry.h"
#include "fs/OpenFolder.h"

#include <functional>
#include <string_view>
#include <vector>

namespace kavlento::fs {

// An entry as the scanner finds it, in the folder it was found in.
struct FoundEntry {
    const OpenFolder& folder; // the folder that holds it
    std::string_view name;
    std::string_view relative; // below the scanned folder
    const PathInfo& info;
};

struct ScanOptions {
    bool recurse = true;
    bool includeHidden = true;
    // Asked of every entry found: true leaves it out, with everything below it.
    std::function<bool(const FoundEntry&)> leaveOut;
};

// A folder's tree: folders before their contents, names in byte order.
struct ScannedTree {
    NameStore names; // the entries' paths
    std::vector<TreeEntry> entries;
};

// Lists a folder for packing. Every entry is reached from the open folder one
// name at a time and never through a link, so whatever is swapped in while it
// runs, only what lies in the folder is listed, and a path of any length works.
// Links are listed as links; sockets, pipes and devices are left out. A folder
// that is one of its own ancestors (a mount of it inside itself) is listed,
// empty, and not entered again. A folder that cannot be read is a failure that
// names it, never silently skipped.
ScannedTree scanFolder(const OpenFolder& root, const ScanOptions& options);

} // namespace kavlento::fs

#include "archive/ArchiveReaders.h"

#include "base/Failure.h"

namespace kavlento::archive {

void ArchiveReaders::weighAncestor(const fs::PathInfo& folder) {
    weigh(folder, 01);
}

void ArchiveReaders::weighWayTo(const std::string& folder) {
    try {
        const std::optional<std::string> resolved = fs::resolvedPath(folder);
        if (!resolved) {
            weighAncestor({}); // nobody but the owner
            return;
        }
        // Up to the root, which is its own folder ("/", or "C:/" on Windows).
        for (std::string at = *resolved; fs::folderOf(at) != at;) {
            at = fs::folderOf(at);
            weighAncestor(fs::lookUp(at));
        }
    } catch (const Failure&) {
        weighAncestor({});
    }
}

void ArchiveReaders::weighPacked(const fs::PathInfo& entry) {
    switch (entry.kind) {
    case fs::PathKind::File:
        weigh(entry, 04);
        break;
    case fs::PathKind::Folder:
        weigh(entry, 05);
        break;
    case fs::PathKind::Link:
    case fs::PathKind::Missing:
    case fs::PathKind::Other:
        break;
    }
}

void ArchiveReaders::weigh(const fs::PathInfo& info, std::uint32_t needed) {
    const std::uint32_t byGroup = needed << 3;
    const bool groupMay = (info.mode & byGroup) == byGroup;
    // A member of the entry's group is held to the group's bits, not the
    // others': only where both allow may everybody.
    if (groupMay && (info.mode & needed) == needed) {
        return;
    }
    others_ = false;
    if (!groupMay || (group_ && *group_ != info.group)) {
        oneGroup_ = false;
        return;
    }
    group_ = info.group;
}

std::uint32_t ArchiveReaders::modeFor(std::uint32_t group) const {
    if (others_) {
        return 0644;
    }
    if (oneGroup_ && group_ == group) {
        return 0640;
    }
    return 0600;
}

} // namespace kavlento::archive

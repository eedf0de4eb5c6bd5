#pragma once

#include "fs/File.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kavlento::archive {

// Who besides its owner may read an archive: since its password is known to
// anyone, only those who could read every entry it holds, reaching them from
// the root of the system. The folders on the way and each packed entry are
// weighed as they are met; the archive's group is given last, as its file
// gets it.
class ArchiveReaders {
public:
    // A folder on the way to the packed folder: it has to be passed.
    void weighAncestor(const fs::PathInfo& folder);
    // The folders above `folder` (a path, links resolved first); one that
    // cannot be looked at leaves the archive to its owner.
    void weighWayTo(const std::string& folder);
    // The packed folder itself, and each entry packed below it: a file has to
    // be read, a folder listed and passed. Links are not weighed (their target
    // text is readable by whoever may list their folder), and nothing else is
    // packed.
    void weighPacked(const fs::PathInfo& entry);

    // The permission bits of the archive when its file belongs to `group`:
    // read and write for the owner; read for the group and the others only
    // where they could read all the rest.
    std::uint32_t modeFor(std::uint32_t group) const;

private:
    // `needed` is what the others' bits have to allow (4 read, 1 pass).
    void weigh(const fs::PathInfo& info, std::uint32_t needed);

    bool others_ = true;
    bool oneGroup_ = true;               // all the rest is readable through one group
    std::optional<std::uint32_t> group_; // that group, once one entry needs it
};

} // namespace kavlento::archive

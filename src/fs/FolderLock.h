#pragma once

#include "fs/File.h"

#include <optional>
#include <string>

namespace kavlento::fs {

// An exclusive lock on a folder itself, held while this object lives. It
// holds against every process of every user and login session that can open
// the folder, leaves nothing inside it, and goes with the process however the
// process ends, so no lock of a crashed run is ever left behind.
class FolderLock {
public:
    // The lock, or nothing when another process holds it. Throws when the
    // folder cannot be opened or locked for any other reason.
    static std::optional<FolderLock> tryLock(const std::string& folder);

private:
    explicit FolderLock(UniqueFd fd) : fd_(std::move(fd)) {}

    UniqueFd fd_;
};

} // namespace kavlento::fs

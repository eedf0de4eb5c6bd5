#pragma once

#include "fs/File.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kavlento::fs {

// Where the system says file systems are mounted, and are to be mounted.
struct MountTables {
    std::string fstab = "/etc/fstab";
    // Folders of systemd mount units written by the administrator.
    std::vector<std::string> unitFolders = {"/etc/systemd/system", "/run/systemd/system"};
    std::string mounted = "/proc/self/mountinfo";
};

// Whether `folder` seems to lie on a disk that is not attached now (its links
// and ".." resolved first, as far as it exists): the
// mount point that is configured for it (in fstab or a mount unit) but has
// nothing mounted on it, or, for a folder under /media, /run/media or /mnt,
// the folder itself when it (or, if missing, the nearest folder above it
// that exists) lies on the root file system. Empty when its disk seems there.
// A backup written there would fill the system disk and be gone when the
// disk comes back.
std::string absentDiskFolder(const std::string& folder, const MountTables& tables = MountTables());

// Whether the file system of `device` (PathInfo::device) keeps no owners or
// permissions (FAT, exFAT, in the kernel or through FUSE): it shows every
// entry with its mount's owner and one mode, whoever made it and whatever mode
// it was given. False where that cannot be told.
bool keepsNoPermissions(std::uint64_t device);

// Whether nobody but its owner may write in what `info` describes. On a file
// system that keeps no permissions every entry shows one mode, and whoever
// reaches it may write everything on it anyway: there the owner alone decides.
bool closedToOthers(const PathInfo& info);

// Whether only this user or the administrator may change what `info`
// describes: it belongs to one of them and no one else may write in it.
// Anything else may have been put there by another user, to make whoever runs
// Kavlento next act on it.
bool onlyOwnerMayChange(const PathInfo& info);

} // namespace kavlento::fs

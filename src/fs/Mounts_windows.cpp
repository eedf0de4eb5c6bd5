#include "fs/Mounts.h"

#include "fs/Descriptor_windows.h"
#include "fs/File.h"

namespace kavlento::fs {

namespace {

// The root of the volume that holds `path` ("E:\", "\\server\share\", or a
// folder another volume is mounted on), as far as the system can tell
// without the volume; else the root its path names.
std::wstring volumeRootOf(const std::wstring& path) {
    wchar_t root[MAX_PATH + 1] = {};
    if (::GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1)) {
        return root;
    }
    if (path.size() >= 2 && path[1] == L':') {
        return path.substr(0, 2) + L"\\";
    }
    return path;
}

bool isAbsent(const std::wstring& root) {
    if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) {
        return true;
    }
    // A card reader or a disc drive with nothing in it.
    return !::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                    0) &&
           ::GetLastError() == ERROR_NOT_READY;
}

} // namespace

// Windows names no disk that is to be mounted but is not: a folder's drive
// letter or network share is either there or not, and the tables have no
// counterpart.
std::string absentDiskFolder(const std::string& folder, const MountTables&) {
    const std::wstring root = volumeRootOf(wide(folder));
    return isAbsent(root) ? utf8(root.data(), root.size()) : std::string();
}

// The bits PathInfo shows there are made from the read-only attribute and the
// access list; no mode can be given to a file to change who may use it.
bool keepsNoPermissions(std::uint64_t) {
    return true;
}

// lookUp gives write bits for others (022) where the entry's access list lets
// anyone but its owner, this user, the system and the Administrators group
// change it, or cannot be read: those bits alone tell, as the access list
// itself is what keeps others out. On FAT and exFAT, which keep no list,
// whoever reaches the disk may change everything on it anyway, as on a Linux
// mount without permissions.
bool closedToOthers(const PathInfo& info) {
    return (info.mode & 022) == 0;
}

// The owner is the access list's: 0 for the system and the Administrators
// group, who stand where root does, and an unknown owner is nobody's. What
// fails here is passed over (a restore journal left alone, an earlier backup
// kept), never acted on: being too trusting could remove a user's backups.
bool onlyOwnerMayChange(const PathInfo& info) {
    return (info.owner == effectiveUser() || info.owner == 0) && closedToOthers(info);
}

} // namespace kavlento::fs

#pragma once

#include "fs/FolderScanner.h"
#include "fs/OpenFolder.h"
#include "zip/ZipFormat.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavlento::archive {

// What is Kavlento's own among the files it meets, and where each may stand:
// its archives in the dated folders of a target, its unfinished files there,
// and its working folder and list of checked archives at the top of a
// program folder. Everything else is
// the user's. Backups, retention and restores all ask here.

// "7122026.23014.ksd", or "7122026.23014-2.ksd" where that name was taken.
bool isArchiveFileName(std::string_view name);
// A date text as dated folders are named: digits with separators between
// them, or a short date of the regional settings in use (see
// readsAsShortDate), whose dates may have letters.
bool isDatedFolderName(std::string_view name);
// What the unfinished files of backups of `folder` (an origin: its host,
// machine and folder count) carry in their names, so that the next backup of
// the same folder on the same machine knows them for its own.
std::string unfinishedFileWriter(const zip::ArchiveOrigin& folder);
// Kavlento's own entries at the top of the program folder only: the
// restore's working folder and the list of checked archives.
bool isOwnTopEntry(std::string_view relative);

// A folder directly inside a target, named as a dated folder or as a record of
// the history names one.
struct DatedFolder {
    std::string name;
    fs::OpenFolder folder;
    // Whether only this user, root or the target's owner could have put files
    // in it: as a backup writes into it, closed to everyone else, where the
    // file system keeps permissions at all. Only such a folder's files are
    // ever counted or removed as Kavlento's.
    bool own = false;
};
// The dated folders of `target`: those named as dated folders are, and those
// named in `alsoNamed` (the folders the history's records lie in, today's).
// Links are never followed; folders this user may not list are passed over.
std::vector<DatedFolder> datedFoldersOf(const fs::OpenFolder& target,
                                        const std::vector<std::string>& alsoNamed);

// The archives in the dated folders of a target, sorted by whose they are.
struct TargetArchives {
    struct Archive {
        std::string datedFolder; // its folder's name in the target
        std::string name;
        fs::PathInfo file;
        zip::ArchiveOrigin origin;
        std::string path() const { return datedFolder + "/" + name; } // below the target
    };
    std::vector<Archive> ours;           // written by this folder, newest first
    std::vector<std::string> unmarked;   // written before archives said whose they are
    std::vector<std::string> unreadable; // named as archives, but no archive's end found
    // Written, it seems, by this folder before it was moved, or before the
    // host was renamed: this machine's archives of a folder that is gone, and
    // those of this folder's path that name another host and no machine.
    std::vector<std::string> elsewhere;
    // Saying they are this folder's, but where another user could have put
    // them: in a dated folder that is not this user's, root's or the target
    // owner's, or that others may write in, or owned by someone else.
    std::vector<std::string> foreign;
};
// The files named as archives in the dated folders (by name, or named in
// `alsoNamed`, as the history's records name them) of `target`, each one's
// origin read from its end alone. `folder` is this folder's origin; only the
// host, machine and folder count.
TargetArchives archivesIn(const fs::OpenFolder& target, const zip::ArchiveOrigin& folder,
                          const std::vector<std::string>& alsoNamed = {});

// Whether the file `name` in `folder` opens as one of Kavlento's archives.
bool opensAsOurArchive(const fs::OpenFolder& folder, const std::string& name,
                       const std::string& password);

// What a backup leaves out of the folder it packs, wherever the target lies
// (inside the folder, the folder itself, or reached again through a mount):
// the working folder at the top, unfinished files in the target's dated
// folders, and earlier archives that are files named as archives in those
// folders or that the history lists, recognised by device and inode and
// opened before they are left out, so that no user's file that merely took
// such a name or place is.
class BackupExclusions {
public:
    // `todaysFolder` is the name of the dated folder the backup writes to;
    // without a target only the working folder and listed archives are left out.
    BackupExclusions(const fs::OpenFolder* target, const std::string& todaysFolder,
                     const std::vector<std::string>& listedArchives, std::string password);
    // The same for a target named by its path, which may be empty, or not
    // there (its disk not attached).
    static BackupExclusions forTarget(const std::string& target,
                                      const std::vector<std::string>& listedArchives,
                                      std::string password);

    bool leaveOut(const fs::FoundEntry& entry);
    // Whether a restore leaves `entry` where it is: what a backup leaves out,
    // and the target's dated folders themselves (what else they hold is the
    // user's, weighed one by one).
    bool staysInPlace(const fs::FoundEntry& entry);

private:
    using Identity = std::pair<std::uint64_t, std::uint64_t>;
    static Identity identity(const fs::PathInfo& info) { return {info.device, info.inode}; }

    std::string password_;
    std::set<Identity> datedFolders_;
    std::map<Identity, std::optional<bool>> archives_; // recognised yet, and whether ours
};

} // namespace kavlento::archive

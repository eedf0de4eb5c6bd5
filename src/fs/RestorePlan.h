#pragma once

#include "base/TreeEntry.h"
#include "fs/FolderScanner.h"
#include "fs/OpenFolder.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavlento::fs {

// What a restore of `items` into a folder will do, decided before anything is
// made or removed, and not changed after: where each item lands (its area, see
// RestoreAreas), what the folder holds beyond the items and goes aside, what
// stays. Every refusal a restore can meet in the folder is met here.
class RestorePlan {
public:
    // What the destination keeps whatever the items say.
    struct Kept {
        // Names at the top, however the file system spells them.
        std::vector<std::string> names;
        // Kavlento's own things, as a backup of the destination would leave
        // them out: they stay where they are, and a folder of them is looked
        // into instead of going whole.
        std::function<bool(const FoundEntry&)> inPlace;
    };
    // What an item's path holds now.
    struct Found {
        bool existed = false;
        bool closed = false; // a folder of this user's that he may not write in
        bool owned = false;  // this user may change its mode: his, or he is root
        std::uint32_t mode = 0;
    };

    // Plans the restore of `items` into `destination`: folders before their
    // contents, every folder a file lies in listed. Every folder gets its mode
    // and time, but those in `impliedFolders` (folders the items do not list,
    // only needed for what they hold), which keep theirs where they exist.
    // What the destination holds beyond the items goes, but only what a backup
    // would have packed: what `kept` names, sockets, pipes and devices stay.
    // Refuses: a folder where the items have a file or a link, or the reverse;
    // an item in the place of one of Kavlento's own files; an item named like
    // the working folder; a disk mounted in a folder the items lack; a folder
    // this user could not change (another user's that he may not write in, an
    // immutable one) or an immutable file that would have to go; a file system
    // without room for what lands on it.
    RestorePlan(const OpenFolder& destination, std::vector<TreeEntry> items, Kept kept,
                std::set<std::string, std::less<>> impliedFolders);
    RestorePlan(const RestorePlan&) = delete;
    RestorePlan& operator=(const RestorePlan&) = delete;

    const std::vector<TreeEntry>& items() const { return items_; }
    // The paths the items lack that go aside whole.
    const std::vector<std::string>& extras() const { return extras_; }
    // The folders the items lack that stay for what they hold.
    const std::set<std::string, std::less<>>& lookedInto() const { return lookedInto_; }
    bool isImplied(std::string_view folder) const { return impliedFolders_.count(folder) > 0; }
    // The folders, below the destination, of the other mounts the items land on.
    const std::vector<std::string>& mountFolders() const { return mountFolders_; }
    // The area the path lands in: 0 for the destination's own mount.
    std::uint32_t areaOf(std::string_view path) const;

    // What every item's path holds now; conflicts are refused here.
    std::vector<Found> survey() const;
    // Refuses an item the file system takes for the working folder's name;
    // once the working folder is made, its own name tells that wherever the
    // items' names alone cannot.
    void refuseItemsNamedLikeTheWorkingFolder() const;

private:
    void planAreas();
    void requireMountsFree() const;
    void findExtras();
    void findExtrasIn(const OpenFolder& folder, const std::string& prefix);
    // A path the items lack, in `folder` as `name`: it goes aside, or stays,
    // or (a folder holding what stays) is looked into.
    void weighExtra(const OpenFolder& folder, const std::string& name, const std::string& relative);
    // Whether anything below the folder stays where it is.
    bool holdsWhatStays(const OpenFolder& folder, const std::string& relative) const;
    bool staysInPlace(const OpenFolder& folder, std::string_view name, std::string_view relative,
                      const PathInfo& info) const;
    void refuseItemInPlaceOfOurs(const OpenFolder& folder, const std::string& name,
                                 const std::string& relative) const;
    // The item's name, where the file system takes `name` (in `folder`) for it.
    std::optional<std::string_view> itemCalled(std::string_view folder, const std::string& name,
                                               const OpenFolder& holding) const;
    void requireRemovable(const OpenFolder& folder, const std::string& name,
                          const std::string& relative) const;
    void requireChangeable(const std::vector<Found>& found) const;
    void requireRoom() const;

    const OpenFolder& destination_;
    std::vector<TreeEntry> items_;
    Kept kept_;
    std::set<std::string, std::less<>> impliedFolders_;
    std::vector<std::string> mountFolders_;
    std::vector<std::string> extras_;
    std::set<std::string, std::less<>> lookedInto_;
    // Items a file of another spelling stands for now (a file system that folds
    // letter case): that file goes aside as an extra, and the item comes anew.
    std::set<std::string, std::less<>> respelled_;
    std::unordered_map<std::string_view, std::uint32_t> folderArea_;
    std::unordered_map<std::string_view, const TreeEntry*> byPath_;
    // The items' names by folder and name without letter case (see foldedKey).
    std::unordered_multimap<std::string, std::string_view> foldedNames_;
};

} // namespace kavlento::fs

#pragma once

#include "base/TreeEntry.h"
#include "fs/OpenFolder.h"
#include "fs/RestoreJournal.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavlento::fs {

// Makes a folder hold exactly a given tree, all together or not at all.
//
// Everything is first extracted into a working folder on the same mount as the
// place it goes to: one in the destination, and one at the top of every other
// file system mounted inside it that entries land on, so every later move is a
// rename. Then a journal of the planned moves is written (RestoreJournal), and
// each old file, and each path the tree lacks, is moved aside and the new file
// put in its place. If a move fails, everything moved so far is put back. If
// the process dies in the middle, recover() puts everything back at the next
// start. Only when every file is in place and on disk, and every folder moved
// in is still where it was, is the journal removed: that is the moment the
// restore happens; the old files then go with the working folders.
//
// Every path is reached from the open destination one name at a time, never
// through a link, so nothing outside the destination is made, changed or
// removed, whatever links it holds, and paths of any length work.
class FolderTransaction {
public:
    static constexpr const char* kFolderName = ".kavlento-geri-yukleme";

    // Undoes an interrupted restore into `destination`, or removes a working
    // folder left before any move began or after the last one. A folder of that
    // name that is not Kavlento's (see journal::isOurs) is left as it is. An
    // undo that cannot be completed throws, naming what stands in its way.
    static void recover(const std::string& destination);

    // Plans the restore of `items` into `destination`: folders before their
    // contents, every folder a file lies in listed; a folder's mode and time go
    // to the folders the restore creates, and to those the owner could not
    // write in, which are opened up while the files move. The names at the top
    // that `kept` lists, however the file system spells them, stay as they are.
    // Refuses, before anything is made or removed: a folder where the items
    // have a file or a link, or the reverse; a disk mounted in a folder the
    // items lack; a folder this user could not change (another user's that he
    // may not write in, an immutable one); a file system without room for what
    // lands on it. Nothing is made yet.
    FolderTransaction(const std::string& destination, std::vector<TreeEntry> items,
                      std::vector<std::string> kept = {});
    // Makes the working folders, with the folders the files need.
    void prepare();
    // Without commit(), the working folders go and the destination stays as it was.
    ~FolderTransaction();
    FolderTransaction(const FolderTransaction&) = delete;
    FolderTransaction& operator=(const FolderTransaction&) = delete;

    // The working folder the file or link at `path` (one of the items) is
    // extracted into, under that same path.
    const OpenFolder& stagingFolder(std::string_view path) const;

    // Moves the staged items into the destination, and what it holds beyond
    // them aside; on failure puts everything back and throws.
    void commit();

private:
    // A working folder, on the mount of `mountFolder` (relative to the
    // destination; empty for the destination itself).
    struct Area {
        std::string mountFolder;
        std::string root; // relative to the destination
        std::optional<OpenFolder> folder;
        std::optional<OpenFolder> staged; // the new files
        std::optional<OpenFolder> old;    // the files they replace, and the paths that go
    };
    // What an item's path holds before the moves.
    struct Found {
        bool existed = false;
        bool closed = false; // a folder its owner may not write in
        std::uint32_t mode = 0;
    };
    // The folder that holds a path of the destination, for one of the moves.
    using Holder = std::function<const OpenFolder&(std::string_view path)>;

    static void recoverIn(const OpenFolder& destination);
    static std::vector<Area> areasOf(const std::vector<std::string>& mountFolders);
    static void openArea(const OpenFolder& destination, Area& area);
    static void removeWorkingFolders(const OpenFolder& destination,
                                     const std::vector<Area>& areas) noexcept;
    // Puts back what the journal's moves changed, the files saying how far they
    // got, and removes the journal.
    static void undo(const OpenFolder& destination, const std::vector<Area>& areas,
                     const Holder& holder);
    static void rollBack(const OpenFolder& destination, const std::vector<Area>& areas,
                         const std::vector<journal::Move>& moves, const Holder& holder);

    void planAreas();
    void refuseItemsNamedLikeTheWorkingFolder() const;
    void requireMountsFree() const;
    void findExtras();
    void findExtrasIn(const OpenFolder& folder, const std::string& prefix);
    // The item's name, where the file system takes `name` (in `folder`) for it.
    std::optional<std::string_view> itemCalled(std::string_view folder, const std::string& name,
                                               const OpenFolder& holding) const;
    void requireRemovable(const OpenFolder& folder, const std::string& name,
                          const std::string& relative) const;
    void requireChangeable(const std::vector<Found>& found) const;
    void requireRoom() const;
    void makeWorkingFolders();
    std::uint32_t areaOf(std::string_view path) const;
    // What every item's path holds now; conflicts are refused here.
    std::vector<Found> plan() const;
    void writeJournal(const std::vector<Found>& found) const;
    void openUp(const std::vector<Found>& found) const;
    void moveAside();
    void moveIntoPlace(const std::vector<Found>& found);
    void finishFolders(const std::vector<Found>& found) const;
    void syncAreas() const;
    // The folder of the destination that holds `path`, opened once and held.
    const OpenFolder& held(std::string_view path);
    // Throws unless every folder held for the moves is still where it was.
    void requireHeldInPlace() const;

    OpenFolder destination_;
    std::vector<TreeEntry> items_;
    std::vector<std::string> kept_;
    std::vector<std::string> extras_; // paths the items lack, moved aside whole
    // Items a file of another spelling stands for now (a file system that folds
    // letter case): that file goes aside as an extra, and the item comes anew.
    std::set<std::string, std::less<>> respelled_;
    std::vector<Area> areas_;
    std::unordered_map<std::string_view, std::uint32_t> folderArea_;
    std::unordered_map<std::string_view, const TreeEntry*> byPath_;
    // The items' names by folder and name without letter case (see foldedKey).
    std::unordered_multimap<std::string, std::string_view> foldedNames_;
    std::map<std::string, OpenFolder, std::less<>> held_;
    bool keepForRecovery_ = false; // old files are still in the working folders
};

} // namespace kavlento::fs

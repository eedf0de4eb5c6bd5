#pragma once

#include "base/TreeEntry.h"
#include "fs/OpenFolder.h"
#include "fs/RestoreAreas.h"
#include "fs/RestorePlan.h"
#include "fs/StepWatch.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::fs {

// Makes a folder hold exactly a given tree, all together or not at all.
//
// Everything is first extracted into working folders on the same mounts as
// the places it goes to (RestoreAreas), so every later move is a rename. Then
// a journal of the planned moves is written (RestoreJournal), and each old
// file, and each path the tree lacks, is moved aside and the new file put in
// its place. If a move fails, everything moved so far is put back; if the
// process dies in the middle, RestoreRecovery puts everything back at the next
// start. Only when every file is in place and on disk, and every folder moved
// in is still where it was, is the journal removed: that is the moment the
// restore happens; the old files then go with the working folders.
//
// Every path is reached from the open destination one name at a time, never
// through a link, so nothing outside the destination is made, changed or
// removed, whatever links it holds, and paths of any length work.
class FolderTransaction {
public:
    static constexpr const char* kFolderName = restore::kWorkingFolder;
    using Kept = RestorePlan::Kept;

    // Undoes what an earlier restore into `destination` left, then plans this
    // one (see RestorePlan): everything it refuses is refused here, before
    // anything is made. A working folder that is not Kavlento's, or that may
    // not be trusted, refuses it too. `watch`, when given, is told of every
    // change. Nothing is made yet.
    FolderTransaction(const std::string& destination, std::vector<TreeEntry> items, Kept kept = {},
                      std::set<std::string, std::less<>> impliedFolders = {},
                      StepWatch* watch = nullptr);
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
    using Found = RestorePlan::Found;
    // A folder whose mode the moves change, with the mode it had.
    struct FolderMode {
        std::string path;
        std::uint32_t mode = 0;
        bool closed = false; // opened up while the files move
    };

    static OpenFolder openRecovered(const std::string& destination, StepWatch* watch);
    void makeWorkingFolders();
    // The folders whose modes the moves change: every folder item that exists
    // (but those only implied, and open to their owner), and every folder that
    // goes aside or is looked into that is closed to its owner.
    std::vector<FolderMode> changedFolders(const std::vector<Found>& found) const;
    void writeJournal(const std::vector<Found>& found,
                      const std::vector<FolderMode>& changed) const;
    void openUp(const std::vector<FolderMode>& changed) const;
    void moveAside();
    void moveIntoPlace(const std::vector<Found>& found);
    void finishFolders(const std::vector<Found>& found,
                       const std::vector<FolderMode>& changed) const;
    void syncAreas() const;
    // The folder of the destination that holds `path`, opened once and held.
    const OpenFolder& held(std::string_view path);
    // Throws unless every folder held for the moves is still where it was.
    void requireHeldInPlace() const;

    OpenFolder destination_;
    RestorePlan plan_;
    std::vector<restore::Area> areas_;
    std::map<std::string, OpenFolder, std::less<>> held_;
    bool keepForRecovery_ = false; // old files are still in the working folders
};

} // namespace kavlento::fs

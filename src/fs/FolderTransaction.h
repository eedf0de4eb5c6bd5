#pragma once

#include "base/TreeEntry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavlento::fs {

// Puts extracted files into a folder all together or not at all.
//
// Everything is first extracted into a working folder on the same mount as the
// place it goes to: one in the destination, and one at the top of every other
// file system mounted inside it that entries land on, so every later move is a
// rename. Then a journal of the planned moves is written, each old file is
// moved aside and the new one put in its place. If a move fails, everything
// moved so far is put back. If the process dies in the middle, recover() puts
// everything back at the next start. Only when every file is in place and on
// disk is the journal removed: that is the moment the restore happens.
class FolderTransaction {
public:
    static constexpr const char* kFolderName = ".kavlento-geri-yukleme";

    // Undoes an interrupted restore into `destination`, or removes working
    // folders left before any move began.
    static void recover(const std::string& destination);

    // Plans the restore of `items` into `destination`: folders before their
    // contents, every folder a file lies in listed; a folder's mode and time go
    // to the folders the restore creates. Refuses, before anything is written,
    // when a file system has no room for what lands on it. Then makes the
    // working folders, with the folders the files need in them.
    FolderTransaction(const std::string& destination, std::vector<TreeEntry> items);
    // Without commit(), the working folders go and the destination stays as it was.
    ~FolderTransaction();
    FolderTransaction(const FolderTransaction&) = delete;
    FolderTransaction& operator=(const FolderTransaction&) = delete;

    // Where the file or link at `path` (one of the items) is extracted to.
    std::string stagingPath(std::string_view path) const;

    // Moves the staged items into the destination; on failure puts everything
    // back and throws.
    void commit();

private:
    // A working folder, on the mount of `mountFolder` (relative to the
    // destination; empty for the destination itself).
    struct Area {
        std::string mountFolder;
        std::string root;
        std::string newRoot;
        std::string oldRoot;
    };
    // A journal record.
    struct Move {
        std::string path;
        bool folder = false;
        bool existed = false;
        std::uint32_t area = 0;
    };

    static std::vector<Area> areasOf(const std::string& destination,
                                     const std::vector<std::string>& mountFolders);
    static std::vector<std::string> readAreaList(const std::string& file);
    static std::vector<Move> readJournal(const std::string& journal);
    // Puts back what the journal's moves changed, the files saying how far they
    // got, and removes the journal.
    static void undo(const std::string& destination, const std::vector<Area>& areas,
                     const std::string& journal);
    static void rollBack(const std::string& destination, const std::vector<Area>& areas,
                         const std::vector<Move>& moves);

    void planAreas();
    void requireRoom() const;
    void makeWorkingFolders();
    std::uint32_t areaOf(std::string_view path) const;
    // Which items' paths are taken now; conflicts are refused here.
    std::vector<bool> plan() const;
    void writeJournal(const std::vector<bool>& existed) const;
    void moveIntoPlace(const std::vector<bool>& existed);
    void finishNewFolders(const std::vector<bool>& existed) const;
    void syncAreas() const;

    std::string destination_;
    std::vector<TreeEntry> items_;
    std::vector<Area> areas_;
    std::unordered_map<std::string_view, std::uint32_t> folderArea_;
    std::string journal_;
    bool keepForRecovery_ = false; // old files are still in the working folders
};

} // namespace kavlento::fs

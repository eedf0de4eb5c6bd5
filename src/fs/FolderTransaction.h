#pragma once

#include "base/TreeEntry.h"
#include "fs/OpenFolder.h"

#include <cstdint>
#include <optional>
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
//
// Every path is reached from the open destination one name at a time, never
// through a link, so nothing outside the destination is made, changed or
// removed, whatever links it holds, and paths of any length work.
class FolderTransaction {
public:
    static constexpr const char* kFolderName = ".kavlento-geri-yukleme";

    // Undoes an interrupted restore into `destination`, or removes working
    // folders left before any move began.
    static void recover(const std::string& destination);

    // Plans the restore of `items` into `destination`: folders before their
    // contents, every folder a file lies in listed; a folder's mode and time go
    // to the folders the restore creates, and to those the owner could not
    // write in, which are opened up while the files move. Refuses, before
    // anything is made or removed, a folder where the items have a file or a
    // link, or the reverse, and a file system without room for what lands on
    // it. Then makes the working folders, with the folders the files need.
    FolderTransaction(const std::string& destination, std::vector<TreeEntry> items);
    // Without commit(), the working folders go and the destination stays as it was.
    ~FolderTransaction();
    FolderTransaction(const FolderTransaction&) = delete;
    FolderTransaction& operator=(const FolderTransaction&) = delete;

    // The working folder the file or link at `path` (one of the items) is
    // extracted into, under that same path.
    const OpenFolder& stagingFolder(std::string_view path) const;

    // Moves the staged items into the destination; on failure puts everything
    // back and throws.
    void commit();

private:
    // A working folder, on the mount of `mountFolder` (relative to the
    // destination; empty for the destination itself).
    struct Area {
        std::string mountFolder;
        std::string root; // relative to the destination
        std::optional<OpenFolder> folder;
        std::optional<OpenFolder> staged; // the new files
        std::optional<OpenFolder> old;    // the files they replace
    };
    // A journal record: a file or folder moved ('F', 'D'), or a folder opened
    // up for the moves ('W', with the mode it had).
    struct Move {
        std::string path;
        char kind = 'F';
        bool existed = false;
        std::uint32_t area = 0;
        std::uint32_t mode = 0;
    };
    // What an item's path holds before the moves.
    struct Found {
        bool existed = false;
        bool closed = false; // a folder its owner may not write in
        std::uint32_t mode = 0;
    };

    static void recoverIn(const OpenFolder& destination);
    static std::vector<Area> areasOf(const std::vector<std::string>& mountFolders);
    static void openArea(const OpenFolder& destination, Area& area);
    static std::vector<std::string> readAreaList(const OpenFolder& main);
    static std::vector<Move> readJournal(const OpenFolder& main);
    // Puts back what the journal's moves changed, the files saying how far they
    // got, and removes the journal.
    static void undo(const OpenFolder& destination, const std::vector<Area>& areas);
    static void rollBack(const OpenFolder& destination, const std::vector<Area>& areas,
                         const std::vector<Move>& moves);

    void planAreas();
    void requireRoom() const;
    void makeWorkingFolders();
    std::uint32_t areaOf(std::string_view path) const;
    // What every item's path holds now; conflicts are refused here.
    std::vector<Found> plan() const;
    void writeJournal(const std::vector<Found>& found) const;
    void openUp(const std::vector<Found>& found) const;
    void moveIntoPlace(const std::vector<Found>& found);
    void finishFolders(const std::vector<Found>& found) const;
    void syncAreas() const;

    OpenFolder destination_;
    std::vector<TreeEntry> items_;
    std::vector<Area> areas_;
    std::unordered_map<std::string_view, std::uint32_t> folderArea_;
    bool keepForRecovery_ = false; // old files are still in the working folders
};

} // namespace kavlento::fs

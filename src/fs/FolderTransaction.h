#pragma once

#include "base/TreeEntry.h"

#include <string>
#include <vector>

namespace kavlento::fs {

// Puts extracted files into a folder all together or not at all.
//
// Everything is first extracted into a working folder inside the destination
// (so every later move is a rename on the same file system). Then a journal of
// the planned moves is written, each old file is moved aside and the new one
// put in its place. If a move fails, everything moved so far is put back. If
// the process dies in the middle, recover() puts everything back at the next
// start. Only when every file is in place and on disk is the journal removed:
// that is the moment the restore happens.
class FolderTransaction {
public:
    static constexpr const char* kFolderName = ".kavlento-geri-yukleme";

    // Undoes an interrupted restore into `destination`, or removes a working
    // folder left before any move began.
    static void recover(const std::string& destination);

    explicit FolderTransaction(const std::string& destination);
    // Without commit(), the working folder goes and the destination stays as it was.
    ~FolderTransaction();
    FolderTransaction(const FolderTransaction&) = delete;
    FolderTransaction& operator=(const FolderTransaction&) = delete;

    // Where the new files are extracted to.
    const std::string& stagingFolder() const { return newRoot_; }

    // Moves the staged entries into the destination; on failure puts everything
    // back and throws. `items` lists folders before their contents; a folder's
    // mode and time are given to the folders the restore creates.
    void commit(const std::vector<TreeEntry>& items);

private:
    // A journal record.
    struct Move {
        std::string path;
        bool folder = false;
        bool existed = false;
    };

    // Which items' paths are taken now; conflicts are refused here.
    std::vector<bool> plan(const std::vector<TreeEntry>& items) const;
    void writeJournal(const std::vector<TreeEntry>& items, const std::vector<bool>& existed) const;
    void moveIntoPlace(const std::vector<TreeEntry>& items, const std::vector<bool>& existed);
    void finishNewFolders(const std::vector<TreeEntry>& items,
                          const std::vector<bool>& existed) const;
    static std::vector<Move> readJournal(const std::string& journal);
    static void rollBack(const std::string& destination, const std::vector<Move>& moves);

    std::string destination_;
    std::string root_;
    std::string newRoot_;
    std::string oldRoot_;
    std::string journal_;
    bool keepForRecovery_ = false; // old files are still in the working folder
};

} // namespace kavlento::fs

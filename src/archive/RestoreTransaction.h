#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::archive {

// Puts extracted files into a folder all together or not at all.
//
// Everything is first extracted into a working folder inside the destination
// (so every later move is a rename on the same file system). Then a journal of
// the planned moves is written, each old file is moved aside and the new one
// put in its place. If a move fails, everything moved so far is put back. If
// the process dies in the middle, recover() puts everything back at the next
// start. Only when every file is in place and on disk is the journal removed:
// that is the moment the restore happens.
class RestoreTransaction {
public:
    static constexpr const char* kFolderName = ".kavlento-geri-yukleme";

    struct Item {
        enum class Kind : std::uint8_t { File, Folder, Link };
        std::string_view path; // relative, '/'-separated; kept by the caller
        Kind kind = Kind::File;
        std::uint32_t permissions = 0755; // for folders the restore creates
        std::time_t modified = 0;
    };

    // Undoes an interrupted restore into `destination`, or removes a working
    // folder left before any move began.
    static void recover(const std::string& destination);

    explicit RestoreTransaction(const std::string& destination);
    // Without commit(), the working folder goes and the destination stays as it was.
    ~RestoreTransaction();
    RestoreTransaction(const RestoreTransaction&) = delete;
    RestoreTransaction& operator=(const RestoreTransaction&) = delete;

    // Where the new files are extracted to.
    const std::string& stagingFolder() const { return newRoot_; }

    // Moves the staged items into the destination; on failure puts everything
    // back and throws. `items` lists folders before their contents.
    void commit(const std::vector<Item>& items);

private:
    // A journal record.
    struct Move {
        std::string path;
        bool folder = false;
        bool existed = false;
    };

    // Which items' paths are taken now; conflicts are refused here.
    std::vector<bool> plan(const std::vector<Item>& items) const;
    void writeJournal(const std::vector<Item>& items, const std::vector<bool>& existed) const;
    void moveIntoPlace(const std::vector<Item>& items, const std::vector<bool>& existed);
    void finishNewFolders(const std::vector<Item>& items, const std::vector<bool>& existed) const;
    static std::vector<Move> readJournal(const std::string& journal);
    static void rollBack(const std::string& destination, const std::vector<Move>& moves);

    std::string destination_;
    std::string root_;
    std::string newRoot_;
    std::string oldRoot_;
    std::string journal_;
    bool keepForRecovery_ = false; // old files are still in the working folder
};

// Flushes everything written on the file system that holds `path`.
void syncFileSystemOf(const std::string& path);

} // namespace kavlento::archive

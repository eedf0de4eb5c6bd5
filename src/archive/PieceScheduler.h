#pragma once

#include "archive/JobControl.h"
#include "archive/KeySupply.h"
#include "base/TreeEntry.h"
#include "base/WorkerPool.h"
#include "fs/OpenFolder.h"
#include "zip/DeflatedPieces.h"

#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace kavlento::archive {

// A file open for packing, shared by the tasks that read its pieces.
struct OpenedFile {
    fs::UniqueFd fd;
    std::string path;
    fs::PathInfo opened; // size and times when it was opened
};

constexpr std::size_t kPieceSize = 1u << 20;
std::size_t piecesOf(std::uint64_t size);
// One piece of a file, read at `offset` through its descriptor and deflated.
zip::DeflatedPiece readAndDeflate(const OpenedFile& file, std::uint64_t offset, std::size_t size,
                                  bool last, int level, const JobControl& control);

// The reading and deflating of a folder's files, handed out to the workers in
// archive order while a budget allows (bytes and pieces in flight, files open
// ahead), so that memory stays bounded whatever the folder's size and the
// piece the writer waits for next has always been handed out. Each file or
// link is opened (or read) when its turn comes, reached from the open root one
// name at a time, and given its salt and keys.
class PieceScheduler {
public:
    // A file or link whose work has been handed out.
    struct Entry {
        std::size_t index = 0;
        bool gone = false;                // no longer there (or no longer of its kind)
        std::shared_ptr<OpenedFile> file; // a file's
        std::string linkTarget;           // a link's
        KeySupply::Slot keys;
    };
    struct Piece {
        std::future<zip::DeflatedPiece> result;
        std::size_t inputSize = 0;
    };

    // All but `control` must outlive the scheduler's work.
    PieceScheduler(const std::vector<TreeEntry>& entries, const fs::OpenFolder& root,
                   WorkerPool& pool, KeySupply& keys, int level, JobControl& control);

    // The next file or link in archive order.
    std::unique_ptr<Entry> nextEntry();
    // The next piece of the file being written.
    Piece nextPiece();

private:
    void handOut();
    std::unique_ptr<Entry> start(std::size_t index);
    void handOutPiece(const std::shared_ptr<OpenedFile>& file);

    const std::vector<TreeEntry>& entries_;
    fs::HeldFolder held_; // the folder of the entry work is handed out for
    WorkerPool& pool_;
    KeySupply& keys_;
    int level_;
    JobControl& control_;
    // Handed out, in archive order, and not yet written; the pieces of the last
    // may still be being handed out.
    std::deque<std::unique_ptr<Entry>> entriesAhead_;
    std::deque<Piece> pieces_;
    std::size_t next_ = 0;                // the entry work is handed out for,
    bool started_ = false;                // whether it is in entriesAhead_,
    std::shared_ptr<OpenedFile> reading_; // its file,
    std::uint64_t offset_ = 0;            // and how far into it
    std::size_t bytesInFlight_ = 0;
    std::size_t tasksInFlight_ = 0; // pieces handed out and not yet taken
};

} // namespace kavlento::archive

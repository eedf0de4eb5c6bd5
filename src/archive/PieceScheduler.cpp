#include "archive/PieceScheduler.h"
#include "base/ThreadCache.h"

#include <algorithm>
#include <optional>

namespace kavlento::archive {

using namespace fs;

namespace {

// Work handed out ahead of the writer: enough to keep every core busy, and a
// bound on memory whatever the size of the folder.
constexpr std::size_t kMaxBytesInFlight = 8u << 20;
constexpr std::size_t kMaxTasksInFlight = 64;
constexpr std::size_t kMaxEntriesAhead = 64; // files open at once, among other things

const QString kCannotRead = QStringLiteral("Dosya okunamadı");

// The file as it is now, or nothing when it is gone (or is no longer a file).
std::shared_ptr<OpenedFile> open(const OpenFolder& folder, std::string_view name) {
    std::optional<UniqueFd> fd = folder.openForReading(name);
    if (!fd) {
        return nullptr;
    }
    const std::string path = folder.pathOf(name);
    auto file = std::make_shared<OpenedFile>();
    file->opened = lookUp(*fd, path);
    if (file->opened.kind != PathKind::File) {
        return nullptr;
    }
    file->fd = std::move(*fd);
    file->path = path;
    return file;
}

} // namespace

std::size_t piecesOf(std::uint64_t size) {
    return static_cast<std::size_t>((size + kPieceSize - 1) / kPieceSize);
}

zip::DeflatedPiece readAndDeflate(const OpenedFile& file, std::uint64_t offset, std::size_t size,
                                  bool last, int level, const JobControl& control) {
    control.throwIfCancelled();
    std::vector<std::uint8_t>& buffer = threadCache([] { return std::vector<std::uint8_t>(); });
    buffer.resize(size);
    readExactly(file.fd, offset, buffer.data(), size, file.path);
    return zip::deflatePiece(buffer.data(), size, last, level);
}

PieceScheduler::PieceScheduler(const std::vector<TreeEntry>& entries, const OpenFolder& root,
                               WorkerPool& pool, KeySupply& keys, int level, JobControl& control)
    : entries_(entries), held_(root), pool_(pool), keys_(keys), level_(level), control_(control) {}

std::unique_ptr<PieceScheduler::Entry> PieceScheduler::nextEntry() {
    handOut();
    std::unique_ptr<Entry> entry = std::move(entriesAhead_.front());
    entriesAhead_.pop_front();
    return entry;
}

PieceScheduler::Piece PieceScheduler::nextPiece() {
    handOut();
    Piece piece = std::move(pieces_.front());
    pieces_.pop_front();
    --tasksInFlight_;
    bytesInFlight_ -= piece.inputSize;
    return piece;
}

void PieceScheduler::handOut() {
    while (next_ < entries_.size()) {
        if ((tasksInFlight_ > 0 || !entriesAhead_.empty()) &&
            (bytesInFlight_ >= kMaxBytesInFlight || tasksInFlight_ >= kMaxTasksInFlight ||
             entriesAhead_.size() >= kMaxEntriesAhead)) {
            return;
        }
        if (entries_[next_].isFolder()) {
            ++next_;
            continue;
        }
        if (!started_) {
            entriesAhead_.push_back(start(next_));
            reading_ = entriesAhead_.back()->file;
            started_ = true;
        }
        if (reading_ != nullptr && offset_ < reading_->opened.size) {
            handOutPiece(reading_);
            continue;
        }
        ++next_;
        offset_ = 0;
        started_ = false;
        reading_.reset();
    }
}

std::unique_ptr<PieceScheduler::Entry> PieceScheduler::start(std::size_t index) {
    auto started = std::make_unique<Entry>();
    started->index = index;
    const TreeEntry& entry = entries_[index];
    // Gone when the folder that held it is gone, or a link took its place.
    const OpenFolder* folder = held_.holding(entry.path);
    const std::string_view name = lastName(entry.path);
    if (folder == nullptr) {
        started->gone = true;
    } else if (entry.kind == EntryKind::File) {
        started->file = open(*folder, name);
        started->gone = started->file == nullptr;
    } else if (std::optional<std::string> target = folder->readLink(name, kCannotRead)) {
        started->linkTarget = std::move(*target);
    } else {
        started->gone = true;
    }
    if (!started->gone) {
        started->keys = keys_.take();
    }
    return started;
}

void PieceScheduler::handOutPiece(const std::shared_ptr<OpenedFile>& file) {
    const std::uint64_t size = file->opened.size;
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, size - offset_));
    const bool last = offset_ + length == size;
    Piece piece;
    piece.inputSize = length;
    piece.result = pool_.submit([file, offset = offset_, length, last, this] {
        return readAndDeflate(*file, offset, length, last, level_, control_);
    });
    pieces_.push_back(std::move(piece));
    ++tasksInFlight_;
    bytesInFlight_ += length;
    offset_ += length;
}

} // namespace kavlento::archive

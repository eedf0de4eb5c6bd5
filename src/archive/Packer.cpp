#include "archive/Packer.h"

#include "base/Failure.h"
#include "base/WorkerPool.h"
#include "fs/File.h"
#include "zip/DeflatedPieces.h"
#include "zip/ZipFormat.h"

#include <zlib.h>

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <optional>

namespace kavlento::archive {

using namespace fs;
using namespace zip;

namespace {

constexpr std::size_t kPieceSize = 1u << 20;
// Work handed out ahead of the writer: enough to keep every core busy, and a
// bound on memory whatever the size of the folder.
constexpr std::size_t kMaxBytesInFlight = 8u << 20;
constexpr std::size_t kMaxTasksInFlight = 64;
constexpr std::size_t kMaxEntriesAhead = 64; // files open at once, among other things
// How often a file that changes while it is read is read again.
constexpr int kReadsOfAChangingFile = 4;

const QString kCannotRead = QStringLiteral("Dosya okunamadı");

// A file open for packing, shared by the tasks that read its pieces.
struct OpenedFile {
    UniqueFd fd;
    std::string path;
    PathInfo opened; // size and times when it was opened
};

struct Piece {
    std::future<DeflatedPiece> result;
    std::size_t inputSize = 0;
};

// Salts and their keys, derived side by side ahead of the entries that take them.
struct KeyBatch {
    std::vector<AesSalt> salts;
    std::vector<AesKeys> keys;
};

// A salt and its keys, once derived.
struct KeySlot {
    std::shared_future<std::shared_ptr<const KeyBatch>> batch;
    std::size_t index = 0;

    const AesSalt& salt() const { return batch.get()->salts[index]; }
    const AesKeys& keys() const { return batch.get()->keys[index]; }
};

// An entry with data whose work is being handed out, in archive order.
struct Dispatched {
    std::size_t index = 0;
    bool gone = false;                // no longer there (or no longer of its kind)
    std::shared_ptr<OpenedFile> file; // a file's
    std::string linkTarget;           // a link's
    KeySlot keys;
};

std::size_t piecesOf(std::uint64_t size) {
    return static_cast<std::size_t>((size + kPieceSize - 1) / kPieceSize);
}

DeflatedPiece readAndDeflate(const OpenedFile& file, std::uint64_t offset, std::size_t size,
                             bool last, int level, const JobControl& control) {
    control.throwIfCancelled();
    thread_local std::vector<std::uint8_t> buffer;
    buffer.resize(size);
    readExactly(file.fd, offset, buffer.data(), size, file.path);
    return deflatePiece(buffer.data(), size, last, level);
}

// Encrypts a deflated piece onto the entry being written, and adds it to the CRC.
void append(ZipWriter& writer, DeflatedPiece& piece, AesStream& stream, std::uint32_t& crc) {
    crc = static_cast<std::uint32_t>(
        crc32_combine(crc, piece.crc, static_cast<z_off_t>(piece.inputSize)));
    stream.encrypt(piece.data.data(), piece.data.size());
    writer.write(piece.data.data(), piece.data.size());
}

bool shrankWhileRead(const Failure& failure) {
    return failure.code() == FailureCode::InputPastEnd;
}

[[noreturn]] void keptChanging(const std::string& path) {
    throw Failure(FailureCode::PathFileAccess,
                  QStringLiteral("Bir dosya yedeklenirken sürekli değişti; yedek alınmadı. "
                                 "Dosyayı kullanan programı kapatıp tekrar deneyin: %1")
                      .arg(fromSystemPath(path)));
}

class Packer {
public:
    Packer(const std::vector<TreeEntry>& entries, const OpenFolder& root,
           const PackOptions& options, JobControl& control)
        : entries_(entries), held_(root), options_(options), control_(control),
          pool_(WorkerPool::threadsFor(options.threads)) {}

    std::vector<PackedEntry> writeTo(ZipWriter& writer) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            control_.throwIfCancelled();
            dispatch();
            const TreeEntry& entry = entries_[i];
            if (entry.isFolder()) {
                writer.beginEntry(entry, kMethodStore, false);
                writer.endEntry(0, 0);
                packed_.push_back({entry, 0, {}, {}});
            } else {
                writeEntry(writer, takeDispatched());
            }
            control_.advance(kEntryProgress);
        }
        return std::move(packed_);
    }

private:
    // Hands out work in archive order while the budget allows, so the piece the
    // writer waits for next has always been handed out.
    void dispatch() {
        while (next_ < entries_.size()) {
            if ((tasksInFlight_ > 0 || !dispatched_.empty()) &&
                (bytesInFlight_ >= kMaxBytesInFlight || tasksInFlight_ >= kMaxTasksInFlight ||
                 dispatched_.size() >= kMaxEntriesAhead)) {
                return;
            }
            if (entries_[next_].isFolder()) {
                ++next_;
                continue;
            }
            if (!started_) {
                dispatched_.push_back(startEntry(next_));
                reading_ = dispatched_.back()->file;
                started_ = true;
            }
            if (reading_ != nullptr && offset_ < reading_->opened.size) {
                dispatchPiece(reading_);
                continue;
            }
            ++next_;
            offset_ = 0;
            started_ = false;
            reading_.reset();
        }
    }

    std::unique_ptr<Dispatched> startEntry(std::size_t index) {
        auto dispatched = std::make_unique<Dispatched>();
        dispatched->index = index;
        const TreeEntry& entry = entries_[index];
        // Gone when the folder that held it is gone, or a link took its place.
        const OpenFolder* folder = held_.holding(entry.path);
        const std::string_view name = lastName(entry.path);
        if (folder == nullptr) {
            dispatched->gone = true;
        } else if (entry.kind == EntryKind::File) {
            dispatched->file = open(*folder, name);
            dispatched->gone = dispatched->file == nullptr;
        } else if (std::optional<std::string> target = folder->readLink(name, kCannotRead)) {
            dispatched->linkTarget = std::move(*target);
        } else {
            dispatched->gone = true;
        }
        if (!dispatched->gone) {
            dispatched->keys = takeKeys();
        }
        return dispatched;
    }

    // A salt and keys of the batch being used up; a new batch is derived on the
    // workers when it is.
    KeySlot takeKeys() {
        if (keysTaken_ == kSaltsDerivedTogether) {
            keyBatch_ = pool_
                            .submit([this] {
                                control_.throwIfCancelled();
                                auto batch = std::make_shared<KeyBatch>();
                                for (std::size_t i = 0; i < kSaltsDerivedTogether; ++i) {
                                    batch->salts.push_back(randomSalt());
                                }
                                batch->keys = deriveAesKeys(options_.password, batch->salts);
                                return std::shared_ptr<const KeyBatch>(std::move(batch));
                            })
                            .share();
            keysTaken_ = 0;
        }
        return {keyBatch_, keysTaken_++};
    }

    // The file as it is now, or nothing when it is gone (or is no longer a file).
    static std::shared_ptr<OpenedFile> open(const OpenFolder& folder, std::string_view name) {
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

    void dispatchPiece(const std::shared_ptr<OpenedFile>& file) {
        const std::uint64_t size = file->opened.size;
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, size - offset_));
        const bool last = offset_ + length == size;
        Piece piece;
        piece.inputSize = length;
        piece.result =
            pool_.submit([file, offset = offset_, length, last, level = options_.level, this] {
                return readAndDeflate(*file, offset, length, last, level, control_);
            });
        pieces_.push_back(std::move(piece));
        ++tasksInFlight_;
        bytesInFlight_ += length;
        offset_ += length;
    }

    std::unique_ptr<Dispatched> takeDispatched() {
        std::unique_ptr<Dispatched> d = std::move(dispatched_.front());
        dispatched_.pop_front();
        return d;
    }

    void writeEntry(ZipWriter& writer, std::unique_ptr<Dispatched> d) {
        TreeEntry entry = entries_[d->index];
        if (d->gone) {
            control_.advance(entry.size); // gone since the folder was listed
            return;
        }
        const AesSalt salt = d->keys.salt();
        const AesKeys keys = d->keys.keys();
        if (entry.isLink()) {
            const std::string& target = d->linkTarget;
            entry.size = target.size();
            writeWhole(writer, entry, salt, keys, [&](AesStream& stream, std::uint32_t& crc) {
                std::vector<std::uint8_t> data(target.begin(), target.end());
                crc = static_cast<std::uint32_t>(
                    crc32(0L, data.data(), static_cast<uInt>(data.size())));
                stream.encrypt(data.data(), data.size());
                writer.write(data.data(), data.size());
            });
            return;
        }
        const OpenedFile& file = *d->file;
        setVersion(entry, file.opened);
        bool shrank = false;
        writeWhole(writer, entry, salt, keys, [&](AesStream& stream, std::uint32_t& crc) {
            shrank = !writePieces(writer, piecesOf(file.opened.size), stream, crc);
        });
        if (shrank || !lookUp(file.fd, file.path).sameVersion(file.opened)) {
            writer.abandonEntry();
            packed_.pop_back();
            rewriteChangingFile(writer, entry, file);
        }
    }

    // The entry's size, time and mode as the file was when it was opened.
    static void setVersion(TreeEntry& entry, const PathInfo& version) {
        entry.size = version.size;
        entry.modified = version.modified;
        entry.mode = version.mode;
    }

    template <typename WriteData>
    void writeWhole(ZipWriter& writer, const TreeEntry& entry, const AesSalt& salt,
                    const AesKeys& keys, WriteData writeData) {
        const bool deflated = entry.kind == EntryKind::File && entry.size > 0;
        writer.beginEntry(entry, deflated ? kMethodDeflate : kMethodStore, true);
        writer.write(salt.bytes.data(), salt.size());
        writer.write(keys.verifier.data(), keys.verifier.size());
        AesStream stream(keys);
        std::uint32_t crc = 0;
        writeData(stream, crc);
        const auto code = stream.authCode();
        writer.write(code.data(), code.size());
        writer.endEntry(entry.size, crc);
        packed_.push_back({entry, crc, salt, keys});
    }

    // Writes the handed-out pieces of one file; false when the file turned out
    // shorter than when it was opened (the pieces are all taken all the same).
    bool writePieces(ZipWriter& writer, std::size_t count, AesStream& stream, std::uint32_t& crc) {
        bool whole = true;
        for (std::size_t i = 0; i < count; ++i) {
            dispatch();
            Piece piece = std::move(pieces_.front());
            pieces_.pop_front();
            --tasksInFlight_;
            bytesInFlight_ -= piece.inputSize;
            std::optional<DeflatedPiece> deflated;
            try {
                deflated = piece.result.get();
            } catch (const Failure& failure) {
                if (!shrankWhileRead(failure)) {
                    throw;
                }
                whole = false;
            }
            if (whole) {
                append(writer, *deflated, stream, crc);
            }
            control_.advance(piece.inputSize);
            control_.throwIfCancelled();
        }
        return whole;
    }

    // A file that changed while its pieces were read is read again, alone and
    // in order, with a fresh salt: one salt never encrypts two contents.
    void rewriteChangingFile(ZipWriter& writer, TreeEntry entry, const OpenedFile& file) {
        for (int attempt = 1; attempt < kReadsOfAChangingFile; ++attempt) {
            const PathInfo version = lookUp(file.fd, file.path);
            setVersion(entry, version);
            const AesSalt salt = randomSalt();
            bool shrank = false;
            writeWhole(writer, entry, salt, deriveAesKeys(options_.password, salt),
                       [&](AesStream& stream, std::uint32_t& crc) {
                           shrank = !readInOrder(writer, file, version.size, stream, crc);
                       });
            if (!shrank && lookUp(file.fd, file.path).sameVersion(version)) {
                return;
            }
            writer.abandonEntry();
            packed_.pop_back();
        }
        keptChanging(file.path);
    }

    bool readInOrder(ZipWriter& writer, const OpenedFile& file, std::uint64_t size,
                     AesStream& stream, std::uint32_t& crc) {
        for (std::uint64_t offset = 0; offset < size;) {
            const auto length =
                static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, size - offset));
            DeflatedPiece deflated;
            try {
                deflated = readAndDeflate(file, offset, length, offset + length == size,
                                          options_.level, control_);
            } catch (const Failure& failure) {
                if (shrankWhileRead(failure)) {
                    return false;
                }
                throw;
            }
            append(writer, deflated, stream, crc);
            offset += length;
        }
        return true;
    }

    const std::vector<TreeEntry>& entries_;
    HeldFolder held_; // the folder of the entry work is handed out for
    const PackOptions& options_;
    JobControl& control_;
    std::vector<PackedEntry> packed_;
    // Handed out, in archive order, and not yet written; the pieces of the last
    // may still be being handed out.
    std::deque<std::unique_ptr<Dispatched>> dispatched_;
    std::deque<Piece> pieces_;
    std::size_t next_ = 0;                // the entry work is handed out for,
    bool started_ = false;                // whether it is in dispatched_,
    std::shared_ptr<OpenedFile> reading_; // its file,
    std::uint64_t offset_ = 0;            // and how far into it
    std::size_t bytesInFlight_ = 0;
    std::size_t tasksInFlight_ = 0; // pieces handed out and not yet written
    std::shared_future<std::shared_ptr<const KeyBatch>> keyBatch_;
    std::size_t keysTaken_ = kSaltsDerivedTogether;
    WorkerPool pool_; // last: its threads stop before the work they refer to goes
};

} // namespace

std::vector<PackedEntry> pack(const std::vector<TreeEntry>& entries, const OpenFolder& root,
                              const PackOptions& options, ZipWriter& writer, JobControl& control) {
    return Packer(entries, root, options, control).writeTo(writer);
}

std::uint64_t packingWork(const std::vector<TreeEntry>& entries) {
    std::uint64_t total = 0;
    for (const TreeEntry& entry : entries) {
        total += entry.size + kEntryProgress;
    }
    return total;
}

} // namespace kavlento::archive

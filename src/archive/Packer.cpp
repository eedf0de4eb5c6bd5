#include "archive/Packer.h"

#include "archive/KeySupply.h"
#include "archive/PieceScheduler.h"
#include "base/Failure.h"
#include "base/WorkerPool.h"
#include "fs/File.h"
#include "zip/AesEntryWriter.h"
#include "zip/ZipFormat.h"

#include <memory>
#include <optional>

namespace kavlento::archive {

using namespace fs;
using namespace zip;

namespace {

// How often a file that changes while it is read is read again.
constexpr int kReadsOfAChangingFile = 4;

bool shrankWhileRead(const Failure& failure) {
    return failure.code() == FailureCode::InputPastEnd;
}

[[noreturn]] void keptChanging(const std::string& path) {
    throw Failure(FailureCode::PathFileAccess,
                  QStringLiteral("Bir dosya yedeklenirken sürekli değişti; yedek alınmadı. "
                                 "Dosyayı kullanan programı kapatıp tekrar deneyin: %1")
                      .arg(fromSystemPath(path)));
}

// The entry's size, time and mode as the file was when it was opened.
void setVersion(TreeEntry& entry, const PathInfo& version) {
    entry.size = version.size;
    entry.modified = version.modified;
    entry.mode = version.mode;
}

// Writes the entries in archive order, each file or link as a WinZip AES
// entry whose data the scheduler had read and deflated ahead; a file that
// changed while it was read is read again.
class Packer {
public:
    Packer(const std::vector<TreeEntry>& entries, const OpenFolder& root,
           const PackOptions& options, JobControl& control)
        : entries_(entries), options_(options), control_(control),
          keys_(pool_, options.password, control),
          scheduler_(entries, root, pool_, keys_, options.level, control),
          pool_(WorkerPool::threadsFor(options.threads)) {}

    std::vector<PackedEntry> writeTo(ZipWriter& writer) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            control_.throwIfCancelled();
            const TreeEntry& entry = entries_[i];
            if (entry.isFolder()) {
                writer.beginEntry(entry, kMethodStore, false);
                writer.endEntry(0, 0);
                packed_.push_back({entry, 0, {}, {}});
            } else {
                writeEntry(writer, *scheduler_.nextEntry());
            }
            control_.advance(kEntryProgress);
        }
        return std::move(packed_);
    }

private:
    void writeEntry(ZipWriter& writer, const PieceScheduler::Entry& next) {
        TreeEntry entry = entries_[next.index];
        if (next.gone) {
            control_.advance(entry.size); // gone since the folder was listed
            return;
        }
        const AesSalt salt = next.keys.salt();
        const AesKeys keys = next.keys.keys();
        if (entry.isLink()) {
            std::vector<std::uint8_t> target(next.linkTarget.begin(), next.linkTarget.end());
            entry.size = target.size();
            AesEntryWriter link(writer, entry, false, salt, keys);
            link.append(target);
            finish(link, entry, salt, keys);
            return;
        }
        const OpenedFile& file = *next.file;
        setVersion(entry, file.opened);
        AesEntryWriter content(writer, entry, entry.size > 0, salt, keys);
        const bool whole = writePieces(content, piecesOf(file.opened.size));
        if (whole && lookUp(file.fd, file.path).sameVersion(file.opened)) {
            finish(content, entry, salt, keys);
            return;
        }
        content.abandon();
        rewriteChangingFile(writer, entry, file);
    }

    void finish(AesEntryWriter& written, const TreeEntry& entry, const AesSalt& salt,
                const AesKeys& keys) {
        written.finish(entry.size);
        packed_.push_back({entry, written.crc(), salt, keys});
    }

    // Writes the handed-out pieces of one file; false when the file turned out
    // shorter than when it was opened (the pieces are all taken all the same).
    bool writePieces(AesEntryWriter& content, std::size_t count) {
        bool whole = true;
        for (std::size_t i = 0; i < count; ++i) {
            PieceScheduler::Piece piece = scheduler_.nextPiece();
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
                content.append(*deflated);
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
            const AesKeys keys = deriveAesKeys(options_.password, salt);
            AesEntryWriter content(writer, entry, entry.size > 0, salt, keys);
            if (readInOrder(content, file, version.size) &&
                lookUp(file.fd, file.path).sameVersion(version)) {
                finish(content, entry, salt, keys);
                return;
            }
            content.abandon();
        }
        keptChanging(file.path);
    }

    bool readInOrder(AesEntryWriter& content, const OpenedFile& file, std::uint64_t size) {
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
            content.append(deflated);
            offset += length;
        }
        return true;
    }

    const std::vector<TreeEntry>& entries_;
    const PackOptions& options_;
    JobControl& control_;
    std::vector<PackedEntry> packed_;
    KeySupply keys_;
    PieceScheduler scheduler_;
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

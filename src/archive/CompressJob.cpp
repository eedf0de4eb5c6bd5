#include "archive/CompressJob.h"

#include "archive/ExtractJob.h"
#include "base/Failure.h"
#include "base/WorkerPool.h"
#include "fs/FolderScanner.h"
#include "fs/FolderTransaction.h"
#include "fs/NewFile.h"
#include "fs/TemporaryFolder.h"
#include "zip/ChunkDeflater.h"
#include "zip/WinZipAes.h"
#include "zip/ZipFormat.h"
#include "zip/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <deque>
#include <fcntl.h>
#include <future>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace kavlento::archive {

using namespace fs;
using namespace zip;

namespace {

constexpr std::size_t kPieceSize = 1u << 20;
// What one entry costs besides its bytes (mostly its key derivation), in bytes
// of progress.
constexpr std::uint64_t kEntryWeight = 16 * 1024;
// Work handed out ahead of the writer: enough to keep every core busy, and a
// bound on memory whatever the size of the folder.
constexpr std::size_t kMaxBytesInFlight = 8u << 20;
constexpr std::size_t kMaxTasksInFlight = 64;

// An entry to pack, and the folder its relative name starts in (the folder
// being backed up, or the old archive's content when adding to it).
struct PackItem {
    TreeEntry source;
    const std::string* root = nullptr;
};

struct Piece {
    std::future<DeflatedPiece> result;
    std::size_t inputSize = 0;
};

// The key derivation of an entry handed out ahead of the writer.
struct PendingKeys {
    AesSalt salt;
    std::future<AesKeys> keys;
};

DeflatedPiece readAndDeflate(const std::string& path, std::uint64_t offset, std::size_t size,
                             bool last, int level, const JobControl& control) {
    control.throwIfCancelled();
    std::optional<fs::UniqueFd> fd = fs::openForReading(path);
    if (!fd) {
        fs::throwSystemError(ENOENT, QStringLiteral("Dosya okunamadı"), path);
    }
    thread_local std::vector<std::uint8_t> buffer;
    buffer.resize(size);
    fs::readExactly(fd->get(), offset, buffer.data(), size, path);
    return deflatePiece(buffer.data(), size, last, level);
}

// Feeds the entries through the worker threads and writes them in order.
class Packer {
public:
    Packer(std::vector<PackItem> items, const CompressCommand& command, JobControl& control,
           unsigned threads)
        : items_(std::move(items)), password_(command.password.toStdString()),
          level_(command.level), control_(control), pool_(WorkerPool::threadsFor(threads)) {}

    void writeTo(ZipWriter& writer) {
        std::uint64_t total = 0;
        for (const PackItem& item : items_) {
            total += item.source.size + kEntryWeight;
        }
        control_.setTotal(total);
        for (std::size_t i = 0; i < items_.size(); ++i) {
            control_.throwIfCancelled();
            dispatch();
            writeEntry(writer, i);
            control_.advance(kEntryWeight);
        }
    }

private:
    bool hasData(std::size_t index) const { return !items_[index].source.isFolder(); }

    // Hands out work in archive order while the budget allows, so the piece the
    // writer waits for next has always been handed out.
    void dispatch() {
        while (dispatchEntry_ < items_.size()) {
            if (tasksInFlight_ > 0 &&
                (bytesInFlight_ >= kMaxBytesInFlight || tasksInFlight_ >= kMaxTasksInFlight)) {
                return;
            }
            const TreeEntry& source = items_[dispatchEntry_].source;
            if (!hasData(dispatchEntry_)) {
                ++dispatchEntry_;
                continue;
            }
            if (!keysDispatched_) {
                PendingKeys pending;
                pending.salt = randomSalt();
                pending.keys = pool_.submit([password = password_, salt = pending.salt, this] {
                    control_.throwIfCancelled();
                    return deriveAesKeys(password, salt);
                });
                keys_.push_back(std::move(pending));
                keysDispatched_ = true;
                ++tasksInFlight_;
            }
            if (source.kind == EntryKind::File && dispatchOffset_ < source.size) {
                const std::uint64_t offset = dispatchOffset_;
                const auto size = static_cast<std::size_t>(
                    std::min<std::uint64_t>(kPieceSize, source.size - offset));
                const bool last = offset + size == source.size;
                Piece piece;
                piece.inputSize = size;
                piece.result =
                    pool_.submit([path = fs::joinPath(*items_[dispatchEntry_].root, source.path),
                                  offset, size, last, level = level_, this] {
                        return readAndDeflate(path, offset, size, last, level, control_);
                    });
                pieces_.push_back(std::move(piece));
                ++tasksInFlight_;
                bytesInFlight_ += size;
                if (!last) {
                    dispatchOffset_ += size;
                    continue;
                }
            }
            ++dispatchEntry_;
            dispatchOffset_ = 0;
            keysDispatched_ = false;
        }
    }

    PendingKeys takeKeys() {
        PendingKeys pending = std::move(keys_.front());
        keys_.pop_front();
        pending.keys.wait();
        --tasksInFlight_;
        return pending;
    }

    void writeEntry(ZipWriter& writer, std::size_t index) {
        const TreeEntry& source = items_[index].source;
        if (!hasData(index)) {
            writer.beginEntry(source, zip::kMethodStore, false);
            writer.endEntry(0, 0);
            return;
        }
        PendingKeys pending = takeKeys();
        const AesKeys keys = pending.keys.get();
        const bool deflated = source.kind == EntryKind::File && source.size > 0;
        writer.beginEntry(source, deflated ? zip::kMethodDeflate : zip::kMethodStore, true);
        writer.write(pending.salt.bytes.data(), pending.salt.size());
        writer.write(keys.verifier.data(), keys.verifier.size());
        AesStream stream(keys);
        std::uint32_t crc = 0;
        std::uint64_t size = source.size;
        if (source.isLink()) {
            const std::string target = fs::readLinkTarget(
                fs::joinPath(*items_[index].root, source.path), QStringLiteral("Dosya okunamadı"));
            std::vector<std::uint8_t> data(target.begin(), target.end());
            crc =
                static_cast<std::uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
            stream.encrypt(data.data(), data.size());
            writer.write(data.data(), data.size());
            size = data.size();
        } else {
            writePieces(writer, source.size, stream, crc);
        }
        const auto code = stream.authCode();
        writer.write(code.data(), code.size());
        writer.endEntry(size, crc);
    }

    void writePieces(ZipWriter& writer, std::uint64_t size, AesStream& stream, std::uint32_t& crc) {
        for (std::uint64_t written = 0; written < size;) {
            dispatch();
            Piece piece = std::move(pieces_.front());
            pieces_.pop_front();
            DeflatedPiece deflated = piece.result.get();
            --tasksInFlight_;
            bytesInFlight_ -= piece.inputSize;
            crc = static_cast<std::uint32_t>(
                crc32_combine(crc, deflated.crc, static_cast<z_off_t>(deflated.inputSize)));
            stream.encrypt(deflated.data.data(), deflated.data.size());
            writer.write(deflated.data.data(), deflated.data.size());
            written += piece.inputSize;
            control_.advance(piece.inputSize);
            control_.throwIfCancelled();
        }
    }

    std::vector<PackItem> items_;
    std::string password_;
    int level_;
    JobControl& control_;
    // Handed out, in archive order, and not yet written.
    std::deque<PendingKeys> keys_;
    std::deque<Piece> pieces_;
    std::size_t dispatchEntry_ = 0;    // the entry work is handed out for,
    std::uint64_t dispatchOffset_ = 0; // where in it,
    bool keysDispatched_ = false;      // and whether its keys are on their way
    std::size_t bytesInFlight_ = 0;
    std::size_t tasksInFlight_ = 0;
    WorkerPool pool_; // last: its threads stop before the work they refer to goes
};

std::vector<PackItem> packItems(const fs::ScannedTree& scanned, const std::string& root) {
    std::vector<PackItem> items;
    items.reserve(scanned.entries.size());
    for (const TreeEntry& entry : scanned.entries) {
        items.push_back({entry, &root});
    }
    return items;
}

// The folder's entries, and after them the entries of the old archive that
// the folder does not replace.
std::vector<PackItem> mergedItems(const fs::ScannedTree& fresh, const std::string& freshRoot,
                                  const fs::ScannedTree& old, const std::string& oldRoot) {
    std::vector<PackItem> items = packItems(fresh, freshRoot);
    std::set<std::string_view> taken;
    for (const PackItem& item : items) {
        taken.insert(item.source.path);
    }
    for (PackItem& item : packItems(old, oldRoot)) {
        if (taken.count(item.source.path) == 0) {
            items.push_back(item);
        }
    }
    return items;
}

} // namespace

CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& excludedFolders, JobControl& control,
                           unsigned threads) {
    const std::string source = fs::toSystemPath(command.sourceFolder);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::string fileName = fs::toSystemPath(command.archiveFileName);
    const std::string finalPath = fs::joinPath(destination, fileName);
    fs::requireFolder(destination, QStringLiteral("Yedekleme klasörüne ulaşılamadı"));

    const fs::PathKind existing = fs::lookUp(finalPath).kind;
    const bool exists = existing != fs::PathKind::Missing;
    if (exists && (existing != fs::PathKind::File || !command.addToExisting)) {
        fs::throwSystemError(EEXIST, QStringLiteral("Yedek dosyası oluşturulamadı"), finalPath);
    }

    fs::ScanOptions options;
    options.recurse = command.recurse;
    options.includeHidden = command.includeHidden;
    options.excludedFolders = excludedFolders;
    options.excludedFolders.push_back(destination);
    options.excludedFolders.push_back(fs::joinPath(source, fs::FolderTransaction::kFolderName));
    const fs::ScannedTree scanned = fs::scanFolder(source, options);

    std::vector<PackItem> items;
    std::unique_ptr<fs::TemporaryFolder> oldContent;
    fs::ScannedTree old;
    if (exists) {
        // The old archive is read and checked in full before anything is
        // written; its entries go into the new archive beside the folder's.
        oldContent = std::make_unique<fs::TemporaryFolder>(destination, ".kavlento-ekleme-");
        JobControl quiet;
        ExtractCommand oldCommand{command.archivePath(), command.password,
                                  fs::fromSystemPath(oldContent->path())};
        runExtract(oldCommand, quiet, threads);
        control.throwIfCancelled();
        old = fs::scanFolder(oldContent->path(), fs::ScanOptions{});
        items = mergedItems(scanned, source, old, oldContent->path());
    } else {
        items = packItems(scanned, source);
    }

    fs::NewFile output(destination, fileName);
    ZipWriter writer(output.fd(), finalPath);
    {
        Packer packer(std::move(items), command, control, threads);
        packer.writeTo(writer);
    }
    writer.finish();
    control.throwIfCancelled();
    output.publish(exists);
    return {finalPath, writer.entryCount()};
}

} // namespace kavlento::archive

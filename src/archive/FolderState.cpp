#include "archive/FolderState.h"

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/EntryReading.h"
#include "archive/ExtractionRules.h"
#include "archive/OwnFiles.h"
#include "base/Failure.h"
#include "base/ThreadCache.h"
#include "base/WorkerPool.h"
#include "zip/ZipFormat.h"

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <map>

namespace kavlento::archive {

namespace {

const QString kCannotRead = QStringLiteral("Yedeklenecek klasör okunamadı");

bool sameEntry(const TreeEntry& now, const TreeEntry& held) {
    return now.kind == held.kind && (now.isFolder() || now.size == held.size) &&
           (now.mode & 01777) == (held.mode & 01777) &&
           zip::storedTime(now.modified) == held.modified;
}

std::uint32_t crcOf(std::uint32_t crc, const void* bytes, std::size_t size) {
    return static_cast<std::uint32_t>(libdeflate_crc32(crc, bytes, size));
}

// Whether the file or link at `now`'s path still has the bytes `held` was
// stored with: the same size and modification time do not say so, since a
// file can be rewritten and its time put back (`touch -r`, a copy tool).
bool sameContent(const fs::OpenFolder& folder, const TreeEntry& now, const zip::ZipEntry& held) {
    if (!held.crcStored) {
        return false;
    }
    if (now.isLink()) {
        const std::optional<std::string> target = folder.readLink(now.path, kCannotRead);
        return target && target->size() == held.size &&
               crcOf(0, target->data(), target->size()) == held.crc;
    }
    const std::optional<fs::UniqueFd> file = folder.openForReading(now.path);
    if (!file) {
        return false;
    }
    const std::string path = folder.pathOf(now.path);
    std::vector<std::uint8_t>& buffer =
        threadCache([] { return std::vector<std::uint8_t>(256 * 1024); });
    std::uint32_t crc = 0;
    std::uint64_t offset = 0;
    // A file that grew is told apart without reading it to its end.
    while (offset <= held.size) {
        const std::size_t n = fs::readAt(*file, offset, buffer.data(), buffer.size(), path);
        if (n == 0) {
            break;
        }
        crc = crcOf(crc, buffer.data(), n);
        offset += n;
    }
    return offset == held.size && crc == held.crc;
}

} // namespace

FolderState::FolderState(const std::string& folder, const std::string& target,
                         const std::vector<std::string>& listedArchives,
                         std::vector<std::string> ignored)
    : folder_(fs::OpenFolder::open(folder, kCannotRead)), origin_(originOf(folder, 0)),
      ignored_(std::move(ignored)) {
    BackupExclusions exclusions =
        BackupExclusions::forTarget(target, listedArchives, kArchivePassword.toStdString());
    fs::ScanOptions options;
    options.leaveOut = [&](const fs::FoundEntry& entry) {
        return ignores(entry.relative) || exclusions.leaveOut(entry);
    };
    tree_ = fs::scanFolder(folder_, options);
    for (const TreeEntry& entry : tree_.entries) {
        bytes_ += entry.size;
    }
}

bool FolderState::ignores(std::string_view path) const {
    const std::string_view top = path.substr(0, path.find('/'));
    return std::any_of(ignored_.begin(), ignored_.end(),
                       [&](const std::string& name) { return folder_.sameName({}, top, name); });
}

bool FolderState::isHeldBy(const std::string& archivePath) const {
    try {
        const auto reader = openCheckedArchive(archivePath);
        if (!reader->origin() || !reader->origin()->sameFolder(origin_)) {
            return false;
        }
        std::map<std::string_view, const zip::ZipEntry*> held;
        for (const zip::ZipEntry& entry : reader->entries()) {
            if (!ignores(entry.path)) {
                held.emplace(entry.path, &entry);
            }
        }
        const bool same =
            held.size() == tree_.entries.size() &&
            std::all_of(tree_.entries.begin(), tree_.entries.end(), [&](const TreeEntry& now) {
                const auto found = held.find(now.path);
                return found != held.end() && sameEntry(now, *found->second);
            });
        if (!same) {
            return false;
        }
        std::vector<const TreeEntry*> withContent;
        for (const TreeEntry& now : tree_.entries) {
            if (!now.isFolder()) {
                withContent.push_back(&now);
            }
        }
        std::atomic<bool> differs{false};
        runInParallel(
            withContent.size(), 0,
            [&](std::size_t i) {
                const TreeEntry& now = *withContent[i];
                if (!sameContent(folder_, now, *held.at(now.path))) {
                    differs = true;
                }
            },
            [&] { return differs.load(); });
        if (differs) {
            return false;
        }
        // The skip stands on this archive giving the folder back: it must read
        // whole, every entry's HMAC, CRC and size checked.
        JobControl control;
        readEveryEntry(*reader, kArchivePassword.toStdString(), 0, control);
        return true;
    } catch (const Failure&) {
        return false;
    }
}

} // namespace kavlento::archive

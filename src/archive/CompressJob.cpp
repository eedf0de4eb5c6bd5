#include "archive/CompressJob.h"

#include "archive/ArchiveCheck.h"
#include "archive/ArchiveReaders.h"
#include "archive/OwnFiles.h"
#include "archive/Packer.h"
#include "base/Failure.h"
#include "base/Megabytes.h"
#include "base/Saturating.h"
#include "fs/FolderScanner.h"
#include "fs/Mounts.h"
#include "fs/NewFile.h"
#include "zip/ZipWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace kavlento::archive {

namespace {

const QString kCannotReachTarget = QStringLiteral("Yedekleme klasörüne ulaşılamadı");
const QString kCannotMakeDated = QStringLiteral("Yedekleme klasörü oluşturulamadı");
const QString kCannotReadSource = QStringLiteral("Yedeklenecek klasör okunamadı");
const QString kCannotNarrow = QStringLiteral("Yedek dosyasının izinleri daraltılamadı");

// The size of the folder's newest archive that is there as a file.
std::optional<std::uint64_t> newestArchiveSize(const std::vector<std::string>& listedArchives) {
    for (auto path = listedArchives.rbegin(); path != listedArchives.rend(); ++path) {
        try {
            const fs::PathInfo info = fs::lookUp(*path);
            if (info.kind == fs::PathKind::File) {
                return info.size;
            }
        } catch (const Failure&) {
            // A folder on its way cannot be looked into: not there for us.
        }
    }
    return std::nullopt;
}

// A backup that clearly cannot fit is refused before anything is made in the
// target, rather than filling the disk and failing there night after night.
// It clearly needs what the folder's newest archive took, unless the folder
// now holds fewer bytes than that; a tenth is left for what cannot be foreseen.
// A file system that does not say how much room it has is not judged.
void requireRoom(const fs::OpenFolder& target, const std::vector<std::string>& listedArchives,
                 const std::vector<TreeEntry>& entries) {
    const std::optional<std::uint64_t> newest = newestArchiveSize(listedArchives);
    const std::optional<std::uint64_t> available = target.availableBytes();
    if (!newest || !available) {
        return;
    }
    std::uint64_t bytes = 0;
    for (const TreeEntry& entry : entries) {
        bytes = saturatingAdd(bytes, entry.size);
    }
    const std::uint64_t needed = std::min(*newest, bytes);
    if (*available >= needed - needed / 10) {
        return;
    }
    const QString what = needed == *newest ? QStringLiteral("bu klasörün son yedeği %1 tuttu")
                                           : QStringLiteral("yedeklenecek dosyalar %1 tutuyor");
    throw Failure(FailureCode::DiskTooFull,
                  QStringLiteral("Yedekleme klasöründe (%1) yer yetmiyor: %2 boş, %3; yedek "
                                 "alınmadı. Diskte yer açıp yeniden deneyin ya da ana "
                                 "penceredeki GÖZAT... düğmesiyle boş yeri olan başka bir "
                                 "klasör seçin.")
                      .arg(fs::fromSystemPath(target.pathOf({})), megabytes(*available),
                           what.arg(megabytes(needed))));
}

// The new file's group was foreseen for its mode; where the file system gave
// another, the mode is narrowed to what that group may read, never widened.
// Where it keeps no permissions the mount decides, and nothing can be changed.
void narrowToItsGroup(const fs::NewFile& output, const ArchiveReaders& readers,
                      std::uint32_t foreseen, const std::string& pathForErrors) {
    const fs::PathInfo made = fs::lookUp(output.file(), pathForErrors);
    if (made.group == foreseen || fs::keepsNoPermissions(made.device)) {
        return;
    }
    const std::uint32_t narrowed = made.mode & readers.modeFor(made.group);
    if (narrowed != made.mode) {
        fs::setModeAndTime(output.file(), narrowed, made.modified, pathForErrors, kCannotNarrow);
    }
}

// Names the written archive, taking the next free name while others are taken.
std::string publish(fs::NewFile& output, const std::string& fileName) {
    std::string name = fileName;
    for (int n = 2; !output.publishAs(name); ++n) {
        name = numberedArchiveName(fileName, n);
    }
    return name;
}

// The history names the archive through the destination's path, as the target
// spells it: that path must still lead to the folder the archive went into.
void requireDestinationInPlace(fs::NewFile& output, const std::string& destination,
                               const fs::OpenFolder& dated) {
    if (fs::lookUpFollowing(destination).sameFile(dated.lookUp())) {
        return;
    }
    const bool removed = output.unpublish();
    throw Failure(
        FailureCode::PathFileAccess,
        QStringLiteral("Yedek alınırken yedekleme klasörü yerinden oynatıldı ya da "
                       "yerine başka bir şey kondu; yazılan yedek %1, yedek alınmadı: %2")
            .arg(removed ? QStringLiteral("silindi") : QStringLiteral("silinemedi, elle silin"),
                 fs::fromSystemPath(destination)));
}

} // namespace

std::string numberedArchiveName(const std::string& fileName, int n) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t at = dot == std::string::npos ? fileName.size() : dot;
    return fileName.substr(0, at) + "-" + std::to_string(n) + fileName.substr(at);
}

zip::ArchiveOrigin originOf(const std::string& folder, std::int64_t moment) {
    return {fs::hostName(), fs::resolvedPath(folder).value_or(folder), moment,
            fs::machineIdentity()};
}

CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& listedArchives, std::int64_t moment,
                           JobControl& control, unsigned threads) {
    const std::string source = fs::toSystemPath(command.sourceFolder);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::string fileName = fs::toSystemPath(command.archiveFileName);
    const std::string datedName(fs::lastName(destination));

    // The target is reached as the user named it; the dated folder in it never
    // through a link. Dead runs' unfinished files go first: their room counts.
    const fs::OpenFolder target =
        fs::OpenFolder::open(fs::folderOf(destination), kCannotReachTarget);
    const zip::ArchiveOrigin origin = originOf(source, moment);
    const std::string unfinishedBy = unfinishedFileWriter(origin);
    for (const DatedFolder& folder : datedFoldersOf(target, {datedName})) {
        if (folder.own) {
            fs::removeDeadUnfinishedFiles(folder.folder, unfinishedBy);
        }
    }

    const std::string password = command.password.toStdString();
    BackupExclusions exclusions(&target, datedName, listedArchives, password);
    const fs::OpenFolder root = fs::OpenFolder::open(source, kCannotReadSource);
    ArchiveReaders readers;
    readers.weighWayTo(source);
    readers.weighPacked(root.lookUp());
    fs::ScanOptions options;
    options.recurse = command.recurse;
    options.includeHidden = command.includeHidden;
    options.leaveOut = [&exclusions, &readers](const fs::FoundEntry& entry) {
        if (exclusions.leaveOut(entry)) {
            return true;
        }
        readers.weighPacked(entry.info);
        return false;
    };
    const fs::ScannedTree scanned = fs::scanFolder(root, options);
    // Nothing is made in the target until the backup is known to fit.
    requireRoom(target, listedArchives, scanned.entries);
    control.setTotal(packingWork(scanned.entries) + checkingWork(scanned.entries));

    const fs::OpenFolder dated = target.ownFolder(datedName, 0755, kCannotMakeDated);
    const std::string pathForErrors = fs::joinPath(destination, fileName);
    const std::uint32_t group = dated.groupOfNewFiles();
    fs::NewFile output(dated, fileName, readers.modeFor(group), unfinishedBy);
    try {
        narrowToItsGroup(output, readers, group, pathForErrors);
        zip::ZipWriter writer(output.file(), pathForErrors);
        writer.setOrigin(origin);
        const PackOptions packing{password, command.level, threads};
        const std::vector<PackedEntry> packed =
            pack(scanned.entries, root, packing, writer, control);
        writer.finish();
        output.flush();
        control.throwIfCancelled();
        const auto checkStart = std::chrono::steady_clock::now();
        checkWrittenArchive(output.file(), pathForErrors, packed, origin, control, threads);
        const auto checking = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - checkStart);
        const std::uint64_t size = fs::lookUp(output.file(), pathForErrors).size;
        control.commit();
        const std::string published = fs::joinPath(destination, publish(output, fileName));
        requireDestinationInPlace(output, destination, dated);
        return {published, packed.size(), size, checking.count()};
    } catch (const Failure&) {
        if (!output.discard()) {
            control.noteLeftBehind(fs::fromSystemPath(output.temporaryPath()));
        }
        throw;
    }
}

} // namespace kavlento::archive

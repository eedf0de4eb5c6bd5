#include "archive/CompressJob.h"

#include "archive/ArchiveCheck.h"
#include "archive/OwnFiles.h"
#include "archive/Packer.h"
#include "base/Failure.h"
#include "fs/FolderScanner.h"
#include "fs/NewFile.h"
#include "zip/ZipWriter.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace kavlento::archive {

namespace {

const QString kCannotReachTarget = QStringLiteral("Yedekleme klasörüne ulaşılamadı");
const QString kCannotMakeDated = QStringLiteral("Yedekleme klasörü oluşturulamadı");
const QString kCannotReadSource = QStringLiteral("Yedeklenecek klasör okunamadı");

// Read and write for the owner; read for the group and the others only where
// they may read the folder itself.
std::uint32_t archiveModeFor(std::uint32_t folderMode) {
    std::uint32_t mode = 0600;
    if ((folderMode & 050) == 050) {
        mode |= 040;
    }
    if ((folderMode & 05) == 05) {
        mode |= 04;
    }
    return mode;
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
    return {fs::hostName(), fs::resolvedPath(folder).value_or(folder), moment};
}

CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& listedArchives, std::int64_t moment,
                           JobControl& control, unsigned threads) {
    const std::string source = fs::toSystemPath(command.sourceFolder);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::string fileName = fs::toSystemPath(command.archiveFileName);
    const std::string datedName(fs::lastName(destination));

    // The target is reached as the user named it; the dated folder in it never
    // through a link.
    const fs::OpenFolder target =
        fs::OpenFolder::open(fs::folderOf(destination), kCannotReachTarget);
    const fs::OpenFolder dated = target.ownFolder(datedName, 0755, kCannotMakeDated);
    for (const DatedFolder& folder : datedFoldersOf(target, {datedName})) {
        fs::removeDeadUnfinishedFiles(folder.folder);
    }

    const std::string password = command.password.toStdString();
    BackupExclusions exclusions(&target, datedName, listedArchives, password);
    const fs::OpenFolder root = fs::OpenFolder::open(source, kCannotReadSource);
    fs::ScanOptions options;
    options.recurse = command.recurse;
    options.includeHidden = command.includeHidden;
    options.leaveOut = [&exclusions](const fs::FoundEntry& entry) {
        return exclusions.leaveOut(entry);
    };
    const fs::ScannedTree scanned = fs::scanFolder(root, options);
    control.setTotal(packingWork(scanned.entries) + checkingWork(scanned.entries));

    const std::string pathForErrors = fs::joinPath(destination, fileName);
    fs::NewFile output(dated, fileName, archiveModeFor(root.lookUp().mode));
    try {
        zip::ZipWriter writer(output.file(), pathForErrors);
        const zip::ArchiveOrigin origin = originOf(source, moment);
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

#include "archive/CompressJob.h"

#include "archive/ArchiveCheck.h"
#include "archive/EntryContents.h"
#include "archive/Packer.h"
#include "base/Failure.h"
#include "fs/FolderScanner.h"
#include "fs/FolderTransaction.h"
#include "fs/NewFile.h"
#include "zip/ZipWriter.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace kavlento::archive {

namespace {

// The earlier archives that are found in the folder being packed: recognised
// by identity, so that no path spelling or mount hides one, and opened before
// being left out, so that no user file that merely took an archive's place is.
class OwnArchives {
public:
    OwnArchives(const std::vector<std::string>& paths, std::string password)
        : password_(std::move(password)) {
        for (const std::string& path : paths) {
            const fs::PathInfo info = fs::lookUpFollowing(path);
            if (info.kind == fs::PathKind::File) {
                known_.emplace(identity(info), std::nullopt);
            }
        }
    }

    bool isOne(const std::string& path, const fs::PathInfo& info) {
        if (fs::isUnfinishedFileName(path.substr(path.rfind('/') + 1))) {
            return true;
        }
        const auto found = known_.find(identity(info));
        if (found == known_.end()) {
            return false;
        }
        if (!found->second) {
            found->second = opensAsOurs(path);
        }
        return *found->second;
    }

private:
    bool opensAsOurs(const std::string& path) const {
        try {
            std::optional<fs::UniqueFd> file = fs::openForReading(path);
            if (!file) {
                return false;
            }
            requireOurArchive(std::move(*file), path, password_);
            return true;
        } catch (const Failure&) {
            return false; // not an archive of ours: it is packed as the user's file
        }
    }

    using Identity = std::pair<std::uint64_t, std::uint64_t>;
    static Identity identity(const fs::PathInfo& info) { return {info.device, info.inode}; }

    std::string password_;
    std::map<Identity, std::optional<bool>> known_; // recognised yet, and whether ours
};

// Names the written archive, taking the next free name while others are taken.
std::string publish(fs::NewFile& output, const std::string& fileName) {
    std::string name = fileName;
    for (int n = 2; !output.publishAs(name); ++n) {
        name = numberedArchiveName(fileName, n);
    }
    return name;
}

} // namespace

std::string numberedArchiveName(const std::string& fileName, int n) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t at = dot == std::string::npos ? fileName.size() : dot;
    return fileName.substr(0, at) + "-" + std::to_string(n) + fileName.substr(at);
}

CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& ownArchives, JobControl& control,
                           unsigned threads) {
    const std::string source = fs::toSystemPath(command.sourceFolder);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::string fileName = fs::toSystemPath(command.archiveFileName);
    fs::requireFolder(destination, QStringLiteral("Yedekleme klasörüne ulaşılamadı"));

    const std::string password = command.password.toStdString();
    OwnArchives earlier(ownArchives, password);
    fs::ScanOptions options;
    options.recurse = command.recurse;
    options.includeHidden = command.includeHidden;
    options.excludedNames.push_back(fs::FolderTransaction::kFolderName);
    options.leaveOutFile = [&earlier](const std::string& path, const fs::PathInfo& info) {
        return earlier.isOne(path, info);
    };
    const fs::ScannedTree scanned = fs::scanFolder(source, options);
    control.setTotal(packingWork(scanned.entries) + checkingWork(scanned.entries));

    const std::string pathForErrors = fs::joinPath(destination, fileName);
    fs::NewFile output(destination, fileName);
    zip::ZipWriter writer(output.file(), pathForErrors);
    const PackOptions packing{password, command.level, threads};
    const std::vector<PackedEntry> packed = pack(scanned.entries, source, packing, writer, control);
    writer.finish();
    output.flush();
    control.throwIfCancelled();
    const auto checkStart = std::chrono::steady_clock::now();
    checkWrittenArchive(output.file(), pathForErrors, packed, control, threads);
    const auto checking = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - checkStart);
    const std::uint64_t size = fs::lookUp(output.file(), pathForErrors).size;
    const std::string published = fs::joinPath(destination, publish(output, fileName));
    return {published, packed.size(), size, checking.count()};
}

} // namespace kavlento::archive

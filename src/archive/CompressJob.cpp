#include "archive/CompressJob.h"

#include "archive/ArchiveCheck.h"
#include "archive/Packer.h"
#include "base/Failure.h"
#include "fs/FolderScanner.h"
#include "fs/FolderTransaction.h"
#include "fs/NewFile.h"
#include "zip/ZipWriter.h"

#include <cerrno>
#include <chrono>

namespace kavlento::archive {

CompressResult runCompress(const CompressCommand& command,
                           const std::vector<std::string>& excludedFolders, JobControl& control,
                           unsigned threads) {
    const std::string source = fs::toSystemPath(command.sourceFolder);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::string fileName = fs::toSystemPath(command.archiveFileName);
    const std::string finalPath = fs::joinPath(destination, fileName);
    fs::requireFolder(destination, QStringLiteral("Yedekleme klasörüne ulaşılamadı"));
    if (fs::lookUp(finalPath).kind != fs::PathKind::Missing) {
        fs::throwSystemError(EEXIST, QStringLiteral("Yedek dosyası oluşturulamadı"), finalPath);
    }

    fs::ScanOptions options;
    options.recurse = command.recurse;
    options.includeHidden = command.includeHidden;
    options.excludedFolders = excludedFolders;
    options.excludedFolders.push_back(destination);
    options.excludedNames.push_back(fs::FolderTransaction::kFolderName);
    const fs::ScannedTree scanned = fs::scanFolder(source, options);
    control.setTotal(packingWork(scanned.entries) + checkingWork(scanned.entries));

    fs::NewFile output(destination, fileName);
    zip::ZipWriter writer(output.file().get(), finalPath);
    const PackOptions packing{command.password.toStdString(), command.level, threads};
    const std::vector<PackedEntry> packed = pack(scanned.entries, source, packing, writer, control);
    writer.finish();
    output.flush();
    control.throwIfCancelled();
    const auto checkStart = std::chrono::steady_clock::now();
    checkWrittenArchive(output.file(), finalPath, packed, control, threads);
    const auto checking = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - checkStart);
    const std::uint64_t size = fs::lookUp(output.file(), finalPath).size;
    output.publish();
    return {finalPath, packed.size(), size, checking.count()};
}

} // namespace kavlento::archive

#include "archive/FolderState.h"

#include "archive/ArchiveCommand.h"
#include "archive/ExtractionRules.h"
#include "archive/OwnFiles.h"
#include "base/Failure.h"
#include "zip/ZipFormat.h"

#include <algorithm>
#include <map>

namespace kavlento::archive {

namespace {

const QString kCannotRead = QStringLiteral("Yedeklenecek klasör okunamadı");

std::optional<fs::OpenFolder> openIfThere(const std::string& folder) {
    try {
        if (!folder.empty() && fs::lookUpFollowing(folder).kind == fs::PathKind::Folder) {
            return fs::OpenFolder::open(folder, kCannotRead);
        }
    } catch (const Failure&) {
    }
    return std::nullopt;
}

bool sameEntry(const TreeEntry& now, const TreeEntry& held) {
    return now.kind == held.kind && (now.isFolder() || now.size == held.size) &&
           (now.mode & 01777) == (held.mode & 01777) &&
           zip::storedTime(now.modified) == held.modified;
}

} // namespace

FolderState::FolderState(const std::string& folder, const std::string& target,
                         const std::vector<std::string>& listedArchives,
                         std::vector<std::string> ignored)
    : ignored_(std::move(ignored)) {
    const std::optional<fs::OpenFolder> targetFolder = openIfThere(target);
    BackupExclusions exclusions(targetFolder ? &*targetFolder : nullptr, std::string(),
                                listedArchives, kArchivePassword.toStdString());
    fs::ScanOptions options;
    options.leaveOut = [&](const fs::FoundEntry& entry) {
        return ignores(entry.relative) || exclusions.leaveOut(entry);
    };
    tree_ = fs::scanFolder(fs::OpenFolder::open(folder, kCannotRead), options);
    for (const TreeEntry& entry : tree_.entries) {
        bytes_ += entry.size;
    }
}

bool FolderState::ignores(std::string_view path) const {
    const QString top = fs::fromSystemPath(path.substr(0, path.find('/')));
    return std::any_of(ignored_.begin(), ignored_.end(), [&](const std::string& name) {
        return top.compare(fs::fromSystemPath(name), Qt::CaseInsensitive) == 0;
    });
}

bool FolderState::isHeldBy(const std::string& archivePath) const {
    try {
        const auto reader = openCheckedArchive(archivePath);
        std::map<std::string_view, const zip::ZipEntry*> held;
        for (const zip::ZipEntry& entry : reader->entries()) {
            if (!ignores(entry.path)) {
                held.emplace(entry.path, &entry);
            }
        }
        return held.size() == tree_.entries.size() &&
               std::all_of(tree_.entries.begin(), tree_.entries.end(), [&](const TreeEntry& now) {
                   const auto found = held.find(now.path);
                   return found != held.end() && sameEntry(now, *found->second);
               });
    } catch (const Failure&) {
        return false;
    }
}

} // namespace kavlento::archive

#include "archive/FolderState.h"

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/EntryReading.h"
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
    : folder_(fs::OpenFolder::open(folder, kCannotRead)), origin_(originOf(folder, 0)),
      ignored_(std::move(ignored)) {
    const std::optional<fs::OpenFolder> targetFolder = openIfThere(target);
    BackupExclusions exclusions(targetFolder ? &*targetFolder : nullptr, std::string(),
                                listedArchives, kArchivePassword.toStdString());
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
        if (same) {
            testArchive(archivePath, kArchivePassword.toStdString());
        }
        return same;
    } catch (const Failure&) {
        return false;
    }
}

} // namespace kavlento::archive

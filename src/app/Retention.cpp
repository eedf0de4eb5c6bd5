#include "app/Retention.h"

#include "app/BackupJob.h"
#include "archive/ArchiveCommand.h"
#include "archive/EntryContents.h"
#include "archive/OwnFiles.h"
#include "base/Failure.h"

#include <QFileInfo>

#include <algorithm>

namespace kavlento::app {

namespace {

const QString kCannotDelete = QStringLiteral("Eski yedek silinemedi");

} // namespace

void Retention::keepNewest(int count, const QString& target) {
    const fs::OpenFolder folder = fs::OpenFolder::open(fs::toSystemPath(target), kCannotDelete);
    const std::vector<Archive> archives = listedArchives(folder);
    std::vector<Archive> deleted;
    try {
        for (std::size_t i = static_cast<std::size_t>(std::max(count, 0)); i < archives.size();
             ++i) {
            if (remove(folder, archives[i])) {
                deleted.push_back(archives[i]);
                dialogs_.note(
                    QStringLiteral("eski yedek silindi: %1").arg(archives[i].records.first()));
            }
        }
    } catch (...) {
        forget(folder, deleted); // what is gone leaves the history even when the rest fails
        throw;
    }
    forget(folder, deleted);
}

std::vector<Retention::Archive> Retention::listedArchives(const fs::OpenFolder& target) const {
    const store::History history = history_.load().value_or(store::History());
    // Newest first; only archives that are there count among the newest, so a
    // record whose file is gone keeps none from deletion.
    std::vector<Archive> archives;
    for (std::size_t i = history.size(); i-- > 0;) {
        const QString record = history.archivePath(i);
        std::optional<Archive> found = locate(target, record);
        if (!found) {
            continue;
        }
        const auto same = std::find_if(archives.begin(), archives.end(), [&](const Archive& a) {
            return a.file.sameFile(found->file);
        });
        if (same != archives.end()) {
            same->records.append(record);
        } else if (isOurs(target, *found, record)) {
            found->records.append(record);
            archives.push_back(std::move(*found));
        }
    }
    return archives;
}

std::optional<Retention::Archive> Retention::locate(const fs::OpenFolder& target,
                                                    const QString& record) {
    const QFileInfo file(record);
    const std::optional<std::string> folder = fs::resolvedPath(fs::toSystemPath(file.path()));
    if (!archive::isArchiveFileName(fs::toSystemPath(file.fileName())) || !folder) {
        return std::nullopt;
    }
    Archive archive;
    archive.datedFolder = folder->substr(folder->rfind('/') + 1);
    archive.fileName = fs::toSystemPath(file.fileName());
    // The resolved folder is, by identity, a folder directly inside the target.
    const std::optional<fs::OpenFolder> dated =
        archive.datedFolder.empty() ? std::nullopt : target.folder(archive.datedFolder);
    if (!dated || !dated->lookUp().sameFile(fs::lookUpFollowing(*folder))) {
        return std::nullopt;
    }
    archive.file = dated->lookUp(archive.fileName);
    if (archive.file.kind != fs::PathKind::File) {
        return std::nullopt;
    }
    return archive;
}

bool Retention::isOurs(const fs::OpenFolder& target, const Archive& archive,
                       const QString& shown) const {
    try {
        const std::optional<fs::OpenFolder> dated = target.folder(archive.datedFolder);
        std::optional<fs::UniqueFd> file;
        if (dated) {
            file = dated->openForReading(archive.fileName);
        }
        const std::string path = target.pathOf(archive.datedFolder + "/" + archive.fileName);
        if (!file || !fs::lookUp(*file, path).sameFile(archive.file)) {
            return false; // gone or replaced since it was found
        }
        archive::requireOurArchive(std::move(*file), path, archive::kArchivePassword.toStdString());
        return true;
    } catch (const Failure& failure) {
        dialogs_.note(QStringLiteral("Kavlento yedeği olarak tanınmadığından silinmeyecek: %1 (%2)")
                          .arg(shown, failure.description()));
        return false;
    }
}

bool Retention::remove(const fs::OpenFolder& target, const Archive& archive) const {
    // Only the very file that was recognised goes, by its name in its folder.
    const std::optional<fs::OpenFolder> dated = target.folder(archive.datedFolder);
    if (!dated || !dated->lookUp(archive.fileName).sameFile(archive.file)) {
        return false;
    }
    dated->removeFile(archive.fileName, kCannotDelete);
    return true;
}

void Retention::forget(const fs::OpenFolder& target, const std::vector<Archive>& deleted) const {
    if (deleted.empty()) {
        return;
    }
    QStringList records;
    for (const Archive& archive : deleted) {
        records += archive.records;
    }
    history_.removeArchives(records);
    for (const Archive& archive : deleted) {
        target.removeEmptyFolder(archive.datedFolder);
    }
}

} // namespace kavlento::app

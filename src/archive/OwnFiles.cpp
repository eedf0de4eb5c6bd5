#include "archive/OwnFiles.h"

#include "archive/CheckedArchives.h"
#include "archive/ExtractionRules.h"
#include "base/Clock.h"
#include "base/Failure.h"
#include "fs/FolderTransaction.h"
#include "fs/Mounts.h"
#include "fs/NewFile.h"
#include "zip/ZipDirectory.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cctype>

namespace kavlento::archive {

namespace {

const QString kCannotRead = QStringLiteral("Yedekleme klasörü okunamadı");

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Where the digits from `at` on end.
std::size_t digitsFrom(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    return at;
}

// Throws unless the open archive is one Kavlento wrote: readable under the
// restore's rules, every file and link in it encrypted with AES-256, and its
// smallest one read whole with `password` (password check, HMAC, CRC).
void requireOurArchive(fs::UniqueFd file, const std::string& path, const std::string& password) {
    const std::unique_ptr<zip::ZipReader> reader = openCheckedArchive(std::move(file), path);
    const zip::ZipEntry* smallest = nullptr;
    for (const zip::ZipEntry& entry : reader->entries()) {
        if (entry.isFolder()) {
            continue;
        }
        if (entry.encryption != zip::ZipEntry::Encryption::Aes256) {
            zip::throwDamagedArchive(path, QStringLiteral("AES-256 ile şifrelenmemiş girdi: %1")
                                               .arg(fs::fromSystemPath(entry.path)));
        }
        if (smallest == nullptr || entry.compressedSize < smallest->compressedSize) {
            smallest = &entry;
        }
    }
    if (smallest == nullptr) {
        zip::throwDamagedArchive(path, QStringLiteral("şifreli girdi yok"));
    }
    zip::EntryReader content(*reader, *smallest, password);
    std::vector<std::uint8_t> buffer(64 * 1024);
    while (content.read(buffer.data(), buffer.size()) > 0) {
    }
}

bool isOwnDatedFolder(const fs::PathInfo& dated, const fs::PathInfo& target) {
    return fs::closedToOthers(dated) &&
           (dated.owner == fs::effectiveUser() || dated.owner == 0 || dated.owner == target.owner);
}

bool isOwnArchiveFile(const fs::PathInfo& file, const fs::PathInfo& dated) {
    return file.owner == fs::effectiveUser() || file.owner == 0 || file.owner == dated.owner;
}

// An archive of this folder's path under another host name, from before
// archives named their machine, or one of this machine's from a folder that
// is no longer there.
bool isFromEarlierName(const zip::ArchiveOrigin& origin, const zip::ArchiveOrigin& folder) {
    if (origin.machine.empty()) {
        return origin.folder == folder.folder && origin.host != folder.host;
    }
    return origin.machine == folder.machine && origin.folder != folder.folder &&
           fs::lookUp(origin.folder).kind == fs::PathKind::Missing;
}

// Digits with separators between them: "07-12-2026", " 7.12.2026", "07.12.2026.".
bool isDigitDate(std::string_view name) {
    // Some regional formats pad the day with a blank (" 7.12.2026").
    const std::size_t first = std::min(name.find_first_not_of(' '), name.size());
    std::size_t at = digitsFrom(name, first);
    int parts = 1;
    while (at > first && at < name.size()) {
        const char separator = name[at];
        if (separator != '-' && separator != '.' && separator != '_' && separator != ' ') {
            return false;
        }
        const std::size_t next = digitsFrom(name, at + 1);
        if (next == at + 1) {
            return separator == '.' && next == name.size(); // "07.12.2026."
        }
        at = next;
        ++parts;
    }
    return at > first && parts >= 2;
}

} // namespace

bool isArchiveFileName(std::string_view name) {
    std::size_t at = digitsFrom(name, 0);
    if (at == 0 || at >= name.size() || name[at] != '.') {
        return false;
    }
    const std::size_t time = at + 1;
    at = digitsFrom(name, time);
    if (at == time) {
        return false;
    }
    if (at < name.size() && name[at] == '-') {
        const std::size_t number = at + 1;
        at = digitsFrom(name, number);
        if (at == number) {
            return false;
        }
    }
    return name.substr(at) == ".ksd";
}

bool isDatedFolderName(std::string_view name) {
    return isDigitDate(name) || readsAsShortDate(std::string(name));
}

std::string unfinishedFileWriter(const zip::ArchiveOrigin& folder) {
    const std::string machine = folder.machine.empty() ? folder.host : folder.machine;
    const QByteArray bytes = QByteArray::fromStdString(machine + '\n' + folder.folder);
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)
        .toHex()
        .left(16)
        .toStdString();
}

bool isOwnTopEntry(std::string_view relative) {
    return relative == fs::FolderTransaction::kFolderName ||
           relative == CheckedArchives::kFileName || relative == CheckedArchives::kTemporaryName;
}

std::vector<DatedFolder> datedFoldersOf(const fs::OpenFolder& target,
                                        const std::vector<std::string>& alsoNamed) {
    std::vector<DatedFolder> folders;
    const fs::PathInfo targetInfo = target.lookUp();
    for (const std::string& name : target.names(kCannotRead)) {
        const bool named = isDatedFolderName(name) ||
                           std::find(alsoNamed.begin(), alsoNamed.end(), name) != alsoNamed.end();
        if (!named) {
            continue;
        }
        std::optional<fs::OpenFolder> folder = target.folder(name);
        if (!folder) {
            continue;
        }
        try {
            folder->reopen(kCannotRead); // listable by this user
        } catch (const Failure&) {
            continue;
        }
        const bool own = isOwnDatedFolder(folder->lookUp(), targetInfo);
        folders.push_back({name, std::move(*folder), own});
    }
    return folders;
}

TargetArchives archivesIn(const fs::OpenFolder& target, const zip::ArchiveOrigin& folder,
                          const std::vector<std::string>& alsoNamed) {
    TargetArchives found;
    for (const DatedFolder& dated : datedFoldersOf(target, alsoNamed)) {
        for (const std::string& name : dated.folder.names(kCannotRead)) {
            const std::string relative = dated.name + "/" + name;
            std::optional<fs::UniqueFd> file;
            if (!isArchiveFileName(name) || !(file = dated.folder.openForReading(name))) {
                continue;
            }
            const fs::PathInfo info = fs::lookUp(*file, target.pathOf(relative));
            if (info.kind != fs::PathKind::File) {
                continue;
            }
            std::optional<zip::ArchiveOrigin> origin;
            try {
                origin = zip::readOrigin(*file, target.pathOf(relative));
            } catch (const Failure&) {
                found.unreadable.push_back(relative);
                continue;
            }
            if (!origin) {
                found.unmarked.push_back(relative);
            } else if (!origin->sameFolder(folder)) {
                if (isFromEarlierName(*origin, folder)) {
                    found.elsewhere.push_back(relative);
                }
            } else if (!dated.own || !isOwnArchiveFile(info, dated.folder.lookUp())) {
                found.foreign.push_back(relative);
            } else {
                found.ours.push_back({dated.name, name, info, *origin});
            }
        }
    }
    std::sort(found.ours.begin(), found.ours.end(), [](const auto& a, const auto& b) {
        return a.origin.moment != b.origin.moment ? a.origin.moment > b.origin.moment
                                                  : a.path() > b.path();
    });
    return found;
}

bool opensAsOurArchive(const fs::OpenFolder& folder, const std::string& name,
                       const std::string& password) {
    try {
        std::optional<fs::UniqueFd> file = folder.openForReading(name);
        if (!file) {
            return false;
        }
        requireOurArchive(std::move(*file), folder.pathOf(name), password);
        return true;
    } catch (const Failure&) {
        return false; // not an archive of ours
    }
}

BackupExclusions::BackupExclusions(const fs::OpenFolder* target, const std::string& todaysFolder,
                                   const std::vector<std::string>& listedArchives,
                                   std::string password)
    : password_(std::move(password)) {
    for (const std::string& path : listedArchives) {
        const fs::PathInfo info = fs::lookUpFollowing(path);
        if (info.kind == fs::PathKind::File) {
            archives_.emplace(identity(info), std::nullopt);
        }
    }
    if (target == nullptr) {
        return;
    }
    std::vector<std::string> named{todaysFolder};
    for (const std::string& path : listedArchives) {
        named.push_back(std::string(fs::lastName(fs::folderOf(path))));
    }
    for (const DatedFolder& dated : datedFoldersOf(*target, named)) {
        datedFolders_.insert(identity(dated.folder.lookUp()));
        for (const std::string& name : dated.folder.names(kCannotRead)) {
            const fs::PathInfo info = dated.folder.lookUp(name);
            if (isArchiveFileName(name) && info.kind == fs::PathKind::File) {
                archives_.emplace(identity(info), std::nullopt);
            }
        }
    }
}

BackupExclusions BackupExclusions::forTarget(const std::string& target,
                                             const std::vector<std::string>& listedArchives,
                                             std::string password) {
    std::optional<fs::OpenFolder> folder;
    try {
        if (!target.empty() && fs::lookUpFollowing(target).kind == fs::PathKind::Folder) {
            folder = fs::OpenFolder::open(target, kCannotRead);
        }
    } catch (const Failure&) {
        // Not there now: nothing of it can lie in the folder either.
    }
    return BackupExclusions(folder ? &*folder : nullptr, std::string(), listedArchives,
                            std::move(password));
}

bool BackupExclusions::staysInPlace(const fs::FoundEntry& entry) {
    return leaveOut(entry) || (entry.info.kind == fs::PathKind::Folder &&
                               datedFolders_.count(identity(entry.info)) > 0);
}

bool BackupExclusions::leaveOut(const fs::FoundEntry& entry) {
    if (isOwnTopEntry(entry.relative)) {
        return true;
    }
    if (entry.info.kind != fs::PathKind::File) {
        return false;
    }
    if (fs::isUnfinishedFileName(entry.name) &&
        datedFolders_.count(identity(entry.folder.lookUp())) > 0) {
        return true;
    }
    const auto found = archives_.find(identity(entry.info));
    if (found == archives_.end()) {
        return false;
    }
    if (!found->second) {
        found->second = opensAsOurArchive(entry.folder, std::string(entry.name), password_);
    }
    return *found->second;
}

} // namespace kavlento::archive

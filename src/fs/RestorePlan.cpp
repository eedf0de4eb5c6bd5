#include "fs/RestorePlan.h"

#include "base/Failure.h"
#include "base/Saturating.h"
#include "fs/RestoreAreas.h"
#include "fs/RestoreJournal.h"

#include <algorithm>
#include <cerrno>

namespace kavlento::fs {

namespace {

using restore::exists;
using restore::refuse;

const QString kCannotMake = QStringLiteral("Geri yükleme klasörü oluşturulamadı");
// Room kept free beyond the restored bytes, for the file system's own needs.
constexpr std::uint64_t kSpareBytes = 16u << 20;

[[noreturn]] void conflict(const std::string& path, bool archivedFolder) {
    throw Failure(
        FailureCode::PathFileAccess,
        QStringLiteral("Geri yükleme yapılamadı: yedekteki bir %1 ile program "
                       "klasöründeki bir %2 aynı adı taşıyor; hiçbir dosya "
                       "değiştirilmedi: %3")
            .arg(archivedFolder ? QStringLiteral("klasör")
                                : QStringLiteral("dosya (ya da bağlantı)"),
                 archivedFolder ? QStringLiteral("dosya ya da bağlantı") : QStringLiteral("klasör"),
                 fromSystemPath(path)));
}

// The key under which names that differ only in letter case meet.
std::string foldedKey(std::string_view folder, std::string_view name) {
    return std::string(folder) + '/' +
           QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
               .toCaseFolded()
               .toStdString();
}

} // namespace

RestorePlan::RestorePlan(const OpenFolder& destination, std::vector<TreeEntry> items, Kept kept,
                         std::set<std::string, std::less<>> impliedFolders)
    : destination_(destination), items_(std::move(items)), kept_(std::move(kept)),
      impliedFolders_(std::move(impliedFolders)) {
    for (const TreeEntry& item : items_) {
        byPath_.emplace(item.path, &item);
    }
    refuseItemsNamedLikeTheWorkingFolder();
    planAreas();
    requireMountsFree();
    findExtras();
    requireChangeable(survey());
    requireRoom();
}

// However an archive spells it, where the file system takes it for this name.
// Whether it does can be told only from a name there with letters: once the
// working folder is made, its own name tells it.
void RestorePlan::refuseItemsNamedLikeTheWorkingFolder() const {
    for (const TreeEntry& item : items_) {
        if (parentPath(item.path).empty() &&
            destination_.sameName({}, item.path, restore::kWorkingFolder)) {
            refuse(FailureCode::UnsafeArchive,
                   QStringLiteral("yedekte Kavlento'nun çalışma klasörünün adını taşıyan bir "
                                  "girdi var"),
                   destination_.pathOf(item.path));
        }
    }
}

// A folder that exists on another mount than its parent starts an area of its
// own; everything else lands where its parent does.
void RestorePlan::planAreas() {
    std::vector<std::string> mountFolders{std::string()};
    std::vector<std::uint64_t> mounts{destination_.lookUp().mount};
    for (const TreeEntry& item : items_) {
        if (!item.isFolder()) {
            continue;
        }
        const std::uint32_t parentArea = areaOf(item.path);
        std::uint32_t area = parentArea;
        const PathInfo info = destination_.lookUp(item.path);
        if (info.kind == PathKind::Folder && info.mount != mounts[parentArea]) {
            area = static_cast<std::uint32_t>(mountFolders.size());
            mountFolders.emplace_back(item.path);
            mounts.push_back(info.mount);
        }
        folderArea_.emplace(item.path, area);
    }
    mountFolders_ = std::move(mountFolders);
}

// Where a mount's working folder goes, only one of ours may be: one left by a
// restore cut off before its journal, while the next start could not reach
// that file system, holds nothing to put back.
void RestorePlan::requireMountsFree() const {
    for (std::size_t a = 1; a < mountFolders_.size(); ++a) {
        const std::string root = joinPath(mountFolders_[a], restore::kWorkingFolder);
        if (byPath_.count(root) > 0) {
            refuse(FailureCode::UnsafeArchive,
                   QStringLiteral("yedekte, bağlı bir diskteki çalışma klasörünün adını taşıyan "
                                  "bir girdi var"),
                   destination_.pathOf(root));
        }
        if (!exists(destination_, root)) {
            continue;
        }
        const std::optional<OpenFolder> working = destination_.folder(root);
        const journal::Standing standing =
            working ? journal::standingOf(*working) : journal::Standing::Foreign;
        if (standing == journal::Standing::Untrusted) {
            refuse(FailureCode::PathFileAccess,
                   QStringLiteral("bağlı bir diskte Kavlento'nun olmayan bir çalışma klasörü var "
                                  "(sahibi başka bir kullanıcı ya da başka kullanıcılar ona "
                                  "yazabiliyor); Kavlento ona dokunmaz: klasörü kaldırın ya da "
                                  "adını değiştirin, gerekirse yöneticinize yaptırın"),
                   destination_.pathOf(root));
        }
        if (standing == journal::Standing::Foreign) {
            refuse(FailureCode::PathFileAccess,
                   QStringLiteral("bağlı bir diskte Kavlento'nun çalışma klasörünün adını "
                                  "taşıyan bir klasör var (adını değiştirin ya da içindekileri "
                                  "başka yere taşıyın)"),
                   destination_.pathOf(root));
        }
    }
}

std::uint32_t RestorePlan::areaOf(std::string_view path) const {
    const auto found = folderArea_.find(parentPath(path));
    return found == folderArea_.end() ? 0 : found->second;
}

// What the destination holds beyond the items: each such path whose folder
// the items have goes aside whole, the folders the items have are looked into.
void RestorePlan::findExtras() {
    for (const TreeEntry& item : items_) {
        foldedNames_.emplace(foldedKey(parentPath(item.path), lastName(item.path)),
                             lastName(item.path));
    }
    findExtrasIn(destination_, std::string());
}

void RestorePlan::findExtrasIn(const OpenFolder& folder, const std::string& prefix) {
    std::vector<std::string> names = folder.names(kCannotMake);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        // Where a mount's working folder goes, it is made anew (or the restore
        // refused, when what is there is not ours), not moved aside.
        if (std::any_of(mountFolders_.begin() + 1, mountFolders_.end(),
                        [&](const std::string& mount) {
                            return joinPath(mount, restore::kWorkingFolder) == relative;
                        })) {
            continue;
        }
        if (prefix.empty() &&
            (name == restore::kWorkingFolder ||
             std::any_of(kept_.names.begin(), kept_.names.end(), [&](const std::string& k) {
                 return destination_.sameName({}, name, k);
             }))) {
            continue;
        }
        const auto exact = byPath_.find(relative);
        if (exact != byPath_.end()) {
            refuseItemInPlaceOfOurs(folder, name, relative);
            std::optional<OpenFolder> inner;
            if (exact->second->isFolder() && (inner = folder.folder(name))) {
                findExtrasIn(*inner, relative);
            }
            continue;
        }
        const std::optional<std::string_view> item = itemCalled(prefix, name, folder);
        if (!item) {
            weighExtra(folder, name, relative);
            continue;
        }
        refuseItemInPlaceOfOurs(folder, name, relative);
        const std::string spelled =
            prefix.empty() ? std::string(*item) : prefix + "/" + std::string(*item);
        std::optional<OpenFolder> inner;
        if (folder.lookUp(name).kind != PathKind::Folder) {
            // Put back under its own spelling, should the restore be undone.
            extras_.push_back(relative);
            respelled_.insert(spelled);
        } else if (byPath_.at(spelled)->isFolder() && (inner = folder.folder(name))) {
            findExtrasIn(*inner, spelled);
        }
    }
}

// Only what a backup would have packed can be a path the items lack: what it
// leaves out as Kavlento's own stays, and so do sockets, pipes and devices,
// which it never packs. A folder holding any of them stays too, and only what
// else it holds goes.
void RestorePlan::weighExtra(const OpenFolder& folder, const std::string& name,
                             const std::string& relative) {
    const PathInfo info = folder.lookUp(name);
    if (info.kind == PathKind::Other) {
        return;
    }
    const bool stays = staysInPlace(folder, name, relative, info);
    if (info.kind != PathKind::Folder) {
        if (!stays) {
            requireRemovable(folder, name, relative);
            extras_.push_back(relative);
        }
        return;
    }
    std::optional<OpenFolder> inner = folder.folder(name);
    if (!stays && !(inner && holdsWhatStays(*inner, relative))) {
        requireRemovable(folder, name, relative);
        extras_.push_back(relative);
        return;
    }
    if (!inner) {
        return;
    }
    if (info.mount != folder.lookUp().mount) {
        refuse(FailureCode::PathFileAccess,
               QStringLiteral("yedekte olmayan bir klasöre bir disk bağlı (diski ayırın)"),
               destination_.pathOf(relative));
    }
    const std::string& kept = *lookedInto_.insert(relative).first;
    folderArea_.emplace(kept, areaOf(kept));
    findExtrasIn(*inner, kept);
}

bool RestorePlan::staysInPlace(const OpenFolder& folder, std::string_view name,
                               std::string_view relative, const PathInfo& info) const {
    return kept_.inPlace && kept_.inPlace(FoundEntry{folder, name, relative, info});
}

bool RestorePlan::holdsWhatStays(const OpenFolder& folder, const std::string& relative) const {
    for (const std::string& name : folder.names(kCannotMake)) {
        const std::string path = relative + "/" + name;
        const PathInfo info = folder.lookUp(name);
        if (info.kind == PathKind::Other || staysInPlace(folder, name, path, info)) {
            return true;
        }
        std::optional<OpenFolder> inner;
        if (info.kind == PathKind::Folder && (inner = folder.folder(name)) &&
            holdsWhatStays(*inner, path)) {
            return true;
        }
    }
    return false;
}

// An archive that would put something in the place of one of Kavlento's own
// files (an archive of this folder never does) would remove a backup.
void RestorePlan::refuseItemInPlaceOfOurs(const OpenFolder& folder, const std::string& name,
                                          const std::string& relative) const {
    const PathInfo info = folder.lookUp(name);
    if (info.kind != PathKind::Folder && staysInPlace(folder, name, relative, info)) {
        refuse(FailureCode::UnsafeArchive,
               QStringLiteral("yedekteki bir girdi Kavlento'nun bir yedeğinin ya da çalışma "
                              "dosyasının yerine gelecekti"),
               destination_.pathOf(relative));
    }
}

// An item spelled otherwise may be this very entry (a file system that folds
// letter case takes "Veri.db" for "veri.db").
std::optional<std::string_view> RestorePlan::itemCalled(std::string_view folder,
                                                        const std::string& name,
                                                        const OpenFolder& holding) const {
    const auto [first, last] = foldedNames_.equal_range(foldedKey(folder, name));
    const auto found = std::find_if(
        first, last, [&](const auto& item) { return holding.sameName({}, name, item.second); });
    return found == last ? std::nullopt : std::optional<std::string_view>(found->second);
}

// What goes aside must be able to go, and then to be removed: nothing below it
// is another disk, and every folder of it is one this user may change.
void RestorePlan::requireRemovable(const OpenFolder& folder, const std::string& name,
                                   const std::string& relative) const {
    const auto refuseMount = [&](const std::string& path) {
        refuse(FailureCode::PathFileAccess,
               QStringLiteral("yedekte olmayan bir klasöre bir disk bağlı (diski ayırın)"), path);
    };
    // Only an administrator can lift an immutable flag or another user's
    // rights; what is the user's own he may open up, and it is opened up.
    const auto refuseRights = [&](const std::string& path) {
        refuse(FailureCode::PermissionDenied,
               QStringLiteral("yedekte olmayan bir klasörü kaldırma izniniz yok (başka bir "
                              "kullanıcının ya da değiştirilemez; yöneticiniz izinleri düzeltsin)"),
               path);
    };
    const auto refuseFixed = [&](const std::string& path) {
        refuse(FailureCode::PermissionDenied,
               QStringLiteral("yedekte olmayan bir dosya değiştirilemez olarak işaretli; "
                              "kaldırılamaz (yöneticiniz işareti kaldırsın)"),
               path);
    };
    const PathInfo info = folder.lookUp(name);
    if (info.kind == PathKind::File && folder.isFixed(name)) {
        refuseFixed(destination_.pathOf(relative));
    }
    if (info.kind != PathKind::Folder) {
        return;
    }
    if (info.mount != folder.lookUp().mount) {
        refuseMount(destination_.pathOf(relative));
    }
    if (!folder.canChange(name)) {
        refuseRights(destination_.pathOf(relative));
    }
    const std::optional<OpenFolder> inner = folder.folder(name);
    if (!inner) {
        return;
    }
    ScanOptions options;
    options.leaveOut = [&](const FoundEntry& entry) {
        const std::string path = destination_.pathOf(relative + "/" + std::string(entry.relative));
        if (entry.info.mount != info.mount) {
            refuseMount(path);
        }
        if (entry.info.kind == PathKind::Folder && !entry.folder.canChange(entry.name)) {
            refuseRights(path);
        }
        if (entry.info.kind == PathKind::File && entry.folder.isFixed(entry.name)) {
            refuseFixed(path);
        }
        return false;
    };
    scanFolder(*inner, options);
}

// Every folder a name is made or removed in must take it, or be opened up to
// take it: found out now, before the journal, so that no undo ever has to
// change a folder this user cannot change.
void RestorePlan::requireChangeable(const std::vector<Found>& found) const {
    std::set<std::string_view> folders;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        folders.insert(parentPath(items_[i].path));
        if (found[i].closed) {
            folders.insert(items_[i].path);
        }
    }
    for (const std::string& extra : extras_) {
        folders.insert(parentPath(extra));
    }
    for (const std::string_view folder : folders) {
        if (destination_.lookUp(folder).kind == PathKind::Folder &&
            !destination_.canChange(folder)) {
            refuse(FailureCode::PermissionDenied,
                   QStringLiteral("program klasöründe değiştirme izniniz olmayan bir klasör var "
                                  "(başka bir kullanıcının, salt okunur ya da değiştirilemez; "
                                  "yöneticiniz izinleri düzeltsin)"),
                   destination_.pathOf(folder));
        }
    }
}

// A compression bomb, or simply a full disk, is stopped here, before anything
// is written. Sizes are what the archive declares; their sums saturate.
void RestorePlan::requireRoom() const {
    std::vector<std::uint64_t> needed(mountFolders_.size(), kSpareBytes);
    for (const TreeEntry& item : items_) {
        std::uint64_t& sum = needed[areaOf(item.path)];
        sum = saturatingAdd(sum, saturatingAdd(item.size, item.size >> 6));
    }
    for (std::size_t a = 0; a < mountFolders_.size(); ++a) {
        const std::string& mountFolder = mountFolders_[a];
        const std::optional<OpenFolder> folder = destination_.folder(mountFolder);
        if (!folder) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(mountFolder));
        }
        // A file system that does not say its room is tried.
        const std::uint64_t available = folder->availableBytes().value_or(UINT64_MAX);
        if (needed[a] > available) {
            throw Failure(FailureCode::DiskFull,
                          QStringLiteral("Geri yükleme için diskte yeterli yer yok: %1 MB "
                                         "gerekli, %2 MB boş; hiçbir dosya değiştirilmedi: %3")
                              .arg(needed[a] >> 20)
                              .arg(available >> 20)
                              .arg(fromSystemPath(folder->pathOf({}))));
        }
    }
}

std::vector<RestorePlan::Found> RestorePlan::survey() const {
    std::vector<Found> found;
    found.reserve(items_.size());
    HeldFolder in(destination_);
    for (const TreeEntry& item : items_) {
        const OpenFolder* folder = in.holding(item.path);
        const PathInfo info = folder && respelled_.count(item.path) == 0
                                  ? folder->lookUp(lastName(item.path))
                                  : PathInfo{};
        const bool isFolder = info.kind == PathKind::Folder;
        if (info.kind != PathKind::Missing && isFolder != item.isFolder()) {
            conflict(destination_.pathOf(item.path), item.isFolder());
        }
        const bool owned = info.owner == effectiveUser() || isAdministrator();
        found.push_back({info.kind != PathKind::Missing,
                         owned && isFolder && (info.mode & 0300) != 0300, owned, info.mode});
    }
    return found;
}

} // namespace kavlento::fs

#include "fs/FolderTransaction.h"

#include "base/Failure.h"
#include "base/Saturating.h"
#include "fs/File.h"
#include "fs/FolderScanner.h"

#include <algorithm>
#include <cerrno>
#include <set>

namespace kavlento::fs {

namespace {

using journal::Move;

const QString kCannotPlace = QStringLiteral("Geri yüklenen dosya yerine konamadı");
const QString kCannotUndo = QStringLiteral("Yarım kalan geri yükleme geri alınamadı");
const QString kCannotMake = QStringLiteral("Geri yükleme klasörü oluşturulamadı");
const QString kNothingChanged = QStringLiteral("hiçbir dosya değiştirilmedi");
// Room kept free beyond the restored bytes, for the file system's own needs.
constexpr std::uint64_t kSpareBytes = 16u << 20;
constexpr const char* kStaged = "yeni";
constexpr const char* kOld = "eski";

bool exists(const OpenFolder& folder, std::string_view path) {
    return folder.lookUp(path).kind != PathKind::Missing;
}

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

[[noreturn]] void refuse(FailureCode code, const QString& why, const std::string& path) {
    throw Failure(code, QStringLiteral("Geri yükleme yapılamadı: %1; %2: %3")
                            .arg(why, kNothingChanged, fromSystemPath(path)));
}

// The key under which names that differ only in letter case meet.
std::string foldedKey(std::string_view folder, std::string_view name) {
    return std::string(folder) + '/' +
           QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
               .toCaseFolded()
               .toStdString();
}

// What to do where an undo cannot go on.
[[noreturn]] void undoBlocked(const Failure& failure, const OpenFolder& destination) {
    throw Failure(failure.code(),
                  failure.description() +
                      QStringLiteral(" Yarım kalan geri yükleme tamamlanamıyor; Kavlento her "
                                     "açılışta yeniden dener. Yukarıdaki yolun izinlerini "
                                     "düzeltin (salt okunur ya da değiştirilemez bir klasörse "
                                     "yöneticiniz açsın), yerine konan bir bağlantıyı kaldırıp "
                                     "klasörü geri taşıyın ya da diski takın, sonra Kavlento'yu "
                                     "yeniden başlatın. Eski dosyalar şurada bekliyor: %1")
                          .arg(fromSystemPath(destination.pathOf(FolderTransaction::kFolderName))));
}

} // namespace

std::vector<FolderTransaction::Area>
FolderTransaction::areasOf(const std::vector<std::string>& mountFolders) {
    std::vector<Area> areas;
    for (const std::string& folder : mountFolders) {
        Area area;
        area.mountFolder = folder;
        area.root = folder.empty() ? std::string(kFolderName) : joinPath(folder, kFolderName);
        areas.push_back(std::move(area));
    }
    return areas;
}

void FolderTransaction::openArea(const OpenFolder& destination, Area& area) {
    area.folder = destination.folder(area.root);
    area.staged = destination.folder(joinPath(area.root, kStaged));
    area.old = destination.folder(joinPath(area.root, kOld));
}

FolderTransaction::FolderTransaction(const std::string& destination, std::vector<TreeEntry> items,
                                     std::vector<std::string> kept)
    : destination_(OpenFolder::open(destination, kCannotMake)), items_(std::move(items)),
      kept_(std::move(kept)) {
    recoverIn(destination_);
    if (exists(destination_, kFolderName) && journal::isOurs(destination_, kFolderName)) {
        refuse(FailureCode::PermissionDenied,
               QStringLiteral("önceki bir geri yüklemeden kalan çalışma klasörü silinemedi "
                              "(izinlerini düzeltin ya da yöneticinize sildirin)"),
               destination_.pathOf(kFolderName));
    }
    if (exists(destination_, kFolderName)) {
        refuse(FailureCode::PathFileAccess,
               QStringLiteral("program klasöründe Kavlento'nun çalışma klasörünün adını taşıyan "
                              "bir klasör var (adını değiştirin ya da içindekileri başka yere "
                              "taşıyın)"),
               destination_.pathOf(kFolderName));
    }
    for (const TreeEntry& item : items_) {
        byPath_.emplace(item.path, &item);
    }
    refuseItemsNamedLikeTheWorkingFolder();
    planAreas();
    requireMountsFree();
    findExtras();
    const std::vector<Found> found = plan(); // before anything is made or removed
    requireChangeable(found);
    requireRoom();
}

// However an archive spells it, where the file system takes it for this name.
// Whether it does can be told only from a name there with letters: once the
// working folder is made, its own name tells it.
void FolderTransaction::refuseItemsNamedLikeTheWorkingFolder() const {
    for (const TreeEntry& item : items_) {
        if (parentPath(item.path).empty() && destination_.sameName({}, item.path, kFolderName)) {
            refuse(FailureCode::UnsafeArchive,
                   QStringLiteral("yedekte Kavlento'nun çalışma klasörünün adını taşıyan bir "
                                  "girdi var"),
                   destination_.pathOf(item.path));
        }
    }
}

void FolderTransaction::prepare() {
    makeWorkingFolders();
}

FolderTransaction::~FolderTransaction() {
    if (!keepForRecovery_) {
        removeWorkingFolders(destination_, areas_);
    }
}

// Only old files of a restore that is done, or nothing, are in them: what
// cannot be removed now stays until it can, and stops nothing.
void FolderTransaction::removeWorkingFolders(const OpenFolder& destination,
                                             const std::vector<Area>& areas) noexcept {
    for (auto it = areas.rbegin(); it != areas.rend(); ++it) {
        try {
            destination.removeTree(it->root);
        } catch (const Failure&) {
        }
    }
}

// A folder that exists on another mount than its parent starts an area of its
// own; everything else lands where its parent does.
void FolderTransaction::planAreas() {
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
    areas_ = areasOf(mountFolders);
}

// Where a mount's working folder goes, only one of ours may be: one left by a
// restore cut off before its journal, while the next start could not reach
// that file system, holds nothing to put back.
void FolderTransaction::requireMountsFree() const {
    for (std::size_t a = 1; a < areas_.size(); ++a) {
        const Area& area = areas_[a];
        const std::optional<OpenFolder> mount = destination_.folder(area.mountFolder);
        if (byPath_.count(area.root) > 0 ||
            (exists(destination_, area.root) && !(mount && journal::isOurs(*mount, kFolderName)))) {
            refuse(FailureCode::PathFileAccess,
                   QStringLiteral("bağlı bir diskte Kavlento'nun çalışma klasörünün adını "
                                  "taşıyan bir klasör var (adını değiştirin)"),
                   destination_.pathOf(area.root));
        }
    }
}

std::uint32_t FolderTransaction::areaOf(std::string_view path) const {
    const auto found = folderArea_.find(parentPath(path));
    return found == folderArea_.end() ? 0 : found->second;
}

// What the destination holds beyond the items: each such path whose folder
// the items have goes aside whole, the folders the items have are looked into.
void FolderTransaction::findExtras() {
    for (const TreeEntry& item : items_) {
        foldedNames_.emplace(foldedKey(parentPath(item.path), lastName(item.path)),
                             lastName(item.path));
    }
    findExtrasIn(destination_, std::string());
}

void FolderTransaction::findExtrasIn(const OpenFolder& folder, const std::string& prefix) {
    std::vector<std::string> names = folder.names(kCannotMake);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        // Where a mount's working folder goes, it is made anew (or the restore
        // refused, when what is there is not ours), not moved aside.
        if (std::any_of(areas_.begin() + 1, areas_.end(),
                        [&](const Area& area) { return area.root == relative; })) {
            continue;
        }
        if (prefix.empty() && (name == kFolderName ||
                               std::any_of(kept_.begin(), kept_.end(), [&](const std::string& k) {
                                   return destination_.sameName({}, name, k);
                               }))) {
            continue;
        }
        const auto exact = byPath_.find(relative);
        if (exact != byPath_.end()) {
            std::optional<OpenFolder> inner;
            if (exact->second->isFolder() && (inner = folder.folder(name))) {
                findExtrasIn(*inner, relative);
            }
            continue;
        }
        const std::optional<std::string_view> item = itemCalled(prefix, name, folder);
        if (!item) {
            requireRemovable(folder, name, relative);
            extras_.push_back(relative);
            continue;
        }
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

// An item spelled otherwise may be this very entry (a file system that folds
// letter case takes "Veri.db" for "veri.db").
std::optional<std::string_view> FolderTransaction::itemCalled(std::string_view folder,
                                                              const std::string& name,
                                                              const OpenFolder& holding) const {
    const auto [first, last] = foldedNames_.equal_range(foldedKey(folder, name));
    const auto found = std::find_if(
        first, last, [&](const auto& item) { return holding.sameName({}, name, item.second); });
    return found == last ? std::nullopt : std::optional<std::string_view>(found->second);
}

// What goes aside must be able to go, and then to be removed: nothing below it
// is another disk, and every folder of it is one this user may change.
void FolderTransaction::requireRemovable(const OpenFolder& folder, const std::string& name,
                                         const std::string& relative) const {
    const PathInfo info = folder.lookUp(name);
    if (info.kind != PathKind::Folder) {
        return;
    }
    const auto refuseMount = [&](const std::string& path) {
        refuse(FailureCode::PathFileAccess,
               QStringLiteral("yedekte olmayan bir klasöre bir disk bağlı (diski ayırın)"), path);
    };
    const auto refuseRights = [&](const std::string& path) {
        refuse(FailureCode::PermissionDenied,
               QStringLiteral("yedekte olmayan bir klasörü kaldırma izniniz yok (yöneticiniz "
                              "izinleri düzeltsin)"),
               path);
    };
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
        return false;
    };
    scanFolder(*inner, options);
}

// Every folder a name is made or removed in must take it, or be opened up to
// take it: found out now, before the journal, so that no undo ever has to
// change a folder this user cannot change.
void FolderTransaction::requireChangeable(const std::vector<Found>& found) const {
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
void FolderTransaction::requireRoom() const {
    std::vector<std::uint64_t> needed(areas_.size(), kSpareBytes);
    for (const TreeEntry& item : items_) {
        std::uint64_t& sum = needed[areaOf(item.path)];
        sum = saturatingAdd(sum, saturatingAdd(item.size, item.size >> 6));
    }
    for (std::size_t a = 0; a < areas_.size(); ++a) {
        const std::string& mountFolder = areas_[a].mountFolder;
        const std::optional<OpenFolder> folder = destination_.folder(mountFolder);
        if (!folder) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(mountFolder));
        }
        const std::uint64_t available = folder->availableBytes();
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

void FolderTransaction::makeWorkingFolders() {
    for (std::size_t a = 0; a < areas_.size(); ++a) {
        Area& area = areas_[a];
        if (a > 0) {
            destination_.removeTree(area.root); // ours, as the constructor found
        }
        destination_.makeFolder(area.root, 0700, kCannotMake);
        area.folder = destination_.folder(area.root);
        if (!area.folder) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(area.root));
        }
        if (a == 0) {
            refuseItemsNamedLikeTheWorkingFolder();
        }
        // Listed, and so marked as Kavlento's, before the others are made: a
        // crash leaves nothing the next start cannot find. The others' lists
        // are empty, and only mark them.
        std::vector<std::string> others;
        for (std::size_t other = 1; a == 0 && other < areas_.size(); ++other) {
            others.push_back(areas_[other].mountFolder);
        }
        journal::writeAreaList(*area.folder, others);
        destination_.makeFolder(joinPath(area.root, kStaged), 0700, kCannotMake);
        destination_.makeFolder(joinPath(area.root, kOld), 0700, kCannotMake);
        openArea(destination_, area);
        if (!area.staged || !area.old) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(area.root));
        }
    }
    std::set<std::pair<std::uint32_t, std::string_view>> made;
    for (const TreeEntry& item : items_) {
        const std::uint32_t area = areaOf(item.path);
        const std::string_view parent = parentPath(item.path);
        if (!item.isFolder() && !parent.empty() && made.emplace(area, parent).second) {
            areas_[area].staged->makeFolders(parent, kCannotPlace);
        }
    }
}

const OpenFolder& FolderTransaction::stagingFolder(std::string_view path) const {
    return *areas_[areaOf(path)].staged;
}

void FolderTransaction::recover(const std::string& destination) {
    recoverIn(OpenFolder::open(destination, kCannotUndo));
}

void FolderTransaction::recoverIn(const OpenFolder& destination) {
    if (!exists(destination, kFolderName) || !journal::isOurs(destination, kFolderName)) {
        return; // nothing of ours is there
    }
    const std::optional<OpenFolder> main = destination.folder(kFolderName);
    std::vector<std::string> mountFolders{std::string()};
    for (std::string& folder : journal::readAreaList(*main)) {
        mountFolders.push_back(std::move(folder));
    }
    std::vector<Area> areas = areasOf(mountFolders);
    if (journal::exists(*main)) {
        for (Area& area : areas) {
            openArea(destination, area);
            if (!area.folder) {
                // Its old files may be on a disk that is not there now.
                throw Failure(FailureCode::PathNotFound,
                              QStringLiteral("Yarım kalan bir geri yükleme geri alınamıyor: "
                                             "çalışma klasörüne ulaşılamıyor (disk takılı "
                                             "değil mi?). Disk takılıyken programı yeniden "
                                             "başlatın: %1")
                                  .arg(fromSystemPath(destination.pathOf(area.root))));
            }
        }
        HeldFolder walk(destination);
        try {
            undo(destination, areas, [&](std::string_view path) -> const OpenFolder& {
                return walk.requireHolding(path, kCannotUndo);
            });
        } catch (const Failure& failure) {
            undoBlocked(failure, destination);
        }
    }
    removeWorkingFolders(destination, areas);
}

std::vector<FolderTransaction::Found> FolderTransaction::plan() const {
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
        found.push_back(
            {info.kind != PathKind::Missing, isFolder && (info.mode & 0300) != 0300, info.mode});
    }
    return found;
}

// The folders to open up with their modes, the paths that go aside, then one
// record per item.
void FolderTransaction::writeJournal(const std::vector<Found>& found) const {
    journal::Writer journal(*areas_.front().folder);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (found[i].closed) {
            journal.add({'W', true, 0, found[i].mode, std::string(items_[i].path)});
        }
    }
    for (const std::string& extra : extras_) {
        journal.add({'X', true, areaOf(extra), 0, extra});
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
        journal.add({items_[i].isFolder() ? 'D' : 'F', found[i].existed, areaOf(items_[i].path), 0,
                     std::string(items_[i].path)});
    }
    journal.commit();
}

// The journal goes only once everything it put back is on disk.
void FolderTransaction::undo(const OpenFolder& destination, const std::vector<Area>& areas,
                             const Holder& holder) {
    const OpenFolder& main = *areas.front().folder;
    rollBack(destination, areas, journal::read(main), holder);
    for (const Area& area : areas) {
        area.folder->syncFileSystem();
    }
    journal::remove(main);
    main.sync();
}

void FolderTransaction::rollBack(const OpenFolder& destination, const std::vector<Area>& areas,
                                 const std::vector<Move>& moves, const Holder& holder) {
    // A folder whose mode is still the one it had was never opened up: it is
    // left as it is. Folders the restore made may have their saved modes
    // already, and those it opened up may have had theirs given back.
    const auto openedUp = [&](const Move& move) {
        const PathInfo info = destination.lookUp(move.path);
        return info.kind == PathKind::Folder && info.mode != move.mode;
    };
    for (const Move& move : moves) {
        if ((move.kind == 'W' && openedUp(move)) || (move.kind == 'D' && !move.existed)) {
            destination.makeFolderWritable(move.path, kCannotUndo);
        }
    }
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        if (it->kind == 'W') {
            if (openedUp(*it)) {
                destination.setFolderMode(it->path, it->mode, kCannotUndo);
            }
            continue;
        }
        if (it->kind == 'D') {
            if (!it->existed) {
                destination.removeEmptyFolder(it->path); // only if nothing else came to live in it
            }
            continue;
        }
        const Area& area = areas.at(it->area);
        const std::string_view name = lastName(it->path);
        if (area.old && exists(*area.old, it->path)) {
            area.old->rename(it->path, holder(it->path), name, kCannotUndo);
        } else if (it->kind == 'F' && !it->existed &&
                   !(area.staged && exists(*area.staged, it->path))) {
            const OpenFolder& folder = holder(it->path);
            if (exists(folder, name)) {
                folder.removeFile(name, kCannotUndo);
            }
        }
    }
}

// Folders the owner may not write in are opened up for the moves; the journal
// holds the modes they had.
void FolderTransaction::openUp(const std::vector<Found>& found) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (found[i].closed) {
            destination_.makeFolderWritable(items_[i].path, kCannotPlace);
        }
    }
}

const OpenFolder& FolderTransaction::held(std::string_view path) {
    const std::string_view parent = parentPath(path);
    if (parent.empty()) {
        return destination_;
    }
    auto found = held_.find(parent);
    if (found == held_.end()) {
        std::optional<OpenFolder> folder = destination_.folder(parent);
        if (!folder) {
            throwSystemError(ENOENT, kCannotPlace, destination_.pathOf(parent));
        }
        found = held_.emplace(std::string(parent), std::move(*folder)).first;
    }
    return found->second;
}

void FolderTransaction::moveAside() {
    std::set<std::pair<std::uint32_t, std::string_view>> oldFolders;
    for (const std::string& extra : extras_) {
        const std::uint32_t a = areaOf(extra);
        if (oldFolders.emplace(a, parentPath(extra)).second) {
            areas_[a].old->makeFolders(parentPath(extra), kCannotPlace);
        }
        held(extra).rename(lastName(extra), *areas_[a].old, extra, kCannotPlace);
    }
}

void FolderTransaction::moveIntoPlace(const std::vector<Found>& found) {
    std::vector<HeldFolder> staged;
    std::vector<HeldFolder> old;
    for (const Area& area : areas_) {
        staged.emplace_back(*area.staged);
        old.emplace_back(*area.old);
    }
    std::set<std::pair<std::uint32_t, std::string_view>> oldFolders;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const std::string_view path = items_[i].path;
        if (items_[i].isFolder()) {
            if (!found[i].existed && !exists(destination_, path)) {
                destination_.makeFolder(path, 0700, kCannotPlace);
            }
            continue;
        }
        const std::uint32_t a = areaOf(path);
        const std::string_view name = lastName(path);
        const OpenFolder& target = held(path);
        if (found[i].existed) {
            if (oldFolders.emplace(a, parentPath(path)).second) {
                areas_[a].old->makeFolders(parentPath(path), kCannotPlace);
            }
            target.rename(name, old[a].requireHolding(path, kCannotPlace), name, kCannotPlace);
        }
        staged[a].requireHolding(path, kCannotPlace).rename(name, target, name, kCannotPlace);
    }
}

// Folders the restore created or opened up get the permissions and times they
// were saved with, deepest first so that setting a parent's time comes last.
void FolderTransaction::finishFolders(const std::vector<Found>& found) const {
    for (std::size_t i = items_.size(); i-- > 0;) {
        if (items_[i].isFolder() && (!found[i].existed || found[i].closed)) {
            destination_.setFolderModeAndTime(items_[i].path, items_[i].mode, items_[i].modified,
                                              kCannotPlace);
        }
    }
}

void FolderTransaction::syncAreas() const {
    for (const Area& area : areas_) {
        area.folder->syncFileSystem();
    }
}

// A folder moved away while its files moved, with something else put in its
// place, would have taken the restored files out of the destination.
void FolderTransaction::requireHeldInPlace() const {
    for (const auto& [path, folder] : held_) {
        const std::optional<OpenFolder> now = destination_.folder(path);
        if (!now || !now->lookUp().sameFile(folder.lookUp())) {
            throw Failure(FailureCode::PathFileAccess,
                          QStringLiteral("Geri yükleme sırasında program klasöründeki bir klasör "
                                         "yerinden oynatıldı ya da yerine başka bir şey kondu; "
                                         "yapılan her şey geri alındı: %1")
                              .arg(fromSystemPath(destination_.pathOf(path))));
        }
    }
}

void FolderTransaction::commit() {
    const std::vector<Found> found = plan();
    syncAreas();
    writeJournal(found);
    try {
        openUp(found);
        moveAside();
        moveIntoPlace(found);
        finishFolders(found);
        requireHeldInPlace();
        syncAreas();
        journal::remove(*areas_.front().folder); // the commit
    } catch (...) {
        try {
            // The folders the files went through, wherever they are now.
            undo(destination_, areas_,
                 [this](std::string_view path) -> const OpenFolder& { return held(path); });
        } catch (...) {
            keepForRecovery_ = true; // the next start puts the old files back
            throw;
        }
        throw;
    }
    // Past the commit nothing is undone: a failure here says only that it may
    // not yet be on disk.
    areas_.front().folder->sync();
}

} // namespace kavlento::fs

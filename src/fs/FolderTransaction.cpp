#include "fs/FolderTransaction.h"

#include "base/Failure.h"
#include "fs/File.h"
#include "fs/RestoreJournal.h"
#include "fs/RestoreRecovery.h"

#include <cerrno>
#include <set>

namespace kavlento::fs {

namespace {

using journal::Move;
using restore::exists;
using restore::kOld;
using restore::kStaged;
using restore::refuse;

const QString kCannotPlace = QStringLiteral("Geri yüklenen dosya yerine konamadı");
const QString kCannotMake = QStringLiteral("Geri yükleme klasörü oluşturulamadı");

} // namespace

// An earlier restore is undone first; what it could not take away, or a
// folder of the working folder's name that is not Kavlento's, refuses this one.
OpenFolder FolderTransaction::openRecovered(const std::string& destination, StepWatch* watch) {
    OpenFolder folder = OpenFolder::open(destination, kCannotMake, watch);
    if (const std::vector<std::string> untrusted = RestoreRecovery::recoverIn(folder);
        !untrusted.empty()) {
        refuse(FailureCode::PathFileAccess,
               QStringLiteral("program klasöründe Kavlento'nun olmayan bir çalışma klasörü var "
                              "(sahibi başka bir kullanıcı ya da başka kullanıcılar ona "
                              "yazabiliyor); Kavlento ona dokunmaz: klasörü kaldırın ya da adını "
                              "değiştirin, gerekirse yöneticinize yaptırın"),
               untrusted.front());
    }
    if (exists(folder, kFolderName) && journal::isOurs(folder, kFolderName)) {
        refuse(FailureCode::PermissionDenied,
               QStringLiteral("önceki bir geri yüklemeden kalan çalışma klasörü silinemedi "
                              "(izinlerini düzeltin ya da yöneticinize sildirin)"),
               folder.pathOf(kFolderName));
    }
    if (exists(folder, kFolderName)) {
        refuse(FailureCode::PathFileAccess,
               QStringLiteral("program klasöründe Kavlento'nun çalışma klasörünün adını taşıyan "
                              "bir klasör var (adını değiştirin ya da içindekileri başka yere "
                              "taşıyın)"),
               folder.pathOf(kFolderName));
    }
    return folder;
}

FolderTransaction::FolderTransaction(const std::string& destination, std::vector<TreeEntry> items,
                                     Kept kept, std::set<std::string, std::less<>> impliedFolders,
                                     StepWatch* watch)
    : destination_(openRecovered(destination, watch)),
      plan_(destination_, std::move(items), std::move(kept), std::move(impliedFolders)),
      areas_(restore::areasOf(plan_.mountFolders())) {}

void FolderTransaction::prepare() {
    makeWorkingFolders();
}

FolderTransaction::~FolderTransaction() {
    if (!keepForRecovery_) {
        restore::removeWorkingFolders(destination_, areas_);
    }
}

void FolderTransaction::makeWorkingFolders() {
    for (std::size_t a = 0; a < areas_.size(); ++a) {
        restore::Area& area = areas_[a];
        if (a > 0) {
            destination_.removeTree(area.root); // ours, as the constructor found
        }
        destination_.makeFolder(area.root, 0700, kCannotMake);
        area.folder = destination_.folder(area.root);
        if (!area.folder) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(area.root));
        }
        if (a == 0) {
            plan_.refuseItemsNamedLikeTheWorkingFolder();
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
        restore::openArea(destination_, area);
        if (!area.staged || !area.old) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(area.root));
        }
    }
    std::set<std::pair<std::uint32_t, std::string_view>> made;
    for (const TreeEntry& item : plan_.items()) {
        const std::uint32_t area = plan_.areaOf(item.path);
        const std::string_view parent = parentPath(item.path);
        if (!item.isFolder() && !parent.empty() && made.emplace(area, parent).second) {
            areas_[area].staged->makeFolders(parent, kCannotPlace);
        }
    }
}

const OpenFolder& FolderTransaction::stagingFolder(std::string_view path) const {
    return *areas_[plan_.areaOf(path)].staged;
}

// The folders to open up with their modes, the paths that go aside, then one
// record per item.
void FolderTransaction::writeJournal(const std::vector<Found>& found,
                                     const std::vector<FolderMode>& changed) const {
    const std::vector<TreeEntry>& items = plan_.items();
    journal::Writer journal(*areas_.front().folder);
    for (const FolderMode& folder : changed) {
        journal.add({Move::Kind::OpenedUp, true, 0, folder.mode, folder.path});
    }
    for (const std::string& extra : plan_.extras()) {
        journal.add({Move::Kind::Extra, true, plan_.areaOf(extra), 0, extra});
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        journal.add({items[i].isFolder() ? Move::Kind::Folder : Move::Kind::File, found[i].existed,
                     plan_.areaOf(items[i].path), 0, std::string(items[i].path)});
    }
    journal.commit();
}

std::vector<FolderTransaction::FolderMode>
FolderTransaction::changedFolders(const std::vector<Found>& found) const {
    const std::vector<TreeEntry>& items = plan_.items();
    std::vector<FolderMode> changed;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].isFolder() && found[i].existed && found[i].owned &&
            (found[i].closed || !plan_.isImplied(items[i].path))) {
            changed.push_back({std::string(items[i].path), found[i].mode, found[i].closed});
        }
    }
    // A folder moves to another folder only where its owner may write in it.
    const auto closed = [&](const std::string& path) {
        const PathInfo info = destination_.lookUp(path);
        if (info.kind == PathKind::Folder && (info.mode & 0300) != 0300 &&
            (info.owner == effectiveUser() || isAdministrator())) {
            changed.push_back({path, info.mode, true});
        }
    };
    for (const std::string& extra : plan_.extras()) {
        closed(extra);
    }
    for (const std::string& folder : plan_.lookedInto()) {
        closed(folder);
    }
    return changed;
}

// Folders the owner may not write in are opened up for the moves; the journal
// holds the modes they had.
void FolderTransaction::openUp(const std::vector<FolderMode>& changed) const {
    for (const FolderMode& folder : changed) {
        if (folder.closed) {
            destination_.makeFolderWritable(folder.path, kCannotPlace);
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
    for (const std::string& extra : plan_.extras()) {
        const std::uint32_t a = plan_.areaOf(extra);
        if (oldFolders.emplace(a, parentPath(extra)).second) {
            areas_[a].old->makeFolders(parentPath(extra), kCannotPlace);
        }
        held(extra).rename(lastName(extra), *areas_[a].old, extra, kCannotPlace);
    }
}

void FolderTransaction::moveIntoPlace(const std::vector<Found>& found) {
    const std::vector<TreeEntry>& items = plan_.items();
    std::vector<HeldFolder> staged;
    std::vector<HeldFolder> old;
    for (const restore::Area& area : areas_) {
        staged.emplace_back(*area.staged);
        old.emplace_back(*area.old);
    }
    std::set<std::pair<std::uint32_t, std::string_view>> oldFolders;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string_view path = items[i].path;
        if (items[i].isFolder()) {
            if (!found[i].existed && !exists(destination_, path)) {
                destination_.makeFolder(path, 0700, kCannotPlace);
            }
            continue;
        }
        const std::uint32_t a = plan_.areaOf(path);
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

// Folders get the permissions and times they were saved with, deepest first
// so that setting a parent's time comes last; a folder the items only imply
// keeps its own, and so does one that stays because of what it holds.
void FolderTransaction::finishFolders(const std::vector<Found>& found,
                                      const std::vector<FolderMode>& changed) const {
    const std::vector<TreeEntry>& items = plan_.items();
    for (const FolderMode& folder : changed) {
        if (folder.closed && plan_.lookedInto().count(folder.path) > 0) {
            destination_.setFolderMode(folder.path, folder.mode, kCannotPlace);
        }
    }
    for (std::size_t i = items.size(); i-- > 0;) {
        if (!items[i].isFolder()) {
            continue;
        }
        if (!found[i].existed || (found[i].owned && !plan_.isImplied(items[i].path))) {
            destination_.setFolderModeAndTime(items[i].path, items[i].mode, items[i].modified,
                                              kCannotPlace);
        } else if (found[i].closed) {
            destination_.setFolderMode(items[i].path, found[i].mode, kCannotPlace);
        }
    }
}

void FolderTransaction::syncAreas() const {
    for (const restore::Area& area : areas_) {
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
    const std::vector<Found> found = plan_.survey();
    const std::vector<FolderMode> changed = changedFolders(found);
    syncAreas();
    writeJournal(found, changed);
    try {
        openUp(changed);
        moveAside();
        moveIntoPlace(found);
        finishFolders(found, changed);
        requireHeldInPlace();
        syncAreas();
        journal::remove(*areas_.front().folder); // the commit
    } catch (...) {
        try {
            // The folders the files went through, wherever they are now.
            RestoreRecovery::undo(
                destination_, areas_,
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

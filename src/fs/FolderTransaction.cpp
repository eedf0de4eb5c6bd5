#include "fs/FolderTransaction.h"

#include "base/Failure.h"
#include "base/Saturating.h"
#include "fs/File.h"

#include <algorithm>
#include <cerrno>
#include <set>

namespace kavlento::fs {

namespace {

const QString kCannotPlace = QStringLiteral("Geri yüklenen dosya yerine konamadı");
const QString kCannotUndo = QStringLiteral("Yarım kalan geri yükleme geri alınamadı");
const QString kCannotMake = QStringLiteral("Geri yükleme klasörü oluşturulamadı");
// Room kept free beyond the restored bytes, for the file system's own needs.
constexpr std::uint64_t kSpareBytes = 16u << 20;
// The list of working folders, and the journal, in the destination's own one.
constexpr const char* kAreaList = "alanlar";
constexpr const char* kJournal = "gunluk";
constexpr const char* kStaged = "yeni";
constexpr const char* kOld = "eski";
constexpr std::string_view kJournalMark = "KJ2";
// kind, existed, working folder (or a folder's mode), path length
constexpr std::size_t kMoveHeader = 10;

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

void putNumber(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

std::uint32_t getNumber(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

// Kind, whether the path existed, a number (the working folder, or the mode of
// a folder opened up), the path's length and bytes.
void putRecord(std::string& out, char kind, bool existed, std::uint32_t number,
               std::string_view path) {
    out.push_back(kind);
    out.push_back(existed ? '1' : '0');
    putNumber(out, number);
    putNumber(out, static_cast<std::uint32_t>(path.size()));
    out += path;
}

std::string readWhole(const OpenFolder& folder, const char* name, const QString& action) {
    const std::string path = folder.pathOf(name);
    std::optional<UniqueFd> fd = folder.openForReading(name);
    if (!fd) {
        throwSystemError(ENOENT, action, path);
    }
    std::string bytes(static_cast<std::size_t>(lookUp(*fd, path).size), '\0');
    readExactly(*fd, 0, bytes.data(), bytes.size(), path);
    return bytes;
}

// A file written through a temporary name in pieces, so that its size in
// memory does not grow with the archive, and put in place durably.
class DurableFile {
public:
    DurableFile(const OpenFolder& folder, const char* name, const QString& action)
        : folder_(folder), name_(name), temp_(name_ + ".yeni"), action_(action),
          fd_(folder.createFile(temp_, 0600)) {}

    std::string& buffer() { return buffer_; }
    void flushIfLarge() {
        if (buffer_.size() >= kPiece) {
            flush();
        }
    }
    void commit() {
        flush();
        syncFile(fd_, folder_.pathOf(temp_));
        fd_.close(folder_.pathOf(temp_));
        folder_.rename(temp_, folder_, name_, action_);
        folder_.sync();
    }

private:
    static constexpr std::size_t kPiece = 64 * 1024;

    void flush() {
        writeAllAt(fd_, written_, buffer_.data(), buffer_.size(), folder_.pathOf(temp_));
        written_ += buffer_.size();
        buffer_.clear();
    }

    const OpenFolder& folder_;
    std::string name_;
    std::string temp_;
    QString action_;
    UniqueFd fd_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

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

FolderTransaction::FolderTransaction(const std::string& destination, std::vector<TreeEntry> items)
    : destination_(OpenFolder::open(destination, kCannotMake)), items_(std::move(items)) {
    recoverIn(destination_);
    plan(); // before anything is made or removed
    planAreas();
    requireRoom();
    makeWorkingFolders();
}

FolderTransaction::~FolderTransaction() {
    if (!keepForRecovery_) {
        for (auto it = areas_.rbegin(); it != areas_.rend(); ++it) {
            destination_.removeTree(it->root);
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

std::uint32_t FolderTransaction::areaOf(std::string_view path) const {
    const auto found = folderArea_.find(parentPath(path));
    return found == folderArea_.end() ? 0 : found->second;
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
            // recover() has removed every working folder it knew of; one still
            // here was left by a restore cut off before its journal while the
            // next start could not reach this file system, and holds nothing to
            // put back.
            destination_.removeTree(area.root);
        }
        for (const std::string& folder :
             {area.root, joinPath(area.root, kStaged), joinPath(area.root, kOld)}) {
            destination_.makeFolder(folder, 0700, kCannotMake);
        }
        openArea(destination_, area);
        if (!area.folder || !area.staged || !area.old) {
            throwSystemError(ENOENT, kCannotMake, destination_.pathOf(area.root));
        }
        if (a == 0) {
            // Listed before they are made, so a crash leaves nothing the next
            // start cannot find.
            DurableFile list(*area.folder, kAreaList, kCannotMake);
            for (std::size_t other = 1; other < areas_.size(); ++other) {
                const std::string& folder = areas_[other].mountFolder;
                putNumber(list.buffer(), static_cast<std::uint32_t>(folder.size()));
                list.buffer() += folder;
            }
            list.commit();
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

std::vector<std::string> FolderTransaction::readAreaList(const OpenFolder& main) {
    std::vector<std::string> folders{std::string()};
    if (!exists(main, kAreaList)) {
        return folders;
    }
    const std::string bytes = readWhole(main, kAreaList, kCannotUndo);
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        const std::uint32_t length = getNumber(bytes, at);
        at += 4;
        if (at + length > bytes.size()) {
            break;
        }
        folders.push_back(bytes.substr(at, length));
        at += length;
    }
    return folders;
}

void FolderTransaction::recover(const std::string& destination) {
    recoverIn(OpenFolder::open(destination, kCannotUndo));
}

void FolderTransaction::recoverIn(const OpenFolder& destination) {
    const PathKind kind = destination.lookUp(kFolderName).kind;
    if (kind == PathKind::Missing) {
        return;
    }
    std::optional<OpenFolder> main = destination.folder(kFolderName);
    if (!main) {
        // A link or a file under the working folder's name is nothing of ours
        // to follow; it goes, as the working folder would.
        destination.removeFile(kFolderName, kCannotUndo);
        return;
    }
    std::vector<Area> areas = areasOf(readAreaList(*main));
    if (exists(*main, kJournal)) {
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
        undo(destination, areas);
    }
    for (auto it = areas.rbegin(); it != areas.rend(); ++it) {
        if (!destination.removeTree(it->root)) {
            throw Failure(FailureCode::PermissionDenied,
                          QStringLiteral("Yarım kalan geri yüklemenin klasörü silinemedi: %1")
                              .arg(fromSystemPath(destination.pathOf(it->root))));
        }
    }
}

std::vector<FolderTransaction::Found> FolderTransaction::plan() const {
    std::vector<Found> found;
    found.reserve(items_.size());
    HeldFolder in(destination_);
    for (const TreeEntry& item : items_) {
        const OpenFolder* folder = in.holding(item.path);
        const PathInfo info = folder ? folder->lookUp(lastName(item.path)) : PathInfo{};
        const bool isFolder = info.kind == PathKind::Folder;
        if (info.kind != PathKind::Missing && isFolder != item.isFolder()) {
            conflict(destination_.pathOf(item.path), item.isFolder());
        }
        found.push_back(
            {info.kind != PathKind::Missing, isFolder && (info.mode & 0300) != 0300, info.mode});
    }
    return found;
}

// A mark, then the folders to open up with their modes, then one record per move.
void FolderTransaction::writeJournal(const std::vector<Found>& found) const {
    DurableFile journal(*areas_.front().folder, kJournal,
                        QStringLiteral("Geri yükleme günlüğü yazılamadı"));
    std::string& bytes = journal.buffer();
    bytes += kJournalMark;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (found[i].closed) {
            putRecord(bytes, 'W', true, found[i].mode, items_[i].path);
        }
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
        putRecord(bytes, items_[i].isFolder() ? 'D' : 'F', found[i].existed, areaOf(items_[i].path),
                  items_[i].path);
        journal.flushIfLarge();
    }
    journal.commit();
}

std::vector<FolderTransaction::Move> FolderTransaction::readJournal(const OpenFolder& main) {
    const std::string bytes =
        readWhole(main, kJournal, QStringLiteral("Geri yükleme günlüğü okunamadı"));
    // Written whole before it is named: a journal without the mark is not ours.
    if (bytes.compare(0, kJournalMark.size(), kJournalMark) != 0) {
        throw Failure(FailureCode::PathFileAccess,
                      QStringLiteral("Geri yükleme günlüğü tanınmıyor, yarım kalan geri yükleme "
                                     "geri alınamadı: %1")
                          .arg(fromSystemPath(main.pathOf(kJournal))));
    }
    std::vector<Move> moves;
    std::size_t at = kJournalMark.size();
    while (at + kMoveHeader <= bytes.size()) {
        Move move;
        move.kind = bytes[at];
        move.existed = bytes[at + 1] == '1';
        const std::uint32_t number = getNumber(bytes, at + 2);
        (move.kind == 'W' ? move.mode : move.area) = number;
        const std::uint32_t length = getNumber(bytes, at + 6);
        at += kMoveHeader;
        if (at + length > bytes.size()) {
            break;
        }
        move.path = bytes.substr(at, length);
        at += length;
        moves.push_back(move);
    }
    return moves;
}

// The journal goes only once everything it put back is on disk.
void FolderTransaction::undo(const OpenFolder& destination, const std::vector<Area>& areas) {
    const OpenFolder& main = *areas.front().folder;
    rollBack(destination, areas, readJournal(main));
    for (const Area& area : areas) {
        area.folder->syncFileSystem();
    }
    main.removeFile(kJournal, kCannotUndo);
    main.sync();
}

void FolderTransaction::rollBack(const OpenFolder& destination, const std::vector<Area>& areas,
                                 const std::vector<Move>& moves) {
    // Folders the restore made may have got their saved, read-only modes
    // already, and those it opened up may have got them back.
    for (const Move& move : moves) {
        if (move.kind == 'W' || (move.kind == 'D' && !move.existed)) {
            destination.makeFolderWritable(move.path, kCannotUndo);
        }
    }
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        if (it->kind == 'W') {
            if (destination.lookUp(it->path).kind == PathKind::Folder) {
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
        if (area.old && exists(*area.old, it->path)) {
            area.old->rename(it->path, destination, it->path, kCannotUndo);
        } else if (!it->existed && !(area.staged && exists(*area.staged, it->path)) &&
                   exists(destination, it->path)) {
            destination.removeFile(it->path, kCannotUndo);
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

void FolderTransaction::moveIntoPlace(const std::vector<Found>& found) {
    HeldFolder into(destination_);
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
        const OpenFolder& target = into.requireHolding(path, kCannotPlace);
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

void FolderTransaction::commit() {
    const std::vector<Found> found = plan();
    syncAreas();
    writeJournal(found);
    try {
        openUp(found);
        moveIntoPlace(found);
        finishFolders(found);
        syncAreas();
        areas_.front().folder->removeFile(kJournal, kCannotPlace);
    } catch (...) {
        try {
            undo(destination_, areas_);
        } catch (...) {
            keepForRecovery_ = true; // the next start puts the old files back
            throw;
        }
        throw;
    }
    areas_.front().folder->sync();
}

} // namespace kavlento::fs

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
constexpr std::string_view kJournalMark = "KJ2";
constexpr std::size_t kMoveHeader = 10; // kind, existed, working folder, path length

bool exists(const std::string& path) {
    return lookUp(path).kind != PathKind::Missing;
}

std::string_view parentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

void makeFolders(const std::string& root, std::string_view relativeFolder) {
    std::string path = root;
    std::size_t start = 0;
    while (start < relativeFolder.size()) {
        const std::size_t end = std::min(relativeFolder.find('/', start), relativeFolder.size());
        path = joinPath(path, relativeFolder.substr(start, end - start));
        if (!exists(path)) {
            makeFolder(path, 0700, kCannotPlace);
        }
        start = end + 1;
    }
}

[[noreturn]] void conflict(const std::string& path) {
    throw Failure(FailureCode::PathFileAccess,
                  QStringLiteral("Geri yükleme yapılamadı: yedekteki bir dosya ile program "
                                 "klasöründeki bir klasör (ya da bağlantı) aynı adı taşıyor; "
                                 "hiçbir dosya değiştirilmedi: %1")
                      .arg(fromSystemPath(path)));
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

std::string readWhole(const std::string& path, const QString& action) {
    std::optional<UniqueFd> fd = openForReading(path);
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
    DurableFile(const std::string& path, const QString& action)
        : path_(path), temp_(path + ".yeni"), action_(action), fd_(createNew(temp_, 0600)) {}

    std::string& buffer() { return buffer_; }
    void flushIfLarge() {
        if (buffer_.size() >= kPiece) {
            flush();
        }
    }
    void commit() {
        flush();
        syncFile(fd_, temp_);
        fd_.close(temp_);
        renamePath(temp_, path_, action_);
        syncFolder(folderOf(path_));
    }

private:
    static constexpr std::size_t kPiece = 64 * 1024;

    void flush() {
        writeAllAt(fd_, written_, buffer_.data(), buffer_.size(), temp_);
        written_ += buffer_.size();
        buffer_.clear();
    }

    std::string path_;
    std::string temp_;
    QString action_;
    UniqueFd fd_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

} // namespace

std::vector<FolderTransaction::Area>
FolderTransaction::areasOf(const std::string& destination,
                           const std::vector<std::string>& mountFolders) {
    std::vector<Area> areas;
    for (const std::string& folder : mountFolders) {
        Area area;
        area.mountFolder = folder;
        area.root =
            joinPath(folder.empty() ? destination : joinPath(destination, folder), kFolderName);
        area.newRoot = joinPath(area.root, "yeni");
        area.oldRoot = joinPath(area.root, "eski");
        areas.push_back(area);
    }
    return areas;
}

FolderTransaction::FolderTransaction(const std::string& destination, std::vector<TreeEntry> items)
    : destination_(destination), items_(std::move(items)),
      journal_(joinPath(joinPath(destination, kFolderName), kJournal)) {
    recover(destination);
    planAreas();
    requireRoom();
    makeWorkingFolders();
}

FolderTransaction::~FolderTransaction() {
    if (!keepForRecovery_) {
        for (auto it = areas_.rbegin(); it != areas_.rend(); ++it) {
            removeTree(it->root);
        }
    }
}

// A folder that exists on another mount than its parent starts an area of its
// own; everything else lands where its parent does.
void FolderTransaction::planAreas() {
    std::vector<std::string> mountFolders{std::string()};
    std::vector<std::uint64_t> mounts{lookUpFollowing(destination_).mount};
    for (const TreeEntry& item : items_) {
        if (!item.isFolder()) {
            continue;
        }
        const std::uint32_t parentArea = areaOf(item.path);
        std::uint32_t area = parentArea;
        const PathInfo info = lookUp(joinPath(destination_, item.path));
        if (info.kind == PathKind::Folder && info.mount != mounts[parentArea]) {
            area = static_cast<std::uint32_t>(mountFolders.size());
            mountFolders.emplace_back(item.path);
            mounts.push_back(info.mount);
        }
        folderArea_.emplace(item.path, area);
    }
    areas_ = areasOf(destination_, mountFolders);
}

std::uint32_t FolderTransaction::areaOf(std::string_view path) const {
    const auto found = folderArea_.find(parentOf(path));
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
        const std::string folder = joinPath(destination_, areas_[a].mountFolder);
        const std::uint64_t available = availableBytes(folder);
        if (needed[a] > available) {
            throw Failure(FailureCode::DiskFull,
                          QStringLiteral("Geri yükleme için diskte yeterli yer yok: %1 MB "
                                         "gerekli, %2 MB boş; hiçbir dosya değiştirilmedi: %3")
                              .arg(needed[a] >> 20)
                              .arg(available >> 20)
                              .arg(fromSystemPath(folder)));
        }
    }
}

void FolderTransaction::makeWorkingFolders() {
    const Area& main = areas_.front();
    for (const std::string& folder : {main.root, main.newRoot, main.oldRoot}) {
        makeFolder(folder, 0700, kCannotMake);
    }
    // Listed before they are made, so a crash leaves nothing the next start
    // cannot find.
    DurableFile list(joinPath(main.root, kAreaList), kCannotMake);
    for (std::size_t a = 1; a < areas_.size(); ++a) {
        putNumber(list.buffer(), static_cast<std::uint32_t>(areas_[a].mountFolder.size()));
        list.buffer() += areas_[a].mountFolder;
    }
    list.commit();
    for (std::size_t a = 1; a < areas_.size(); ++a) {
        // recover() has removed every working folder it knew of; one still here
        // was left by a restore cut off before its journal while the next start
        // could not reach this file system, and holds nothing to put back.
        removeTree(areas_[a].root);
        for (const std::string& folder : {areas_[a].root, areas_[a].newRoot, areas_[a].oldRoot}) {
            makeFolder(folder, 0700, kCannotMake);
        }
    }
    std::set<std::pair<std::uint32_t, std::string_view>> made;
    for (const TreeEntry& item : items_) {
        const std::uint32_t area = areaOf(item.path);
        const std::string_view parent = parentOf(item.path);
        if (!item.isFolder() && !parent.empty() && made.emplace(area, parent).second) {
            makeFolders(areas_[area].newRoot, parent);
        }
    }
}

std::string FolderTransaction::stagingPath(std::string_view path) const {
    return joinPath(areas_[areaOf(path)].newRoot, path);
}

std::vector<std::string> FolderTransaction::readAreaList(const std::string& file) {
    std::vector<std::string> folders{std::string()};
    if (!exists(file)) {
        return folders;
    }
    const std::string bytes = readWhole(file, kCannotUndo);
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
    const std::string root = joinPath(destination, kFolderName);
    if (!exists(root)) {
        return;
    }
    const std::vector<Area> areas = areasOf(destination, readAreaList(joinPath(root, kAreaList)));
    const std::string journal = joinPath(root, kJournal);
    if (exists(journal)) {
        for (const Area& area : areas) {
            if (!exists(area.root)) {
                // Its old files may be on a disk that is not there now.
                throw Failure(FailureCode::PathNotFound,
                              QStringLiteral("Yarım kalan bir geri yükleme geri alınamıyor: "
                                             "çalışma klasörüne ulaşılamıyor (disk takılı "
                                             "değil mi?). Disk takılıyken programı yeniden "
                                             "başlatın: %1")
                                  .arg(fromSystemPath(area.root)));
            }
        }
        undo(destination, areas, journal);
    }
    for (auto it = areas.rbegin(); it != areas.rend(); ++it) {
        if (!removeTree(it->root)) {
            throw Failure(FailureCode::PermissionDenied,
                          QStringLiteral("Yarım kalan geri yüklemenin klasörü silinemedi: %1")
                              .arg(fromSystemPath(it->root)));
        }
    }
}

std::vector<bool> FolderTransaction::plan() const {
    std::vector<bool> existed;
    existed.reserve(items_.size());
    for (const TreeEntry& item : items_) {
        const std::string target = joinPath(destination_, item.path);
        const PathKind kind = lookUp(target).kind;
        const bool isFolder = kind == PathKind::Folder;
        if (kind != PathKind::Missing && isFolder != item.isFolder()) {
            conflict(target);
        }
        existed.push_back(kind != PathKind::Missing);
    }
    return existed;
}

// A mark, then one record per move: kind, whether the path existed, its working
// folder, the path's length and bytes.
void FolderTransaction::writeJournal(const std::vector<bool>& existed) const {
    DurableFile journal(journal_, QStringLiteral("Geri yükleme günlüğü yazılamadı"));
    std::string& bytes = journal.buffer();
    bytes += kJournalMark;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        bytes.push_back(items_[i].isFolder() ? 'D' : 'F');
        bytes.push_back(existed[i] ? '1' : '0');
        putNumber(bytes, areaOf(items_[i].path));
        putNumber(bytes, static_cast<std::uint32_t>(items_[i].path.size()));
        bytes += items_[i].path;
        journal.flushIfLarge();
    }
    journal.commit();
}

std::vector<FolderTransaction::Move> FolderTransaction::readJournal(const std::string& journal) {
    const std::string bytes = readWhole(journal, QStringLiteral("Geri yükleme günlüğü okunamadı"));
    // Written whole before it is named: a journal without the mark is not ours.
    if (bytes.compare(0, kJournalMark.size(), kJournalMark) != 0) {
        throw Failure(FailureCode::PathFileAccess,
                      QStringLiteral("Geri yükleme günlüğü tanınmıyor, yarım kalan geri yükleme "
                                     "geri alınamadı: %1")
                          .arg(fromSystemPath(journal)));
    }
    std::vector<Move> moves;
    std::size_t at = kJournalMark.size();
    while (at + kMoveHeader <= bytes.size()) {
        Move move;
        move.folder = bytes[at] == 'D';
        move.existed = bytes[at + 1] == '1';
        move.area = getNumber(bytes, at + 2);
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
void FolderTransaction::undo(const std::string& destination, const std::vector<Area>& areas,
                             const std::string& journal) {
    rollBack(destination, areas, readJournal(journal));
    for (const Area& area : areas) {
        syncFileSystemOf(area.root);
    }
    removeFile(journal, kCannotUndo);
    syncFolder(folderOf(journal));
}

void FolderTransaction::rollBack(const std::string& destination, const std::vector<Area>& areas,
                                 const std::vector<Move>& moves) {
    // Folders the restore made may have got their saved, read-only modes already.
    for (const Move& move : moves) {
        if (move.folder && !move.existed) {
            makeFolderWritable(joinPath(destination, move.path), kCannotUndo);
        }
    }
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        const std::string target = joinPath(destination, it->path);
        if (it->folder) {
            if (!it->existed) {
                removeEmptyFolder(target); // only if nothing else came to live in it
            }
            continue;
        }
        const Area& area = areas.at(it->area);
        const std::string old = joinPath(area.oldRoot, it->path);
        if (exists(old)) {
            renamePath(old, target, kCannotUndo);
        } else if (!it->existed && !exists(joinPath(area.newRoot, it->path)) && exists(target)) {
            removeFile(target, kCannotUndo);
        }
    }
}

void FolderTransaction::moveIntoPlace(const std::vector<bool>& existed) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const std::string_view path = items_[i].path;
        const std::string target = joinPath(destination_, path);
        if (items_[i].isFolder()) {
            if (!existed[i] && !exists(target)) {
                makeFolder(target, 0700, kCannotPlace);
            }
            continue;
        }
        const Area& area = areas_[areaOf(path)];
        if (existed[i]) {
            makeFolders(area.oldRoot, parentOf(path));
            renamePath(target, joinPath(area.oldRoot, path), kCannotPlace);
        }
        renamePath(joinPath(area.newRoot, path), target, kCannotPlace);
    }
}

// Folders the restore created get the permissions and times they were saved
// with, deepest first so that setting a parent's time comes last.
void FolderTransaction::finishNewFolders(const std::vector<bool>& existed) const {
    for (std::size_t i = items_.size(); i-- > 0;) {
        if (!items_[i].isFolder() || existed[i]) {
            continue;
        }
        setFolderModeAndTime(joinPath(destination_, items_[i].path), items_[i].mode,
                             items_[i].modified, kCannotPlace);
    }
}

void FolderTransaction::syncAreas() const {
    for (const Area& area : areas_) {
        syncFileSystemOf(area.root);
    }
}

void FolderTransaction::commit() {
    const std::vector<bool> existed = plan();
    syncAreas();
    writeJournal(existed);
    try {
        moveIntoPlace(existed);
        finishNewFolders(existed);
        syncAreas();
        removeFile(journal_, kCannotPlace);
    } catch (...) {
        try {
            undo(destination_, areas_, journal_);
        } catch (...) {
            keepForRecovery_ = true; // the next start puts the old files back
            throw;
        }
        throw;
    }
    syncFolder(areas_.front().root);
}

} // namespace kavlento::fs

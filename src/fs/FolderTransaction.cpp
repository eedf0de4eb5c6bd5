#include "fs/FolderTransaction.h"

#include "base/Failure.h"
#include "fs/File.h"

#include <algorithm>
#include <cerrno>

namespace kavlento::fs {

namespace {

const QString kCannotPlace = QStringLiteral("Geri yüklenen dosya yerine konamadı");
const QString kCannotUndo = QStringLiteral("Yarım kalan geri yükleme geri alınamadı");

bool exists(const std::string& path) {
    return lookUp(path).kind != PathKind::Missing;
}

void makeFolders(const std::string& root, const std::string& relativeFolder) {
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

} // namespace

FolderTransaction::FolderTransaction(const std::string& destination)
    : destination_(destination), root_(joinPath(destination, kFolderName)),
      newRoot_(joinPath(root_, "yeni")), oldRoot_(joinPath(root_, "eski")),
      journal_(joinPath(root_, "gunluk")) {
    recover(destination);
    for (const std::string& folder : {root_, newRoot_, oldRoot_}) {
        makeFolder(folder, 0700, QStringLiteral("Geri yükleme klasörü oluşturulamadı"));
    }
}

FolderTransaction::~FolderTransaction() {
    if (!keepForRecovery_) {
        removeTree(root_);
    }
}

void FolderTransaction::recover(const std::string& destination) {
    const std::string root = joinPath(destination, kFolderName);
    if (!exists(root)) {
        return;
    }
    const std::string journal = joinPath(root, "gunluk");
    if (exists(journal)) {
        rollBack(destination, readJournal(journal));
        removeFile(journal, kCannotUndo);
        syncFileSystemOf(destination);
    }
    if (!removeTree(root)) {
        throw Failure(FailureCode::PermissionDenied,
                      QStringLiteral("Yarım kalan geri yüklemenin klasörü silinemedi: %1")
                          .arg(fromSystemPath(root)));
    }
}

std::vector<bool> FolderTransaction::plan(const std::vector<TreeEntry>& items) const {
    std::vector<bool> existed;
    existed.reserve(items.size());
    for (const TreeEntry& item : items) {
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

// One record per move: kind, whether the path existed, the path's length and
// bytes. Written in pieces, so that its size in memory does not grow with the
// archive.
void FolderTransaction::writeJournal(const std::vector<TreeEntry>& items,
                                     const std::vector<bool>& existed) const {
    constexpr std::size_t kPiece = 64 * 1024;
    const std::string temp = journal_ + ".yeni";
    UniqueFd fd = createNew(temp, 0600);
    std::string bytes;
    std::uint64_t written = 0;
    const auto writePiece = [&] {
        writeAllAt(fd.get(), written, bytes.data(), bytes.size(), temp);
        written += bytes.size();
        bytes.clear();
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        bytes.push_back(items[i].isFolder() ? 'D' : 'F');
        bytes.push_back(existed[i] ? '1' : '0');
        putNumber(bytes, static_cast<std::uint32_t>(items[i].path.size()));
        bytes += items[i].path;
        if (bytes.size() >= kPiece) {
            writePiece();
        }
    }
    writePiece();
    syncFile(fd.get(), temp);
    fd.close(temp);
    renamePath(temp, journal_, QStringLiteral("Geri yükleme günlüğü yazılamadı"));
    syncFolder(root_);
}

std::vector<FolderTransaction::Move> FolderTransaction::readJournal(const std::string& journal) {
    std::optional<UniqueFd> fd = openForReading(journal);
    if (!fd) {
        throwSystemError(ENOENT, QStringLiteral("Geri yükleme günlüğü okunamadı"), journal);
    }
    std::string bytes(static_cast<std::size_t>(lookUp(*fd, journal).size), '\0');
    readExactly(fd->get(), 0, bytes.data(), bytes.size(), journal);
    std::vector<Move> moves;
    std::size_t at = 0;
    while (at + 6 <= bytes.size()) {
        Move move;
        move.folder = bytes[at] == 'D';
        move.existed = bytes[at + 1] == '1';
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i) {
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2 + i]))
                      << (8 * i);
        }
        at += 6;
        if (at + length > bytes.size()) {
            break;
        }
        move.path = bytes.substr(at, length);
        at += length;
        moves.push_back(move);
    }
    return moves;
}

void FolderTransaction::rollBack(const std::string& destination, const std::vector<Move>& moves) {
    const std::string root = joinPath(destination, kFolderName);
    const std::string newRoot = joinPath(root, "yeni");
    const std::string oldRoot = joinPath(root, "eski");
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        const std::string target = joinPath(destination, it->path);
        if (it->folder) {
            if (!it->existed) {
                removeEmptyFolder(target); // only if nothing else came to live in it
            }
            continue;
        }
        const std::string old = joinPath(oldRoot, it->path);
        if (exists(old)) {
            renamePath(old, target, kCannotUndo);
        } else if (!it->existed && !exists(joinPath(newRoot, it->path)) && exists(target)) {
            removeFile(target, kCannotUndo);
        }
    }
}

void FolderTransaction::moveIntoPlace(const std::vector<TreeEntry>& items,
                                      const std::vector<bool>& existed) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string path(items[i].path);
        const std::string target = joinPath(destination_, path);
        if (items[i].isFolder()) {
            if (!existed[i] && !exists(target)) {
                makeFolder(target, 0700, kCannotPlace);
            }
            continue;
        }
        if (existed[i]) {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos) {
                makeFolders(oldRoot_, path.substr(0, slash));
            }
            renamePath(target, joinPath(oldRoot_, path), kCannotPlace);
        }
        renamePath(joinPath(newRoot_, path), target, kCannotPlace);
    }
}

// Folders the restore created get the permissions and times they were saved
// with, deepest first so that setting a parent's time comes last.
void FolderTransaction::finishNewFolders(const std::vector<TreeEntry>& items,
                                         const std::vector<bool>& existed) const {
    for (std::size_t i = items.size(); i-- > 0;) {
        if (!items[i].isFolder() || existed[i]) {
            continue;
        }
        setModeAndTime(joinPath(destination_, items[i].path), items[i].mode, items[i].modified,
                       kCannotPlace);
    }
}

void FolderTransaction::commit(const std::vector<TreeEntry>& items) {
    const std::vector<bool> existed = plan(items);
    syncFileSystemOf(newRoot_);
    writeJournal(items, existed);
    try {
        moveIntoPlace(items, existed);
        finishNewFolders(items, existed);
        syncFileSystemOf(destination_);
        removeFile(journal_, kCannotPlace);
    } catch (...) {
        try {
            // The journal says what was planned; the files say how far it got.
            rollBack(destination_, readJournal(journal_));
        } catch (...) {
            keepForRecovery_ = true; // the next start puts the old files back
            throw;
        }
        throw;
    }
    syncFolder(root_);
}

} // namespace kavlento::fs

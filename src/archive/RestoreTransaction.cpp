#include "archive/RestoreTransaction.h"

#include "app/Failure.h"
#include "archive/SystemFile.h"
#include "archive/TemporaryFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavlento::archive {

namespace {

const QString kCannotPlace = QStringLiteral("Geri yüklenen dosya yerine konamadı");

enum class State { Missing, Folder, Other };

State stateOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return State::Missing;
        }
        throwSystemError(kCannotPlace, path);
    }
    return S_ISDIR(st.st_mode) ? State::Folder : State::Other;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void makeFolders(const std::string& root, const std::string& relativeFolder) {
    std::string path = root;
    std::size_t start = 0;
    while (start < relativeFolder.size()) {
        const std::size_t end = std::min(relativeFolder.find('/', start), relativeFolder.size());
        path = joinPath(path, relativeFolder.substr(start, end - start));
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            throwSystemError(kCannotPlace, path);
        }
        start = end + 1;
    }
}

void renameOrThrow(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throwSystemError(kCannotPlace, to);
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

void syncFileSystemOf(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        throwSystemError(QStringLiteral("Diske yazılamadı"), path);
    }
#ifdef __linux__
    if (::syncfs(fd.get()) != 0) {
        throwSystemError(QStringLiteral("Diske yazılamadı"), path);
    }
#else
    ::sync();
#endif
}

RestoreTransaction::RestoreTransaction(const std::string& destination)
    : destination_(destination), root_(joinPath(destination, kFolderName)),
      newRoot_(joinPath(root_, "yeni")), oldRoot_(joinPath(root_, "eski")),
      journal_(joinPath(root_, "gunluk")) {
    recover(destination);
    for (const std::string& folder : {root_, newRoot_, oldRoot_}) {
        if (::mkdir(folder.c_str(), 0700) != 0) {
            throwSystemError(QStringLiteral("Geri yükleme klasörü oluşturulamadı"), folder);
        }
    }
}

RestoreTransaction::~RestoreTransaction() {
    if (!keepForRecovery_) {
        removeTree(root_);
    }
}

void RestoreTransaction::recover(const std::string& destination) {
    const std::string root = joinPath(destination, kFolderName);
    if (!exists(root)) {
        return;
    }
    const std::string journal = joinPath(root, "gunluk");
    if (exists(journal)) {
        rollBack(destination, readJournal(journal));
        if (::unlink(journal.c_str()) != 0) {
            throwSystemError(QStringLiteral("Yarım kalan geri yükleme geri alınamadı"), journal);
        }
        syncFileSystemOf(destination);
    }
    if (!removeTree(root)) {
        throw Failure(FailureCode::PermissionDenied,
                      QStringLiteral("Yarım kalan geri yüklemenin klasörü silinemedi: %1")
                          .arg(fromSystemPath(root)));
    }
}

std::vector<bool> RestoreTransaction::plan(const std::vector<Item>& items) const {
    std::vector<bool> existed;
    existed.reserve(items.size());
    for (const Item& item : items) {
        const std::string target = joinPath(destination_, item.path);
        const State state = stateOf(target);
        if (state == (item.kind == Item::Kind::Folder ? State::Other : State::Folder)) {
            conflict(target);
        }
        existed.push_back(state != State::Missing);
    }
    return existed;
}

// One record per move: kind, whether the path existed, the path's length and
// bytes. Written in pieces, so that its size in memory does not grow with the
// archive.
void RestoreTransaction::writeJournal(const std::vector<Item>& items,
                                      const std::vector<bool>& existed) const {
    constexpr std::size_t kPiece = 64 * 1024;
    const std::string temp = journal_ + ".yeni";
    UniqueFd fd(::open(temp.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        throwSystemError(QStringLiteral("Geri yükleme günlüğü yazılamadı"), temp);
    }
    std::string bytes;
    std::uint64_t written = 0;
    const auto writePiece = [&] {
        writeAllAt(fd.get(), written, bytes.data(), bytes.size(), temp);
        written += bytes.size();
        bytes.clear();
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        bytes.push_back(items[i].kind == Item::Kind::Folder ? 'D' : 'F');
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
    renameOrThrow(temp, journal_);
    syncFolder(root_);
}

std::vector<RestoreTransaction::Move> RestoreTransaction::readJournal(const std::string& journal) {
    UniqueFd fd(::open(journal.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        throwSystemError(QStringLiteral("Geri yükleme günlüğü okunamadı"), journal);
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    readExactly(fd.get(), 0, bytes.data(), bytes.size(), journal);
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

void RestoreTransaction::rollBack(const std::string& destination, const std::vector<Move>& moves) {
    const std::string root = joinPath(destination, kFolderName);
    const std::string newRoot = joinPath(root, "yeni");
    const std::string oldRoot = joinPath(root, "eski");
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        const std::string target = joinPath(destination, it->path);
        if (it->folder) {
            if (!it->existed) {
                ::rmdir(target.c_str()); // only if nothing else came to live in it
            }
            continue;
        }
        const std::string old = joinPath(oldRoot, it->path);
        if (exists(old)) {
            renameOrThrow(old, target);
        } else if (!it->existed && !exists(joinPath(newRoot, it->path)) && exists(target)) {
            if (::unlink(target.c_str()) != 0) {
                throwSystemError(QStringLiteral("Yarım kalan geri yükleme geri alınamadı"), target);
            }
        }
    }
}

void RestoreTransaction::moveIntoPlace(const std::vector<Item>& items,
                                       const std::vector<bool>& existed) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string path(items[i].path);
        const std::string target = joinPath(destination_, path);
        if (items[i].kind == Item::Kind::Folder) {
            if (!existed[i] && ::mkdir(target.c_str(), 0700) != 0 && errno != EEXIST) {
                throwSystemError(kCannotPlace, target);
            }
            continue;
        }
        if (existed[i]) {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos) {
                makeFolders(oldRoot_, path.substr(0, slash));
            }
            renameOrThrow(target, joinPath(oldRoot_, path));
        }
        renameOrThrow(joinPath(newRoot_, path), target);
    }
}

// Folders the restore created get the permissions and times they were saved
// with, deepest first so that setting a parent's time comes last.
void RestoreTransaction::finishNewFolders(const std::vector<Item>& items,
                                          const std::vector<bool>& existed) const {
    for (std::size_t i = items.size(); i-- > 0;) {
        if (items[i].kind != Item::Kind::Folder || existed[i]) {
            continue;
        }
        const std::string target = joinPath(destination_, items[i].path);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {items[i].modified, 0}};
        if (::chmod(target.c_str(), items[i].permissions) != 0 ||
            ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            throwSystemError(kCannotPlace, target);
        }
    }
}

void RestoreTransaction::commit(const std::vector<Item>& items) {
    const std::vector<bool> existed = plan(items);
    syncFileSystemOf(newRoot_);
    writeJournal(items, existed);
    try {
        moveIntoPlace(items, existed);
        finishNewFolders(items, existed);
        syncFileSystemOf(destination_);
        if (::unlink(journal_.c_str()) != 0) {
            throwSystemError(kCannotPlace, journal_);
        }
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

} // namespace kavlento::archive

#include "fs/OpenFolder.h"

#include "base/Failure.h"
#include "fs/Descriptor_posix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace kavlento::fs {

namespace {

const QString kCannotOpen = QStringLiteral("Klasör açılamadı");
// A folder on the way: only looked through, so one the user may search but not
// read is passed all the same.
constexpr int kPassFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool absentOnTheWay(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// A name that would lead up and out, which no path of a tree holds.
bool leadsUp(std::string_view name) {
    return name == "..";
}

std::string nameAt(std::string_view relative, std::size_t start, std::size_t end) {
    return std::string(relative.substr(start, end - start));
}

// The system walks the path itself, refusing every link on it, in one call;
// -1 with errno set, or -2 when it cannot (an older kernel, a long path).
int openInOneCall(int root, std::string_view relative, int flags) {
    static std::atomic<bool> unavailable{false};
    if (unavailable || relative.size() >= PATH_MAX) {
        return -2;
    }
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const std::string path(relative);
    const long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    if (fd >= 0 || absentOnTheWay(errno) || errno == EXDEV) {
        return static_cast<int>(fd);
    }
    if (errno == ENOSYS || errno == EPERM) {
        unavailable = true;
    }
    return -2; // the walk below gives the answer, and the failure's reason
}

// The folder at `relative` below `root`, opened one name at a time.
std::optional<UniqueFd> openBelow(int root, std::string_view relative, int flags,
                                  const std::string& rootPath) {
    const int direct = openInOneCall(root, relative.empty() ? "." : relative, flags);
    if (direct >= 0) {
        return Descriptor::adopt(direct);
    }
    if (direct == -1) {
        return std::nullopt;
    }
    UniqueFd current;
    int at = root;
    for (std::size_t start = 0; start <= relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const bool last = end == relative.size();
        const std::string name = relative.empty() ? "." : nameAt(relative, start, end);
        if (leadsUp(name)) {
            return std::nullopt;
        }
        current = Descriptor::adopt(::openat(
            at, name.c_str(), last ? flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC : kPassFlags));
        if (!current.valid()) {
            if (absentOnTheWay(errno)) {
                return std::nullopt;
            }
            throwSystemError(kCannotOpen, joinPath(rootPath, relative.substr(0, end)));
        }
        at = Descriptor::of(current);
        start = end + 1;
    }
    return current;
}

std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    UniqueFd copy = Descriptor::adopt(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    DIR* dir = copy.valid() ? ::fdopendir(Descriptor::of(copy)) : nullptr;
    if (dir == nullptr) {
        return names;
    }
    Descriptor::release(copy); // the stream owns it now
    ::rewinddir(dir);
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

// Removes `name` in `parent` and all below it, never following a link; false
// if something stayed.
bool removeIn(int parent, const std::string& name) {
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(info.st_mode)) {
        return ::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT;
    }
    // Folders restored read-only must become writable before their contents can go.
    if ((info.st_mode & 0700) != 0700) {
        ::fchmodat(parent, name.c_str(), (info.st_mode & 07777) | 0700, AT_SYMLINK_NOFOLLOW);
    }
    const UniqueFd folder = Descriptor::adopt(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    bool removed = folder.valid();
    if (removed) {
        for (const std::string& inner : namesIn(Descriptor::of(folder))) {
            removed = removeIn(Descriptor::of(folder), inner) && removed;
        }
    }
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 && removed;
}

struct timespec toTimespec(Timestamp t) {
    return {static_cast<time_t>(t.seconds), static_cast<long>(t.nanoseconds)};
}

} // namespace

bool removeTree(const std::string& path) {
    const UniqueFd parent =
        Descriptor::adopt(::open(folderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return parent.valid() && removeIn(Descriptor::of(parent), path.substr(path.rfind('/') + 1));
}

OpenFolder OpenFolder::open(const std::string& path, const QString& action, StepWatch* watch) {
    UniqueFd fd = Descriptor::adopt(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throwSystemError(action, path);
    }
    return OpenFolder(std::move(fd), path, watch);
}

std::optional<OpenFolder> OpenFolder::folder(std::string_view relative) const {
    std::optional<UniqueFd> fd = openBelow(Descriptor::of(fd_), relative, O_PATH, path_);
    if (!fd) {
        return std::nullopt;
    }
    return OpenFolder(std::move(*fd), pathOf(relative), watch_);
}

std::optional<OpenFolder::Parent> OpenFolder::parentOf(std::string_view relative) const {
    const std::size_t slash = relative.rfind('/');
    if (leadsUp(relative.substr(slash + 1))) {
        return std::nullopt;
    }
    if (slash == std::string_view::npos) {
        return Parent{UniqueFd(), &fd_, relative};
    }
    std::optional<UniqueFd> fd =
        openBelow(Descriptor::of(fd_), relative.substr(0, slash), O_PATH, path_);
    if (!fd) {
        return std::nullopt;
    }
    return Parent{std::move(*fd), nullptr, relative.substr(slash + 1)};
}

namespace {

QString folded(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded();
}

// Whether the names of `folder` are not told apart by letter case: a name of
// it with letters, spelled in the other case, leads to an entry that the
// folder does not list. (Some file systems give one file a new inode number
// for each spelling, so the spellings' entries are not compared.)
bool foldsCase(const OpenFolder& folder, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::string other = name;
        for (char& c : other) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            } else if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        if (other != name) {
            return std::find(names.begin(), names.end(), other) == names.end() &&
                   folder.lookUp(other).kind != PathKind::Missing;
        }
    }
    return false;
}

} // namespace

bool OpenFolder::sameName(std::string_view relative, std::string_view a, std::string_view b) const {
    if (a == b) {
        return true;
    }
    if (folded(a) != folded(b)) {
        return false;
    }
    const std::optional<OpenFolder> in = folder(relative);
    return in && foldsCase(*in, in->names(kCannotOpen));
}

namespace {

// Whether the flags of the open file or folder forbid every change to it,
// to root too; a file system without such flags has none.
bool hasFixedFlags(const UniqueFd& fd) {
    int flags = 0;
    return fd.valid() && ::ioctl(Descriptor::of(fd), FS_IOC_GETFLAGS, &flags) == 0 &&
           (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

} // namespace

bool OpenFolder::isFixed(std::string_view relative) const {
    const std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        return false;
    }
    return hasFixedFlags(Descriptor::adopt(
        ::openat(Descriptor::of(parent->folder()), std::string(parent->name).c_str(),
                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)));
}

bool OpenFolder::canChange(std::string_view relative) const {
    const std::optional<OpenFolder> in = folder(relative);
    if (!in) {
        return false;
    }
    if (hasFixedFlags(Descriptor::adopt(
            ::openat(Descriptor::of(in->fd_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)))) {
        return false;
    }
    const PathInfo info = in->lookUp();
    return info.owner == effectiveUser() || isAdministrator() ||
           ::faccessat(Descriptor::of(in->fd_), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

std::vector<std::string> OpenFolder::names(const QString& action) const {
    UniqueFd copy = reopen(action);
    DIR* dir = ::fdopendir(Descriptor::of(copy));
    if (dir == nullptr) {
        throwSystemError(action, path_);
    }
    Descriptor::release(copy); // the stream owns it now
    return namesIn(dir, action, path_);
}

std::optional<std::string> OpenFolder::readLink(std::string_view relative,
                                                const QString& action) const {
    const std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        return std::nullopt;
    }
    const std::string name(parent->name);
    std::string target(256, '\0');
    while (true) {
        const ssize_t n = ::readlinkat(Descriptor::of(parent->folder()), name.c_str(),
                                       target.data(), target.size());
        if (n < 0) {
            if (absentOnTheWay(errno) || errno == EINVAL) {
                return std::nullopt; // gone, or no longer a link
            }
            throwSystemError(action, pathOf(relative));
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

PathInfo OpenFolder::lookUp(std::string_view relative) const {
    if (relative.empty()) {
        return fs::lookUp(fd_, path_);
    }
    const std::optional<Parent> parent = parentOf(relative);
    return parent ? lookUpIn(Descriptor::of(parent->folder()), std::string(parent->name),
                             pathOf(relative))
                  : PathInfo{};
}

UniqueFd OpenFolder::createFile(std::string_view relative, std::uint32_t mode) const {
    const QString action = QStringLiteral("Dosya oluşturulamadı");
    tell(Step::NewFile, relative);
    const Parent parent = requireParent(relative, action);
    UniqueFd fd = Descriptor::adopt(
        ::openat(Descriptor::of(parent.folder()), std::string(parent.name).c_str(),
                 O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode)));
    if (!fd.valid()) {
        throwSystemError(action, pathOf(relative));
    }
    return fd;
}

std::optional<UniqueFd> OpenFolder::openForReading(std::string_view relative) const {
    const std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        return std::nullopt;
    }
    UniqueFd fd = Descriptor::adopt(::openat(Descriptor::of(parent->folder()),
                                             std::string(parent->name).c_str(),
                                             O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!fd.valid()) {
        if (absentOnTheWay(errno)) {
            return std::nullopt;
        }
        throwSystemError(QStringLiteral("Dosya okunamadı"), pathOf(relative));
    }
    return fd;
}

void OpenFolder::makeFolder(std::string_view relative, std::uint32_t mode,
                            const QString& action) const {
    tell(Step::MakeFolder, relative);
    const Parent parent = requireParent(relative, action);
    if (::mkdirat(Descriptor::of(parent.folder()), std::string(parent.name).c_str(),
                  static_cast<mode_t>(mode)) != 0) {
        throwSystemError(action, pathOf(relative));
    }
}

OpenFolder OpenFolder::ownFolder(const std::string& name, std::uint32_t mode,
                                 const QString& action) const {
    const int at = Descriptor::of(fd_);
    const bool made = ::mkdirat(at, name.c_str(), static_cast<mode_t>(mode)) == 0;
    if (!made && errno != EEXIST) {
        throwSystemError(action, pathOf(name));
    }
    UniqueFd fd = Descriptor::adopt(
        ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        // A link or a file where the folder goes is nothing to write through.
        throwSystemError(errno == ENOTDIR ? EEXIST : errno, action, pathOf(name));
    }
    const PathInfo info = fs::lookUp(fd, pathOf(name));
    const bool mine = made || info.owner == effectiveUser();
    // The administrator's folders are taken as they are: only root makes one,
    // and FAT and exFAT show every folder as the administrator's. Whoever owns
    // the folder it lies in could replace it anyway.
    const bool trusted =
        info.owner == 0 || (info.owner == lookUp().owner && (info.mode & 022) == 0);
    if (!mine && !trusted) {
        throw Failure(FailureCode::PathFileAccess,
                      QStringLiteral("%1: bu klasör başka bir kullanıcının ya da başka "
                                     "kullanıcılar ona yazabiliyor; oraya yazılan bir yedeği "
                                     "başkası değiştirebilirdi. Klasörü silin ya da adını "
                                     "değiştirin, sonra yeniden deneyin: %2")
                          .arg(action, fromSystemPath(pathOf(name))));
    }
    if (mine && (info.mode & 022) != 0 &&
        ::fchmod(Descriptor::of(fd), static_cast<mode_t>(info.mode & ~022u)) != 0 &&
        errno != EPERM && errno != ENOTSUP && errno != ENOSYS) {
        throwSystemError(action, pathOf(name));
    }
    return OpenFolder(std::move(fd), pathOf(name), watch_);
}

void OpenFolder::makeFolders(std::string_view relative, const QString& action) const {
    UniqueFd current;
    int at = Descriptor::of(fd_);
    for (std::size_t start = 0; start < relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string name = nameAt(relative, start, end);
        if (::mkdirat(at, name.c_str(), 0700) != 0 && errno != EEXIST) {
            throwSystemError(action, pathOf(relative.substr(0, end)));
        }
        current = Descriptor::adopt(::openat(at, name.c_str(), kPassFlags));
        if (!current.valid()) {
            throwSystemError(action, pathOf(relative.substr(0, end)));
        }
        at = Descriptor::of(current);
        start = end + 1;
    }
}

// A link that cannot be made here after all still fails cleanly, and the
// restore is rolled back.
bool OpenFolder::canMakeLinks() const {
    return true;
}

void OpenFolder::makeLink(const std::string& target, std::string_view relative,
                          const QString& action) const {
    tell(Step::NewFile, relative);
    const Parent parent = requireParent(relative, action);
    if (::symlinkat(target.c_str(), Descriptor::of(parent.folder()),
                    std::string(parent.name).c_str()) != 0) {
        throwSystemError(action, pathOf(relative));
    }
}

void OpenFolder::setLinkTime(std::string_view relative, Timestamp modified,
                             const QString& action) const {
    const Parent parent = requireParent(relative, action);
    const struct timespec times[2] = {{0, UTIME_OMIT}, toTimespec(modified)};
    if (::utimensat(Descriptor::of(parent.folder()), std::string(parent.name).c_str(), times,
                    AT_SYMLINK_NOFOLLOW) != 0) {
        throwSystemError(action, pathOf(relative));
    }
}

void OpenFolder::changeFolder(std::string_view relative, std::uint32_t mode,
                              std::optional<Timestamp> modified, const QString& action) const {
    const Parent parent = requireParent(relative, action);
    const std::string name(parent.name);
    if (lookUpIn(Descriptor::of(parent.folder()), name, pathOf(relative)).kind !=
        PathKind::Folder) {
        throwSystemError(ENOTDIR, action, pathOf(relative));
    }
    tell(Step::ModeChange, relative);
    if (::fchmodat(Descriptor::of(parent.folder()), name.c_str(), static_cast<mode_t>(mode),
                   AT_SYMLINK_NOFOLLOW) != 0) {
        throwSystemError(action, pathOf(relative));
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, toTimespec(modified.value_or(Timestamp{}))};
    if (modified && ::utimensat(Descriptor::of(parent.folder()), name.c_str(), times,
                                AT_SYMLINK_NOFOLLOW) != 0) {
        throwSystemError(action, pathOf(relative));
    }
}

void OpenFolder::makeFolderWritable(std::string_view relative, const QString& action) const {
    const PathInfo info = lookUp(relative);
    if (info.kind == PathKind::Folder && (info.mode & 0700) != 0700) {
        setFolderMode(relative, info.mode | 0700, action);
    }
}

void OpenFolder::rename(std::string_view from, const OpenFolder& into, std::string_view to,
                        const QString& action) const {
    tell(Step::Rename, from, &into, to);
    const Parent source = requireParent(from, action);
    const Parent target = into.requireParent(to, action);
    if (::renameat(Descriptor::of(source.folder()), std::string(source.name).c_str(),
                   Descriptor::of(target.folder()), std::string(target.name).c_str()) != 0) {
        throwSystemError(action, into.pathOf(to));
    }
}

void OpenFolder::removeFile(std::string_view relative, const QString& action) const {
    tell(Step::Removal, relative);
    const Parent parent = requireParent(relative, action);
    if (::unlinkat(Descriptor::of(parent.folder()), std::string(parent.name).c_str(), 0) != 0) {
        throwSystemError(action, pathOf(relative));
    }
}

bool OpenFolder::removeEmptyFolder(std::string_view relative) const {
    tell(Step::Removal, relative);
    const std::optional<Parent> parent = parentOf(relative);
    return parent && ::unlinkat(Descriptor::of(parent->folder()), std::string(parent->name).c_str(),
                                AT_REMOVEDIR) == 0;
}

bool OpenFolder::removeTree(std::string_view relative) const {
    tell(Step::RemovalOfTree, relative);
    const std::optional<Parent> parent = parentOf(relative);
    return !parent || removeIn(Descriptor::of(parent->folder()), std::string(parent->name));
}

UniqueFd OpenFolder::reopen(const QString& action) const {
    UniqueFd fd =
        Descriptor::adopt(::openat(Descriptor::of(fd_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throwSystemError(action, path_);
    }
    return fd;
}

void OpenFolder::sync() const {
    const QString action = QStringLiteral("Klasör diske yazılamadı");
    tell(Step::Sync, {});
    // Some file systems cannot sync a folder (FAT and exFAT through FUSE among
    // them); renames there are as durable as they allow.
    if (::fsync(Descriptor::of(reopen(action))) != 0 && errno != EINVAL && errno != ENOSYS &&
        errno != ENOTSUP) {
        throwSystemError(action, path_);
    }
}

void OpenFolder::syncFileSystem() const {
    const QString action = QStringLiteral("Diske yazılamadı");
    tell(Step::SyncFileSystem, {});
    if (::syncfs(Descriptor::of(reopen(action))) != 0) {
        throwSystemError(action, path_);
    }
}

std::optional<std::uint64_t> OpenFolder::availableBytes() const {
    struct statvfs info {};
    if (::fstatvfs(Descriptor::of(fd_), &info) != 0) {
        throwSystemError(QStringLiteral("Disk bilgisi okunamadı"), path_);
    }
    if (info.f_blocks == 0) {
        return std::nullopt;
    }
    const fsblkcnt_t blocks = isAdministrator() ? info.f_bfree : info.f_bavail;
    return static_cast<std::uint64_t>(blocks) * info.f_frsize;
}

std::uint32_t OpenFolder::groupOfNewFiles() const {
    const PathInfo info = lookUp();
    return (info.mode & S_ISGID) != 0 ? info.group : static_cast<std::uint32_t>(::getegid());
}

} // namespace kavlento::fs

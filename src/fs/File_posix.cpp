#include "fs/File.h"

#include "base/Failure.h"
#include "fs/Descriptor_posix.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kavlento::fs {

namespace {

PathKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return PathKind::File;
    }
    if (S_ISDIR(mode)) {
        return PathKind::Folder;
    }
    if (S_ISLNK(mode)) {
        return PathKind::Link;
    }
    return PathKind::Other;
}

const QString kCannotRead = QStringLiteral("Dosya okunamadı");

struct timespec toTimespec(Timestamp t) {
    return {static_cast<time_t>(t.seconds), static_cast<long>(t.nanoseconds)};
}

// Whether the file system that holds `file` has no room left. Some (FAT through
// FUSE) count no blocks, say only how many clusters are free, and refuse a
// write into an open file as "not permitted" when none is.
bool isFull(int file) {
    struct statvfs info {};
    if (::fstatvfs(file, &info) != 0) {
        return false;
    }
    constexpr std::uint64_t kLeastRoom = 64 * 1024;
    if (info.f_blocks > 0) {
        return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize < kLeastRoom;
    }
    return info.f_files > 0 && info.f_favail == 0;
}

// statx, for the mount a path lies on: two mounts of one file system (a bind
// mount) share a device number, and a rename between them fails all the same.
std::optional<PathInfo> lookUpAt(int folder, const char* path, int flags,
                                 const std::string& pathForErrors) {
    struct statx st {};
    if (::statx(folder, path, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_MNT_ID,
                &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throwSystemError(kCannotRead, pathForErrors);
    }
    PathInfo info;
    info.kind = kindOf(st.stx_mode);
    info.size = st.stx_size;
    info.modified = {st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec};
    info.changed = {st.stx_ctime.tv_sec, st.stx_ctime.tv_nsec};
    info.mode = st.stx_mode & 07777;
    info.owner = st.stx_uid;
    info.group = st.stx_gid;
    info.links = st.stx_nlink;
    info.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    info.inode = st.stx_ino;
    info.mount = (st.stx_mask & STATX_MNT_ID) != 0 ? st.stx_mnt_id : info.device;
    return info;
}

} // namespace

std::string toSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromSystemPath(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::close(const std::string& pathForErrors) {
    const int fd = release();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        throwSystemError(QStringLiteral("Dosya kapatılamadı"), pathForErrors);
    }
}

PathInfo lookUp(const std::string& path) {
    return lookUpAt(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, path).value_or(PathInfo{});
}

PathInfo lookUpFollowing(const std::string& path) {
    return lookUpAt(AT_FDCWD, path.c_str(), 0, path).value_or(PathInfo{});
}

PathInfo lookUp(const UniqueFd& file, const std::string& pathForErrors) {
    return *lookUpAt(Descriptor::of(file), "", AT_EMPTY_PATH, pathForErrors);
}

PathInfo lookUpIn(int folder, const std::string& name, const std::string& pathForErrors) {
    return lookUpAt(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, pathForErrors).value_or(PathInfo{});
}

std::optional<UniqueFd> openForReading(const std::string& path, AtALink link) {
    // Not blocking: a pipe put in a file's place must not stop the program.
    const int noFollow = link == AtALink::Refuse ? O_NOFOLLOW : 0;
    UniqueFd fd =
        Descriptor::adopt(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
    if (!fd.valid()) {
        // Gone, or a link (refused) or a file in a folder's place came there.
        if (errno == ENOENT || errno == ENOTDIR || (errno == ELOOP && noFollow != 0)) {
            return std::nullopt;
        }
        throwSystemError(kCannotRead, path);
    }
    return fd;
}

UniqueFd createNew(const std::string& path, std::uint32_t mode) {
    UniqueFd fd =
        Descriptor::adopt(::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW,
                                 static_cast<mode_t>(mode)));
    if (!fd.valid()) {
        throwSystemError(QStringLiteral("Dosya oluşturulamadı"), path);
    }
    return fd;
}

UniqueFd duplicate(const UniqueFd& file, const std::string& pathForErrors) {
    UniqueFd copy = Descriptor::adopt(::fcntl(Descriptor::of(file), F_DUPFD_CLOEXEC, 0));
    if (!copy.valid()) {
        throwSystemError(kCannotRead, pathForErrors);
    }
    return copy;
}

UniqueFd openForUpdate(const std::string& path) {
    const QString action = QStringLiteral("Dosya yazılamadı");
    // Not blocking: a pipe in the file's place is refused, not waited on.
    constexpr int kFlags = O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    UniqueFd fd = Descriptor::adopt(::open(path.c_str(), kFlags, 0644));
    if (!fd.valid() && errno == ELOOP) {
        removeFile(path, action);
        fd = Descriptor::adopt(::open(path.c_str(), kFlags | O_EXCL, 0644));
    }
    if (!fd.valid()) {
        throwSystemError(action, path);
    }
    if (lookUp(fd, path).kind != PathKind::File) {
        throwSystemError(EINVAL, action, path);
    }
    return fd;
}

std::size_t readAt(const UniqueFd& file, std::uint64_t offset, void* buffer, std::size_t size,
                   const std::string& path) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(Descriptor::of(file), out + done, size - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwSystemError(kCannotRead, path);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void writeAllAt(const UniqueFd& file, std::uint64_t offset, const void* buffer, std::size_t size,
                const std::string& path) {
    const auto* in = static_cast<const char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pwrite(Descriptor::of(file), in, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno == EPERM && isFull(Descriptor::of(file)) ? ENOSPC : errno;
            throwSystemError(error, QStringLiteral("Dosya yazılamadı"), path);
        }
        in += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

void truncateTo(const UniqueFd& file, std::uint64_t size, const std::string& path) {
    // A file of that size is left alone: FAT through FUSE refuses any truncate
    // that does not shrink.
    struct stat info {};
    if (::fstat(Descriptor::of(file), &info) == 0 &&
        static_cast<std::uint64_t>(info.st_size) == size) {
        return;
    }
    if (::ftruncate(Descriptor::of(file), static_cast<off_t>(size)) != 0) {
        throwSystemError(QStringLiteral("Dosya yazılamadı"), path);
    }
}

void syncFile(const UniqueFd& file, const std::string& path) {
    if (::fsync(Descriptor::of(file)) != 0) {
        throwSystemError(QStringLiteral("Dosya diske yazılamadı"), path);
    }
}

void startWriting(const UniqueFd& file, std::uint64_t offset, std::uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(Descriptor::of(file), static_cast<off_t>(offset), static_cast<off_t>(size),
                      SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
    (void)offset;
    (void)size;
#endif
}

void dropCachedPages(const UniqueFd& file) {
    ::posix_fadvise(Descriptor::of(file), 0, 0, POSIX_FADV_DONTNEED);
}

void syncFolder(const std::string& folder) {
    UniqueFd fd = Descriptor::adopt(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throwSystemError(QStringLiteral("Klasör açılamadı"), folder);
    }
    syncFolder(fd, folder);
}

void syncFolder(const UniqueFd& folder, const std::string& path) {
    // Some file systems cannot sync a folder (FAT and exFAT through FUSE among
    // them); renames there are as durable as they allow.
    if (::fsync(Descriptor::of(folder)) != 0 && errno != EINVAL && errno != ENOSYS &&
        errno != ENOTSUP) {
        throwSystemError(QStringLiteral("Klasör diske yazılamadı"), path);
    }
}

std::optional<std::string> resolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

void makeFolder(const std::string& path, std::uint32_t mode, const QString& action) {
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) {
        throwSystemError(action, path);
    }
}

void makeFolderUnlessPresent(const std::string& path, std::uint32_t mode, const QString& action) {
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) {
        return;
    }
    if (errno != EEXIST) {
        throwSystemError(action, path);
    }
    const PathKind present = lookUp(path).kind;
    if (present != PathKind::Folder) {
        throwSystemError(present == PathKind::Link ? ELOOP : EEXIST, action, path);
    }
}

std::vector<std::string> namesIn(DIR* dir, const QString& action,
                                 const std::string& pathForErrors) {
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        throwSystemError(error, action, pathForErrors);
    }
    return names;
}

std::vector<std::string> listFolder(const std::string& path, const QString& action) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        throwSystemError(action, path);
    }
    return namesIn(dir, action, path);
}

void renamePath(const std::string& from, const std::string& to, const QString& action) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throwSystemError(action, to);
    }
}

void removeFile(const std::string& path, const QString& action) {
    if (::unlink(path.c_str()) != 0) {
        throwSystemError(action, path);
    }
}

std::optional<std::string> readLinkTarget(const std::string& path, const QString& action) {
    std::string target(PATH_MAX, '\0');
    while (true) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            if (errno == ENOENT || errno == EINVAL) {
                return std::nullopt; // gone, or no longer a link
            }
            throwSystemError(action, path);
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

void setModeAndTime(const UniqueFd& file, std::uint32_t mode, Timestamp modified,
                    const std::string& pathForErrors, const QString& action) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, toTimespec(modified)};
    if (::fchmod(Descriptor::of(file), static_cast<mode_t>(mode)) != 0 ||
        ::futimens(Descriptor::of(file), times) != 0) {
        throwSystemError(action, pathForErrors);
    }
}

std::string executableFolder() {
    const std::optional<std::string> executable =
        readLinkTarget("/proc/self/exe", QStringLiteral("Programın yeri okunamadı"));
    if (!executable) {
        throwSystemError(ENOENT, QStringLiteral("Programın yeri okunamadı"), "/proc/self/exe");
    }
    return folderOf(*executable);
}

std::string hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

std::string machineIdentity() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        const QByteArray id = file.open(QIODevice::ReadOnly) ? file.read(256).trimmed() : "";
        if (!id.isEmpty()) {
            return QCryptographicHash::hash("kavlento-yedek:" + id, QCryptographicHash::Sha256)
                .toHex()
                .left(32)
                .toStdString();
        }
    }
    return std::string();
}

std::uint32_t effectiveUser() {
    return ::geteuid();
}

bool isAdministrator() {
    return effectiveUser() == 0;
}

int creationRefusal(const std::string& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int readingRefusal(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0 ? 0 : errno;
}

} // namespace kavlento::fs

#include "fs/NewFile.h"

#include "base/Failure.h"
#include "fs/Descriptor_posix.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kavlento::fs {

namespace {

const QString& kCannotCreate = kCannotCreateNewFile;

} // namespace

// Nobody holds the lock its writer takes for as long as it lives. A process
// number would not do: after a restart another process has it.
bool isAbandoned(const OpenFolder& folder, const std::string& name) {
    const std::optional<UniqueFd> file = folder.openForReading(name);
    if (!file) {
        return false;
    }
    const int fd = Descriptor::of(*file);
    int taken = 0;
    while ((taken = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return taken == 0;
}

NewFile::NewFile(const OpenFolder& folder, const std::string& fileName, std::uint32_t mode,
                 const std::string& writer)
    : folderPath_(folder.pathOf({})), folder_(folder.reopen(kCannotCreate)),
      pathForErrors_(folder.pathOf(fileName)) {
    const int at = Descriptor::of(folder_);
    const auto permissions = static_cast<mode_t>(mode);
#ifdef O_TMPFILE
    fd_ = Descriptor::adopt(::openat(at, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, permissions));
    if (fd_.valid()) {
        return;
    }
    // File systems without unnamed files say so in several ways.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) {
        throwSystemError(kCannotCreate, folderPath_);
    }
#endif
    tempName_ = hiddenTemporaryName(writer);
    fd_ = Descriptor::adopt(::openat(
        at, tempName_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, permissions));
    if (!fd_.valid()) {
        throwSystemError(kCannotCreate, joinPath(folderPath_, tempName_));
    }
    // Held until the descriptor closes, by the end of the process at the
    // latest. A file system without locks refuses it: the file is written all
    // the same, and never looks abandoned either (isAbandoned takes none).
    while (::flock(Descriptor::of(fd_), LOCK_EX) != 0 && errno == EINTR) {
    }
}

NewFile::~NewFile() {
    if (published_.empty()) {
        discard();
    }
}

bool NewFile::discard() {
    if (tempName_.empty() || !published_.empty()) {
        return true;
    }
    const bool removed =
        ::unlinkat(Descriptor::of(folder_), tempName_.c_str(), 0) == 0 || errno == ENOENT;
    if (removed) {
        tempName_.clear();
    }
    return removed;
}

bool NewFile::unpublish() {
    if (published_.empty() || !lookUpIn(Descriptor::of(folder_), published_, pathForErrors_)
                                   .sameFile(lookUp(fd_, pathForErrors_))) {
        return false;
    }
    return ::unlinkat(Descriptor::of(folder_), published_.c_str(), 0) == 0;
}

void NewFile::flush() {
    syncFile(fd_, pathForErrors_);
    dropCachedPages(fd_);
}

bool NewFile::publishAs(const std::string& fileName) {
    const std::string path = joinPath(folderPath_, fileName);
    if (tempName_.empty()) {
        // An unnamed file gets its name by a link, which fails if the name exists.
        const std::string self = "/proc/self/fd/" + std::to_string(Descriptor::of(fd_));
        if (::linkat(AT_FDCWD, self.c_str(), Descriptor::of(folder_), fileName.c_str(),
                     AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) {
                return false;
            }
            throwSystemError(kCannotCreate, path);
        }
    } else if (!renameWithoutReplacing(fileName, path)) {
        return false;
    }
    published_ = fileName;
    syncFolder(folder_, folderPath_);
    return true;
}

bool NewFile::renameWithoutReplacing(const std::string& fileName, const std::string& path) const {
    const int at = Descriptor::of(folder_);
#ifdef RENAME_NOREPLACE
    if (::renameat2(at, tempName_.c_str(), at, fileName.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        throwSystemError(kCannotCreate, path);
    }
#endif
    // File systems that cannot refuse to replace (FAT and exFAT through FUSE):
    // look first, holding the folder's lock so that no other writer of this
    // machine looks between the look and the rename. Every writer here does;
    // the lock is a descriptor of its own, so that closing it releases it.
    const UniqueFd lock = Descriptor::adopt(::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!lock.valid()) {
        throwSystemError(kCannotCreate, folderPath_);
    }
    while (::flock(Descriptor::of(lock), LOCK_EX) != 0) {
        if (errno != EINTR) {
            throwSystemError(kCannotCreate, folderPath_);
        }
    }
    if (lookUpIn(at, fileName, path).kind != PathKind::Missing) {
        return false;
    }
    if (::renameat(at, tempName_.c_str(), at, fileName.c_str()) != 0) {
        throwSystemError(kCannotCreate, path);
    }
    return true;
}

} // namespace kavlento::fs

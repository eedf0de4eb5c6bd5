#include "fs/NewFile.h"

#include "base/Failure.h"

#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kavlento::fs {

namespace {
const QString kCannotCreate = QStringLiteral("Yedek dosyası oluşturulamadı");
constexpr mode_t kArchiveMode = 0644;
} // namespace

NewFile::NewFile(const std::string& folder, const std::string& fileName)
    : folder_(folder), finalPath_(joinPath(folder, fileName)) {
#ifdef O_TMPFILE
    fd_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kArchiveMode));
    if (fd_.valid()) {
        return;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        throwSystemError(kCannotCreate, folder);
    }
#endif
    tempPath_ = uniqueHiddenName();
    fd_ = UniqueFd(::open(tempPath_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW,
                          kArchiveMode));
    if (!fd_.valid()) {
        throwSystemError(kCannotCreate, tempPath_);
    }
}

NewFile::~NewFile() {
    if (!published_ && !tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
    }
}

std::string NewFile::uniqueHiddenName() const {
    std::random_device random;
    const std::string name =
        ".kavlento-" + std::to_string(::getpid()) + "-" + std::to_string(random()) + ".yaziliyor";
    return joinPath(folder_, name);
}

void NewFile::publish(bool replaceExisting) {
    syncFile(fd_.get(), finalPath_);
    if (tempPath_.empty()) {
        // Name the unnamed file: directly when nothing may be replaced (link
        // fails if the name exists), else under a hidden name renamed over it.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        tempPath_ = replaceExisting ? uniqueHiddenName() : finalPath_;
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempPath_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            const int error = errno;
            tempPath_.clear();
            throwSystemError(error, kCannotCreate, finalPath_);
        }
        if (!replaceExisting) {
            tempPath_.clear();
        }
    }
    if (!tempPath_.empty()) {
        if (replaceExisting) {
            if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
                throwSystemError(kCannotCreate, finalPath_);
            }
        } else {
            if (::link(tempPath_.c_str(), finalPath_.c_str()) != 0) {
                throwSystemError(kCannotCreate, finalPath_);
            }
            ::unlink(tempPath_.c_str());
        }
    }
    published_ = true;
    fd_.close(finalPath_);
    syncFolder(folder_);
}

} // namespace kavlento::fs

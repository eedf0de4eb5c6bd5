#include "fs/NewFile.h"

#include "base/Failure.h"
#include "fs/Descriptor_posix.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace kavlento::fs {

namespace {

const QString kCannotCreate = QStringLiteral("Yedek dosyası oluşturulamadı");
constexpr mode_t kMode = 0644;

constexpr std::string_view kPrefix = ".kavlento-";
constexpr std::string_view kSuffix = ".yaziliyor";

std::string hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    std::string host(name);
    std::replace(host.begin(), host.end(), '-', '_');
    return host;
}

// ".kavlento-<host>-<process>-<random>.yaziliyor": the host and the process say
// whether its writer still lives.
std::string hiddenTemporaryName(const std::string& folder) {
    std::random_device random;
    return joinPath(folder, std::string(kPrefix) + hostName() + "-" + std::to_string(::getpid()) +
                                "-" + std::to_string(random()) + std::string(kSuffix));
}

// Whether `name` is an unfinished file of this host whose writer is gone.
bool isDeadUnfinishedFile(const std::string& name, const std::string& ownPrefix) {
    if (name.rfind(ownPrefix, 0) != 0 || !isUnfinishedFileName(name)) {
        return false;
    }
    const long pid = std::strtol(name.c_str() + ownPrefix.size(), nullptr, 10);
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void removeDeadUnfinishedFilesIn(const std::string& folder, const std::string& ownPrefix) {
    for (const std::string& name : listFolder(folder, kCannotCreate)) {
        const std::string path = joinPath(folder, name);
        // Another run may have removed it first.
        if (isDeadUnfinishedFile(name, ownPrefix) && ::unlink(path.c_str()) != 0 &&
            errno != ENOENT) {
            throwSystemError(kCannotCreate, path);
        }
    }
}

} // namespace

bool isUnfinishedFileName(std::string_view name) {
    return name.size() >= kPrefix.size() + kSuffix.size() &&
           name.substr(0, kPrefix.size()) == kPrefix &&
           name.substr(name.size() - kSuffix.size()) == kSuffix;
}

void removeDeadUnfinishedFiles(const std::string& folder) {
    const std::string own = std::string(kPrefix) + hostName() + "-";
    removeDeadUnfinishedFilesIn(folder, own);
    for (const std::string& inside : listableSubfolders(folder, kCannotCreate)) {
        removeDeadUnfinishedFilesIn(inside, own);
    }
}

NewFile::NewFile(const std::string& folder, const std::string& fileName)
    : folder_(folder), pathForErrors_(joinPath(folder, fileName)) {
#ifdef O_TMPFILE
    fd_ = Descriptor::adopt(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kMode));
    if (fd_.valid()) {
        return;
    }
    // File systems without unnamed files say so in several ways.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) {
        throwSystemError(kCannotCreate, folder);
    }
#endif
    tempPath_ = hiddenTemporaryName(folder);
    fd_ = createNew(tempPath_, kMode);
}

NewFile::~NewFile() {
    if (!published_ && !tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
    }
}

void NewFile::flush() {
    syncFile(fd_, pathForErrors_);
    dropCachedPages(fd_);
}

bool NewFile::publishAs(const std::string& fileName) {
    const std::string path = joinPath(folder_, fileName);
    if (tempPath_.empty()) {
        // An unnamed file gets its name by a link, which fails if the name exists.
        const std::string self = "/proc/self/fd/" + std::to_string(Descriptor::of(fd_));
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) {
                return false;
            }
            throwSystemError(kCannotCreate, path);
        }
    } else if (!renameWithoutReplacing(tempPath_, path, kCannotCreate)) {
        return false;
    }
    published_ = true;
    fd_.close(path);
    syncFolder(folder_);
    return true;
}

} // namespace kavlento::fs

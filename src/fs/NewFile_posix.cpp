#include "fs/NewFile.h"

#include "base/Failure.h"

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

// Archives a killed run of this host left half written: the process that
// wrote them is gone, so nobody finishes them.
void removeLeftovers(const std::string& folder) {
    const std::string own = std::string(kPrefix) + hostName() + "-";
    for (const std::string& name : listFolder(folder, kCannotCreate)) {
        if (name.rfind(own, 0) != 0 || !isUnfinishedFileName(name)) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + own.size(), nullptr, 10);
        const std::string path = joinPath(folder, name);
        // Another run may have removed it first.
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH &&
            ::unlink(path.c_str()) != 0 && errno != ENOENT) {
            throwSystemError(kCannotCreate, path);
        }
    }
}

[[noreturn]] void nameTaken(const std::string& path) {
    throw Failure(FailureCode::PathFileAccess,
                  QStringLiteral("Yedek dosyasının adı bu sırada başka bir dosyaya verilmiş; "
                                 "hiçbir dosya değiştirilmedi: %1")
                      .arg(fromSystemPath(path)));
}

} // namespace

bool isUnfinishedFileName(std::string_view name) {
    return name.size() >= kPrefix.size() + kSuffix.size() &&
           name.substr(0, kPrefix.size()) == kPrefix &&
           name.substr(name.size() - kSuffix.size()) == kSuffix;
}

NewFile::NewFile(const std::string& folder, const std::string& fileName)
    : folder_(folder), finalPath_(joinPath(folder, fileName)) {
#ifdef O_TMPFILE
    fd_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kMode));
    if (fd_.valid()) {
        return;
    }
    // File systems without unnamed files say so in several ways.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) {
        throwSystemError(kCannotCreate, folder);
    }
#endif
    removeLeftovers(folder);
    tempPath_ = hiddenTemporaryName(folder);
    fd_ = createNew(tempPath_, kMode);
}

NewFile::~NewFile() {
    if (!published_ && !tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
    }
}

void NewFile::flush() {
    syncFile(fd_.get(), finalPath_);
    dropCachedPages(fd_.get());
}

void NewFile::publish() {
    if (tempPath_.empty()) {
        // An unnamed file gets its name by a link, which fails if the name exists.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, finalPath_.c_str(), AT_SYMLINK_FOLLOW) !=
            0) {
            if (errno == EEXIST) {
                nameTaken(finalPath_);
            }
            throwSystemError(kCannotCreate, finalPath_);
        }
    } else if (!renameWithoutReplacing(tempPath_, finalPath_, kCannotCreate)) {
        nameTaken(finalPath_);
    }
    published_ = true;
    fd_.close(finalPath_);
    syncFolder(folder_);
}

} // namespace kavlento::fs

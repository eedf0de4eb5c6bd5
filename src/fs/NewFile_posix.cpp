#include "fs/NewFile.h"

#include "base/Failure.h"

#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace kavlento::fs {

namespace {

const QString kCannotCreate = QStringLiteral("Yedek dosyası oluşturulamadı");
constexpr mode_t kMode = 0644;

std::string hiddenTemporaryName(const std::string& folder) {
    std::random_device random;
    return joinPath(folder, ".kavlento-" + std::to_string(::getpid()) + "-" +
                                std::to_string(random()) + ".yaziliyor");
}

[[noreturn]] void nameTaken(const std::string& path) {
    throw Failure(FailureCode::PathFileAccess,
                  QStringLiteral("Yedek dosyasının adı bu sırada başka bir dosyaya verilmiş; "
                                 "hiçbir dosya değiştirilmedi: %1")
                      .arg(fromSystemPath(path)));
}

} // namespace

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

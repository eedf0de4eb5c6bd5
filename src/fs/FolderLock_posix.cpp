#include "fs/FolderLock.h"

#include "fs/Descriptor_posix.h"

#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace kavlento::fs {

std::optional<FolderLock> FolderLock::tryLock(const std::string& folder) {
    const QString action = QStringLiteral("Program klasörü kilitlenemedi");
    UniqueFd fd = Descriptor::adopt(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throwSystemError(action, folder);
    }
    // flock belongs to the open folder, not to a process's user or session.
    while (::flock(Descriptor::of(fd), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return std::nullopt;
        }
        if (errno != EINTR) {
            throwSystemError(action, folder);
        }
    }
    return FolderLock(std::move(fd));
}

} // namespace kavlento::fs

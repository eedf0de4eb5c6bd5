#include "fs/File.h"

#include "base/Failure.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace kavlento::fs {

std::string joinPath(const std::string& folder, std::string_view relative) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += relative;
    return path;
}

namespace {

// How long the root at the start of `path` is: "/" or a drive's "C:/"; 0 for
// a relative path.
std::size_t rootLength(const std::string& path) {
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && path[2] == '/';
    return drive ? 3 : !path.empty() && path[0] == '/' ? 1 : 0;
}

} // namespace

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
                                      : path.substr(0, std::max(slash, rootLength(path)));
}

void throwSystemError(int error, const QString& action, const std::string& path) {
    throw systemFailure(error, action, fromSystemPath(path));
}

void throwSystemError(const QString& action, const std::string& path) {
    throwSystemError(errno, action, path);
}

void readExactly(const UniqueFd& file, std::uint64_t offset, void* buffer, std::size_t size,
                 const std::string& path) {
    if (readAt(file, offset, buffer, size, path) != size) {
        throw Failure(FailureCode::InputPastEnd,
                      QStringLiteral("Dosya okunurken kısaldı (bu sırada değiştirilmiş "
                                     "olabilir): %1")
                          .arg(fromSystemPath(path)));
    }
}

void requireFolder(const std::string& path, const QString& action) {
    const PathInfo info = lookUpFollowing(path);
    if (info.kind == PathKind::Missing) {
        throwSystemError(ENOENT, action, path);
    }
    if (info.kind != PathKind::Folder) {
        throwSystemError(ENOTDIR, action, path);
    }
}

} // namespace kavlento::fs

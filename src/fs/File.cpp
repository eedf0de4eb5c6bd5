#include "fs/File.h"

#include "base/Failure.h"

#include <QFile>

#include <algorithm>
#include <cerrno>

namespace kavlento::fs {

std::string toSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromSystemPath(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string joinPath(const std::string& folder, std::string_view relative) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += relative;
    return path;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
                                      : path.substr(0, std::max<std::size_t>(slash, 1));
}

void throwSystemError(int error, const QString& action, const std::string& path) {
    throw systemFailure(error, action, fromSystemPath(path));
}

void throwSystemError(const QString& action, const std::string& path) {
    throwSystemError(errno, action, path);
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

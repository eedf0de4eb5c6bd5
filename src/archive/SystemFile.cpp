#include "archive/SystemFile.h"

#include "app/Failure.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavlento::archive {

std::string toSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromSystemPath(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

void throwSystemError(int error, const QString& action, const std::string& path) {
    throw systemFailure(error, action, fromSystemPath(path));
}

void throwSystemError(const QString& action, const std::string& path) {
    throwSystemError(errno, action, path);
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

void readExactly(int fd, std::uint64_t offset, void* buffer, std::size_t size,
                 const std::string& path) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwSystemError(QStringLiteral("Dosya okunamadı"), path);
        }
        if (n == 0) {
            throw Failure(FailureCode::InputPastEnd,
                          QStringLiteral("Dosya okunurken kısaldı (yedekleme sırasında "
                                         "değiştirilmiş olabilir): %1")
                              .arg(fromSystemPath(path)));
        }
        out += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

void writeAllAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size,
                const std::string& path) {
    const auto* in = static_cast<const char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, in, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwSystemError(QStringLiteral("Dosya yazılamadı"), path);
        }
        in += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

void syncFile(int fd, const std::string& path) {
    if (::fsync(fd) != 0) {
        throwSystemError(QStringLiteral("Dosya diske yazılamadı"), path);
    }
}

void syncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throwSystemError(QStringLiteral("Klasör açılamadı"), folder);
    }
    // Some file systems cannot sync a folder (EINVAL); renames there are as
    // durable as they allow.
    if (::fsync(fd.get()) != 0 && errno != EINVAL) {
        throwSystemError(QStringLiteral("Klasör diske yazılamadı"), folder);
    }
}

void requireFolder(const std::string& path, const QString& action) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throwSystemError(action, path);
    }
    if (!S_ISDIR(st.st_mode)) {
        throwSystemError(ENOTDIR, action, path);
    }
}

std::string joinPath(const std::string& folder, std::string_view relative) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += relative;
    return path;
}

} // namespace kavlento::archive

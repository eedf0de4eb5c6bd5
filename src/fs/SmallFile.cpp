#include "fs/SmallFile.h"

#include "base/Failure.h"
#include "fs/File.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace kavlento::fs {

namespace {

const QString kRename = QStringLiteral("Dosyanın adı değiştirilemedi");

struct OwnFile {
    UniqueFd fd;
    PathInfo info;
};

// Never through a link: whatever one leads to is not the program's own file.
std::optional<OwnFile> openOwnFile(const std::string& file) {
    std::optional<UniqueFd> fd = openForReading(file, AtALink::Refuse);
    const PathInfo info = fd ? lookUp(*fd, file) : PathInfo{};
    if (info.kind != PathKind::File) {
        return std::nullopt;
    }
    return OwnFile{std::move(*fd), info};
}

} // namespace

bool isRegularFile(const QString& path) {
    return lookUpFollowing(toSystemPath(path)).kind == PathKind::File;
}

std::optional<QByteArray> readOwnFile(const QString& path) {
    const std::string file = toSystemPath(path);
    const std::optional<OwnFile> own = openOwnFile(file);
    if (!own) {
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(own->info.size));
    bytes.resize(static_cast<qsizetype>(
        readAt(own->fd, 0, bytes.data(), static_cast<std::size_t>(bytes.size()), file)));
    return bytes;
}

bool readOwnFileInPieces(const QString& path, std::size_t pieceSize,
                         const std::function<void(QByteArrayView piece)>& take) {
    const std::string file = toSystemPath(path);
    const std::optional<OwnFile> own = openOwnFile(file);
    if (!own) {
        return false;
    }
    QByteArray piece(static_cast<qsizetype>(std::max<std::size_t>(pieceSize, 1)), '\0');
    std::uint64_t offset = 0;
    // To the end as the reading finds it, not the size seen at opening.
    while (const std::size_t read = readAt(own->fd, offset, piece.data(),
                                           static_cast<std::size_t>(piece.size()), file)) {
        take(QByteArrayView(piece.constData(), static_cast<qsizetype>(read)));
        offset += read;
    }
    return true;
}

bool isOwnFile(const QString& path) {
    return openOwnFile(toSystemPath(path)).has_value();
}

void appendLine(const QString& path, const QString& tempPath, const QByteArray& line) {
    const std::string file = toSystemPath(path);
    UniqueFd fd = openForUpdate(file);
    const PathInfo info = lookUp(fd, file);
    if (info.links > 1) {
        QByteArray bytes(static_cast<qsizetype>(info.size), '\0');
        readExactly(fd, 0, bytes.data(), static_cast<std::size_t>(bytes.size()), file);
        if (!bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r')) {
            bytes += "\r\n";
        }
        replaceFile(tempPath, path, bytes + line);
        return;
    }
    const std::uint64_t size = info.size;
    QByteArray bytes = line;
    if (size > 0) {
        char last = 0;
        readExactly(fd, size - 1, &last, 1, file);
        if (last != '\n' && last != '\r') {
            bytes.prepend("\r\n");
        }
    }
    try {
        writeAllAt(fd, size, bytes.constData(), static_cast<std::size_t>(bytes.size()), file);
        syncFile(fd, file);
    } catch (...) {
        // Half a line would join the next one. The failure above is the one to
        // report; if even this fails, the next reading skips the broken line.
        try {
            truncateTo(fd, size, file);
        } catch (const Failure&) {
        }
        throw;
    }
    fd.close(file);
}

void replaceFile(const QString& tempPath, const QString& finalPath, const QByteArray& bytes) {
    const std::string temp = toSystemPath(tempPath);
    const std::string target = toSystemPath(finalPath);
    {
        // A leftover goes first; the new one is created, never a link followed.
        std::remove(temp.c_str());
        UniqueFd fd = createNew(temp, 0644);
        try {
            writeAllAt(fd, 0, bytes.constData(), static_cast<std::size_t>(bytes.size()), temp);
            syncFile(fd, temp);
            fd.close(temp);
        } catch (...) {
            fd = UniqueFd();
            std::remove(temp.c_str()); // the failure above is the one to report
            throw;
        }
    }
    renamePath(temp, target, kRename);
    syncFolder(folderOf(target));
}

void writeEmptyFile(const QString& tempPath, const QString& path) {
    replaceFile(tempPath, path, QByteArray());
}

} // namespace kavlento::fs

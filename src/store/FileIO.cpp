#include "store/FileIO.h"

#include "app/Failure.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kavlento::store {

namespace {

const QString kRead = QStringLiteral("Dosya okunamadı");
const QString kWrite = QStringLiteral("Dosya yazılamadı");
const QString kRename = QStringLiteral("Dosyanın adı değiştirilemedi");

// Qt's file errors do not say why; the system's error number does.
[[noreturn]] void fail(const QString& action, const QString& path) {
    const int error = errno != 0 ? errno : EIO;
    throw systemFailure(error, action, path);
}

void openOrFail(QFile& file, QIODevice::OpenMode mode, const QString& action) {
    errno = 0;
    if (!file.open(mode)) {
        fail(action, file.fileName());
    }
}

void writeOrFail(QFile& file, const QByteArray& bytes) {
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        fail(kWrite, file.fileName());
    }
}

void syncOrFail(QFile& file) {
    errno = 0;
#ifdef Q_OS_WIN
    const bool synced = _commit(file.handle()) == 0;
#else
    const bool synced = ::fsync(file.handle()) == 0;
#endif
    if (!synced) {
        fail(kWrite, file.fileName());
    }
}

void renameOver(const QString& from, const QString& to) {
    errno = 0;
#ifdef Q_OS_WIN
    const bool renamed = MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                                     reinterpret_cast<const wchar_t*>(to.utf16()),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!renamed) {
        errno = EACCES;
    }
#else
    const bool renamed =
        ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
    if (!renamed) {
        fail(kRename, to);
    }
}

// Makes a rename durable. File systems that cannot sync a folder say EINVAL;
// the rename itself has then already been made as durable as they allow.
void syncFolderOf(const QString& path) {
#ifndef Q_OS_WIN
    const QString folder = QFileInfo(path).absolutePath();
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        fail(kWrite, folder);
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL) {
        errno = error;
        fail(kWrite, folder);
    }
#else
    Q_UNUSED(path);
#endif
}

} // namespace

bool isRegularFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

QByteArray readWholeFile(const QString& path) {
    QFile file(path);
    openOrFail(file, QIODevice::ReadOnly, kRead);
    errno = 0;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        fail(kRead, path);
    }
    return bytes;
}

void appendLine(const QString& path, const QByteArray& line) {
    QFile file(path);
    openOrFail(file, QIODevice::ReadWrite, kWrite);
    const qint64 size = file.size();
    QByteArray bytes = line;
    if (size > 0) {
        errno = 0;
        if (!file.seek(size - 1)) {
            fail(kRead, path);
        }
        const QByteArray last = file.read(1);
        if (last.size() != 1) {
            fail(kRead, path);
        }
        if (last != "\n" && last != "\r") {
            bytes.prepend("\r\n");
        }
    }
    errno = 0;
    if (!file.seek(size)) {
        fail(kWrite, path);
    }
    writeOrFail(file, bytes);
    syncOrFail(file);
}

void replaceFile(const QString& tempPath, const QString& finalPath, const QByteArray& bytes) {
    {
        QFile temp(tempPath);
        openOrFail(temp, QIODevice::WriteOnly | QIODevice::Truncate, kWrite);
        try {
            writeOrFail(temp, bytes);
            syncOrFail(temp);
        } catch (...) {
            temp.close();
            QFile::remove(tempPath);
            throw;
        }
    }
    renameOver(tempPath, finalPath);
    syncFolderOf(finalPath);
}

void writeEmptyFile(const QString& path) {
    QFile file(path);
    openOrFail(file, QIODevice::WriteOnly | QIODevice::Truncate, kWrite);
    syncOrFail(file);
}

} // namespace kavlento::store

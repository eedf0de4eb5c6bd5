#include "support/MountedFileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/mount.h>

namespace kavlento::testing {

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

[[noreturn]] void fail(const QString& what) {
    throw std::runtime_error(what.toStdString());
}

// Mount tools live in sbin, which an ordinary PATH may not hold.
QString findTool(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"}) : found;
}

// Runs a tool to its end and returns what it printed; anything but a clean
// exit fails the test with that output.
QString runOrFail(const QString& name, const QStringList& arguments) {
    const QString command = name + ' ' + arguments.join(' ');
    const QString program = findTool(name);
    if (program.isEmpty()) {
        fail(QStringLiteral("`%1`: %2 is not installed (scripts/setup.sh installs it)")
                 .arg(command, name));
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        fail(QStringLiteral("`%1` did not finish: %2").arg(command, process.errorString()));
    }
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        fail(QStringLiteral("`%1` ended with %2: %3")
                 .arg(command)
                 .arg(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1)
                 .arg(output));
    }
    return output;
}

// /proc/self/mountinfo writes blanks and backslashes as \ooo.
QByteArray unescape(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out.append(static_cast<char>(field.mid(i + 1, 3).toInt(nullptr, 8)));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return out;
}

bool isMountPoint(const QString& path) {
    const QByteArray wanted = native(QFileInfo(path).canonicalFilePath());
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (wanted.isEmpty() || !table.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && unescape(fields[4]) == wanted) {
            return true;
        }
    }
    return false;
}

[[noreturn]] void failSystemCall(int error, const QString& call) {
    fail(QStringLiteral("%1: %2").arg(call, QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace

const char* nameOf(FileSystemKind kind) {
    switch (kind) {
    case FileSystemKind::ExFat:
        return "exFAT";
    case FileSystemKind::Fat32:
        return "FAT32";
    case FileSystemKind::Tmpfs:
        return "tmpfs";
    }
    return "?";
}

MountedFileSystem::MountedFileSystem(FileSystemKind kind, const QString& at, int megabytes)
    : at_(at) {
    try {
        if (!QDir().mkpath(at)) {
            fail(QStringLiteral("cannot make the folder %1").arg(at));
        }
        if (kind == FileSystemKind::Tmpfs) {
            // Mode 755, as an ordinary folder is made, so trees compare equal.
            const QByteArray options = "size=" + QByteArray::number(megabytes) + "m,mode=0755";
            if (::mount("tmpfs", native(at).constData(), "tmpfs", 0, options.constData()) != 0) {
                const int error = errno;
                failSystemCall(error, QStringLiteral("mount -t tmpfs -o %1 tmpfs %2")
                                          .arg(QString::fromLatin1(options), at));
            }
            mounted_ = true;
        } else {
            makeImage(megabytes);
            mountImage(kind);
        }
        requireMounted(QString::fromLatin1(nameOf(kind)));
    } catch (...) {
        release();
        throw;
    }
}

MountedFileSystem::MountedFileSystem(const QString& source, const QString& at) : at_(at) {
    try {
        const QFileInfo info(source);
        if (!info.exists()) {
            fail(QStringLiteral("nothing to bind at %1").arg(source));
        }
        if (info.isDir()) {
            QDir().mkpath(at);
        } else if (!QFileInfo::exists(at)) {
            QDir().mkpath(QFileInfo(at).absolutePath());
            QFile(at).open(QIODevice::WriteOnly);
        }
        if (::mount(native(source).constData(), native(at).constData(), nullptr, MS_BIND,
                    nullptr) != 0) {
            const int error = errno;
            failSystemCall(error, QStringLiteral("mount --bind %1 %2").arg(source, at));
        }
        mounted_ = true;
        requireMounted(QStringLiteral("bind mount of %1").arg(source));
    } catch (...) {
        release();
        throw;
    }
}

MountedFileSystem::~MountedFileSystem() {
    release();
}

void MountedFileSystem::makeImage(int megabytes) {
    image_ = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/kavlento-fs-XXXXXX.img");
    if (!image_->open() || !image_->resize(qint64{megabytes} << 20)) {
        fail(QStringLiteral("cannot make an image in %1: %2")
                 .arg(QDir::tempPath(), image_->errorString()));
    }
    image_->close();
}

void MountedFileSystem::mountImage(FileSystemKind kind) {
    const QString image = image_->fileName();
    if (kind == FileSystemKind::ExFat) {
        runOrFail("mkfs.exfat", {image});
        // exfat-fuse mounts block devices only.
        loopDevice_ = runOrFail("losetup", {"--find", "--show", image}).section('\n', -1).trimmed();
        runOrFail("mount.exfat-fuse", {loopDevice_, at_});
    } else {
        runOrFail("mkfs.vfat", {"-F", "32", image});
        runOrFail("fusefat", {"-o", "rw+", image, at_});
    }
    mounted_ = true;
}

void MountedFileSystem::requireMounted(const QString& what) {
    if (!isMountPoint(at_)) {
        mounted_ = false;
        fail(QStringLiteral("%1: reported mounted, but %2 is no mount point").arg(what, at_));
    }
}

void MountedFileSystem::release() {
    if (mounted_) {
        const QByteArray at = native(at_);
        // A process of a failed test may still hold a file open there.
        if (::umount2(at.constData(), 0) != 0 && ::umount2(at.constData(), MNT_DETACH) != 0) {
            const int error = errno;
            ADD_FAILURE() << "cannot unmount " << at.constData() << ": " << std::strerror(error);
        }
        mounted_ = false;
    }
    if (!loopDevice_.isEmpty()) {
        // A device its FUSE driver still holds is let go when the driver ends.
        try {
            runOrFail("losetup", {"--detach", loopDevice_});
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        loopDevice_.clear();
    }
    image_.reset();
}

} // namespace kavlento::testing

#pragma once

#include <QString>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

// Opens a test that mounts file systems or starts the program as another
// user: without root it is skipped, saying why; in CI (CI=true) it must run,
// so there it fails instead.
#define KAVLENTO_NEEDS_ROOT(why)                                                                   \
    do {                                                                                           \
        if (::geteuid() != 0) {                                                                    \
            if (qEnvironmentVariable("CI") == QLatin1String("true")) {                             \
                FAIL() << "needs root, which CI must give: " << (why);                             \
            }                                                                                      \
            GTEST_SKIP() << "needs root: " << (why);                                               \
        }                                                                                          \
    } while (false)

namespace kavlento::testing {

enum class FileSystemKind {
    ExFat, // an image on a loop device, through exfat-fuse (no unnamed files, no hard links)
    Fat32, // an image through fusefat (the same)
    Tmpfs,
};

const char* nameOf(FileSystemKind kind);

// A file system of the test's own, mounted for the life of this object; the
// destructor unmounts it (lazily if something still uses it), detaches its
// loop device and removes its image, also when the test has failed. Mounting
// needs root: a test that mounts opens with KAVLENTO_NEEDS_ROOT. Where it
// cannot be done the constructor throws, naming the tool and what it printed,
// so the test fails: a test that needs a real file system never passes
// without one.
class MountedFileSystem {
public:
    // A new, empty file system of `megabytes` at `at`, a folder made if missing.
    MountedFileSystem(FileSystemKind kind, const QString& at, int megabytes = 64);
    // The folder or file `source` mounted again at `at` (made like it if missing):
    // the same files, but another mount, so renames between the two fail.
    MountedFileSystem(const QString& source, const QString& at);
    ~MountedFileSystem();
    MountedFileSystem(const MountedFileSystem&) = delete;
    MountedFileSystem& operator=(const MountedFileSystem&) = delete;

    const QString& path() const { return at_; }

private:
    void makeImage(int megabytes);
    void mountImage(FileSystemKind kind);
    void requireMounted(const QString& what);
    void release();

    QString at_;
    std::unique_ptr<QTemporaryFile> image_;
    QString loopDevice_;
    bool mounted_ = false;
};

} // namespace kavlento::testing

#include "base/Failure.h"
#include "fs/Descriptor_windows.h"
#include "fs/FolderLock.h"
#include "fs/Mounts.h"
#include "fs/NewFile.h"
#include "fs/OpenFolder.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

const char* const kRole = "KAVLENTO_TEST_ROLE";
const char* const kFolder = "KAVLENTO_TEST_FOLDER";

// This test program again, as another process that plays `role` on `folder`.
void startChild(QProcess& child, const char* role, const QString& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kRole, role);
    environment.insert(kFolder, folder);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=WindowsChild.PlaysItsRole")});
    ASSERT_TRUE(child.waitForStarted());
}

int childExitCode(const char* role, const QString& folder) {
    QProcess child;
    startChild(child, role, folder);
    EXPECT_TRUE(child.waitForFinished(60000));
    return child.exitCode();
}

std::vector<std::string> unfinishedIn(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : fs::listFolder(folder, {})) {
        if (fs::isUnfinishedFileName(name)) {
            found.push_back(name);
        }
    }
    return found;
}

// A junction (a mount point of a folder), which any user may make.
bool makeJunction(const std::string& at, const std::string& folder) {
    if (!::CreateDirectoryW(fs::wide(at).c_str(), nullptr)) {
        return false;
    }
    const std::wstring target = L"\\??\\" + fs::wide(folder);
    const auto bytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
    std::vector<unsigned char> data(8 + 8 + bytes + 2 * sizeof(wchar_t), 0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD header[6] = {static_cast<WORD>(data.size() - 8), 0, 0, bytes,
                            static_cast<WORD>(bytes + 2),       0};
    std::memcpy(data.data(), &tag, 4);
    std::memcpy(data.data() + 4, header, sizeof header);
    std::memcpy(data.data() + 16, target.data(), bytes);
    const fs::UniqueFd link = fs::Descriptor::adopt(
        ::CreateFileW(fs::wide(at).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD done = 0;
    return link.valid() &&
           ::DeviceIoControl(fs::Descriptor::of(link), FSCTL_SET_REPARSE_POINT, data.data(),
                             static_cast<DWORD>(data.size()), nullptr, 0, &done, nullptr);
}

} // namespace

// The other process of the tests below: it takes the lock ("lock", exit code
// 0 when granted, 3 when refused), or leaves a file unfinished when it ends
// ("write", once its standard input closes).
TEST(WindowsChild, PlaysItsRole) {
    const std::string role = qEnvironmentVariable(kRole).toStdString();
    const std::string folder = qEnvironmentVariable(kFolder).toStdString();
    if (role.empty()) {
        GTEST_SKIP() << "only as the other process of another test";
    }
    if (role == "lock") {
        std::_Exit(fs::FolderLock::tryLock(folder) ? 0 : 3);
    }
    const fs::OpenFolder open = fs::OpenFolder::open(folder, {});
    fs::NewFile file(open, "a.ksd", 0600, "deneme");
    fs::writeAllAt(file.file(), 0, "veri", 4, "a.ksd");
    while (std::getchar() != EOF) {
    }
    std::_Exit(0); // killed, as far as the file can tell
}

TEST(WindowsFolderLock, ExcludesOtherProcessesUntilReleased) {
    const TempFolder folder;
    const std::string path = fs::toSystemPath(folder.path());
    std::optional<fs::FolderLock> lock = fs::FolderLock::tryLock(path);
    ASSERT_TRUE(lock);
    EXPECT_FALSE(fs::FolderLock::tryLock(path));
    EXPECT_EQ(childExitCode("lock", folder.path()), 3);
    lock.reset();
    EXPECT_EQ(childExitCode("lock", folder.path()), 0);
    EXPECT_TRUE(fs::FolderLock::tryLock(path)); // the child's went with it
}

TEST(WindowsNewFile, HasNoNameUntilPublishedAndNeverReplacesOne) {
    const TempFolder folder;
    const std::string path = fs::toSystemPath(folder.path());
    const fs::OpenFolder open = fs::OpenFolder::open(path, {});
    folder.write("alinmis.ksd", "eski");
    {
        fs::NewFile file(open, "a.ksd", 0600, "deneme");
        fs::writeAllAt(file.file(), 0, "veri", 4, "a.ksd");
        const DWORD attributes = ::GetFileAttributesW(fs::wide(file.temporaryPath()).c_str());
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        EXPECT_FALSE(folder.exists("a.ksd"));
    }
    EXPECT_EQ(fs::listFolder(path, {}), std::vector<std::string>{"alinmis.ksd"});

    {
        fs::NewFile file(open, "a.ksd", 0600, "deneme");
        fs::writeAllAt(file.file(), 0, "yeni", 4, "a.ksd");
        EXPECT_FALSE(file.publishAs("alinmis.ksd"));
        EXPECT_EQ(folder.read("alinmis.ksd"), "eski");
        ASSERT_TRUE(file.publishAs("a.ksd"));
    } // Qt opens a file only where no handle may remove it
    EXPECT_EQ(folder.read("a.ksd"), "yeni");
    EXPECT_EQ(::GetFileAttributesW(fs::wide(fs::joinPath(path, "a.ksd")).c_str()) &
                  FILE_ATTRIBUTE_HIDDEN,
              0u);
}

TEST(WindowsNewFile, LeftoversGoOnlyWhenTheirWriterIsDead) {
    const TempFolder folder;
    const std::string path = fs::toSystemPath(folder.path());
    const fs::OpenFolder open = fs::OpenFolder::open(path, {});
    QProcess writer;
    startChild(writer, "write", folder.path());
    for (int i = 0; i < 600 && unfinishedIn(path).empty(); ++i) {
        QThread::msleep(50);
    }
    ASSERT_EQ(unfinishedIn(path).size(), 1u);
    {
        fs::NewFile own(open, "b.ksd", 0600, "deneme"); // this process's lives on
        fs::removeDeadUnfinishedFiles(open, "deneme");
        EXPECT_EQ(unfinishedIn(path).size(), 2u);

        writer.closeWriteChannel();
        ASSERT_TRUE(writer.waitForFinished(60000));
        fs::removeDeadUnfinishedFiles(open, "deneme");
        const std::string ownName(fs::lastName(own.temporaryPath()));
        EXPECT_EQ(unfinishedIn(path), std::vector<std::string>{ownName});
        // A removal of a file still open only shows once it closes.
        EXPECT_TRUE(own.publishAs("b.ksd"));
    }
    EXPECT_EQ(fs::listFolder(path, {}), std::vector<std::string>{"b.ksd"});
}

TEST(WindowsLinks, AreSeenAsLinksAndNeverReadThrough) {
    const TempFolder folder;
    const std::string path = fs::toSystemPath(folder.path());
    folder.write("hedef/dosya", "veri");
    const std::string target = fs::joinPath(path, "hedef");
    const struct {
        const char* name;
        std::string target;
        DWORD flags; // a symbolic link's; none for a junction
        fs::PathKind followed;
    } links[] = {
        {"dosyaya", fs::joinPath(target, "dosya"), 0, fs::PathKind::File},
        {"klasore", target, SYMBOLIC_LINK_FLAG_DIRECTORY, fs::PathKind::Folder},
        {"kavsak", target, ~DWORD{0}, fs::PathKind::Folder},
    };
    for (const auto& link : links) {
        SCOPED_TRACE(link.name);
        const std::string at = fs::joinPath(path, link.name);
        const bool made = link.flags == ~DWORD{0}
                              ? makeJunction(at, link.target)
                              : ::CreateSymbolicLinkW(
                                    fs::wide(at).c_str(), fs::wide(link.target).c_str(),
                                    link.flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
        // Without developer mode or the privilege Windows refuses a symbolic
        // link; Wine 8 makes no reparse point at all, saying it did.
        const DWORD attributes = ::GetFileAttributesW(fs::wide(at).c_str());
        if (!made || attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            GTEST_SKIP() << "this system made no such link here (error " << ::GetLastError() << ")";
        }
        EXPECT_EQ(fs::lookUp(at).kind, fs::PathKind::Link);
        EXPECT_EQ(fs::lookUpFollowing(at).kind, link.followed);
        EXPECT_EQ(fs::readLinkTarget(at, {}), link.target);
        EXPECT_FALSE(fs::openForReading(at, fs::AtALink::Refuse));
        fs::removeFile(at, {});
        EXPECT_EQ(fs::lookUp(at).kind, fs::PathKind::Missing);
    }
    EXPECT_EQ(folder.read("hedef/dosya"), "veri"); // removing the links left it
}

TEST(WindowsFiles, TurkishNamesRoundTrip) {
    const TempFolder folder;
    const std::string path = fs::toSystemPath(folder.path());
    for (const QString& name : {QStringLiteral("ğüşıöç İ.txt"), QStringLiteral("IİıiĞŞ"),
                                QStringLiteral("Çalışma Klasörü")}) {
        SCOPED_TRACE(name.toStdString());
        const std::string file = fs::joinPath(path, fs::toSystemPath(name));
        {
            fs::UniqueFd made = fs::createNew(file, 0644);
            fs::writeAllAt(made, 0, "veri", 4, file);
        }
        EXPECT_EQ(folder.read(name), "veri");
        EXPECT_EQ(fs::lookUp(file).kind, fs::PathKind::File);
        const std::vector<std::string> names = fs::listFolder(path, {});
        EXPECT_NE(std::find(names.begin(), names.end(), fs::toSystemPath(name)), names.end());
        EXPECT_EQ(fs::fromSystemPath(fs::lastName(*fs::resolvedPath(file))), name);
    }
}

// POSIX lets a read-only file be removed or replaced by whoever may change its
// folder; so must Windows, or a restore could not put back what it took.
TEST(WindowsFiles, ReadOnlyFilesKeepTheirModeAndStillGo) {
    const TempFolder folder;
    const std::string path = fs::toSystemPath(folder.path());
    for (const bool replace : {false, true}) {
        const std::string file = fs::joinPath(path, "salt-okunur");
        {
            const fs::UniqueFd made = fs::createNew(file, 0644);
            fs::setModeAndTime(made, 0444, {1500000000, 123456700}, file, {});
        }
        const fs::PathInfo info = fs::lookUp(file);
        EXPECT_EQ(info.mode & 0222, 0u);
        EXPECT_EQ(info.modified, (Timestamp{1500000000, 123456700}));
        if (replace) {
            folder.write("yeni", "yeni");
            fs::renamePath(fs::joinPath(path, "yeni"), file, {});
            EXPECT_EQ(folder.read("salt-okunur"), "yeni");
        }
        fs::removeFile(file, {});
        EXPECT_EQ(fs::lookUp(file).kind, fs::PathKind::Missing);
    }
}

TEST(WindowsFiles, DriveRootsStayRoots) {
    EXPECT_EQ(fs::folderOf("C:/a"), "C:/");
    EXPECT_EQ(fs::folderOf("C:/"), "C:/");
    EXPECT_EQ(fs::folderOf("C:/a/b"), "C:/a");
    const DWORD drives = ::GetLogicalDrives();
    char unused = 'Z';
    while (unused > 'D' && (drives & (1u << (unused - 'A'))) != 0) {
        --unused;
    }
    ASSERT_GT(unused, 'D') << "no drive letter is free";
    const std::string absent = std::string(1, unused) + ":/";
    EXPECT_EQ(fs::absentDiskFolder(absent + "Yedek/gun"), absent);
    const TempFolder folder;
    EXPECT_EQ(fs::absentDiskFolder(fs::toSystemPath(folder.path())), "");
}

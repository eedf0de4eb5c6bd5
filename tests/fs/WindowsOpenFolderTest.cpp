#include "base/Failure.h"
#include "fs/OpenFolder.h"
#include "support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace kavlento::fs {
namespace {

using testing::TempFolder;

const QString kAction = QStringLiteral("test");

std::string systemPath(const TempFolder& temp, const char* relative) {
    return toSystemPath(temp.file(QString::fromUtf8(relative)));
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// Makes the empty folder at `link` a junction to `target`, as any user may;
// false where the file system cannot (Wine).
bool makeJunction(const QString& link, const QString& target) {
    const std::wstring substitute =
        L"\\??\\" + QDir::toNativeSeparators(target).toStdWString() + L'\0';
    const HANDLE folder = ::CreateFileW(
        QDir::toNativeSeparators(link).toStdWString().c_str(), GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    // Tag, data length, reserved; then the substitute's offset and length and
    // the empty print name's, the names after.
    const WORD names = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
    std::vector<unsigned char> data(16 + names);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD head[6] = {static_cast<WORD>(8 + names),
                          0,
                          0,
                          static_cast<WORD>((substitute.size() - 1) * sizeof(wchar_t)),
                          static_cast<WORD>(substitute.size() * sizeof(wchar_t)),
                          0};
    std::memcpy(data.data(), &tag, sizeof tag);
    std::memcpy(data.data() + 4, head, sizeof head);
    std::memcpy(data.data() + 16, substitute.c_str(), substitute.size() * sizeof(wchar_t));
    DWORD returned = 0;
    const bool made =
        folder != INVALID_HANDLE_VALUE &&
        ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(),
                          static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
    ::CloseHandle(folder);
    return made;
}

// Gives everyone every right on the folder, as the root of a second drive
// gives its users.
void openToEveryone(const QString& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    std::wstring path = QDir::toNativeSeparators(folder).toStdWString();
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
    EXPECT_EQ(::SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, list, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    ::LocalFree(descriptor);
}

// Moves a folder aside and puts a junction to one outside in its place just
// before a step of a certain kind.
class JunctionSwap : public StepWatch {
public:
    JunctionSwap(Step step, QString folder, QString outside)
        : step_(step), folder_(std::move(folder)), outside_(std::move(outside)) {}
    void before(const Change& change) override {
        const std::wstring folder = QDir::toNativeSeparators(folder_).toStdWString();
        if (change.step == step_ && !swapped_) {
            swapped_ = ::MoveFileW(folder.c_str(), (folder + L"-eski").c_str()) &&
                       QDir().mkdir(folder_) && makeJunction(folder_, outside_);
        }
    }
    bool swapped_ = false;

private:
    Step step_;
    QString folder_;
    QString outside_;
};

struct Names {
    const char* from;
    const char* into;
    const char* file;
    const char* renamed;
};

class WindowsOpenFolderNames : public ::testing::TestWithParam<Names> {};

TEST_P(WindowsOpenFolderNames, FileMadeRenamedIntoAnotherFolderAndRemoved) {
    const Names names = GetParam();
    TempFolder temp;
    const OpenFolder root = OpenFolder::open(toSystemPath(temp.path()), kAction);
    const std::string from = std::string("üst/") + names.from;
    root.makeFolders(from, kAction);
    root.makeFolder(names.into, 0700, kAction);
    const std::string file = from + "/" + names.file;
    UniqueFd fd = root.createFile(file, 0600);
    writeAllAt(fd, 0, "veri", 4, root.pathOf(file));
    EXPECT_THROW(root.createFile(file, 0600), Failure) << "the name exists";
    fd.close(root.pathOf(file));

    root.rename(file, *root.folder(names.into), names.renamed, kAction);

    EXPECT_EQ(root.folder(from)->names(kAction), std::vector<std::string>());
    EXPECT_EQ(root.folder(names.into)->names(kAction), std::vector<std::string>{names.renamed});
    EXPECT_EQ(temp.read(QString::fromUtf8(names.into) + '/' + QString::fromUtf8(names.renamed)),
              "veri");
    root.removeFile(std::string(names.into) + "/" + names.renamed, kAction);
    EXPECT_TRUE(root.removeEmptyFolder(names.into));
    EXPECT_FALSE(root.removeEmptyFolder("üst")) << "not empty";
    EXPECT_EQ(sorted(root.names(kAction)), std::vector<std::string>{"üst"});
}

INSTANTIATE_TEST_SUITE_P(Names, WindowsOpenFolderNames,
                         ::testing::Values(Names{"a", "b", "f.txt", "g.txt"},
                                           Names{"ğüşıöç", "İzmir", "çiçek.txt", "IŞIK.txt"}));

// However Windows compares the names, the file system must agree: a name
// taken for another leads to its file.
TEST(WindowsOpenFolder, SameNameAgreesWithTheFileSystem) {
    TempFolder temp;
    const OpenFolder root = OpenFolder::open(toSystemPath(temp.path()), kAction);
    const char* pairs[][2] = {
        {"veri.db", "VERI.DB"}, {"ğüş", "ĞÜŞ"}, {"ı", "I"}, {"i", "İ"}, {"ı", "i"}, {"a", "b"}};
    for (const auto& pair : pairs) {
        root.createFile(pair[0], 0600);
        EXPECT_EQ(root.sameName({}, pair[0], pair[1]),
                  root.lookUp(pair[1]).kind != PathKind::Missing)
            << pair[0] << " " << pair[1];
        root.removeFile(pair[0], kAction);
    }
}

// A name that Windows would take for more than one name (a stream of a
// file, a folder further down or up) reaches nothing.
TEST(WindowsOpenFolder, NamesThatAreNoPlainNamesReachNothing) {
    TempFolder temp;
    temp.write(QStringLiteral("iç/dosya"), "içeride");
    const OpenFolder root = OpenFolder::open(systemPath(temp, "iç"), kAction);
    for (const char* name : {"dosya:akış", "..\\dış", "..", "alt/..\\..\\dış"}) {
        EXPECT_THROW(root.createFile(name, 0600), Failure) << name;
        EXPECT_FALSE(root.folder(name)) << name;
    }
    EXPECT_EQ(root.names(kAction), std::vector<std::string>{"dosya"});
    EXPECT_EQ(temp.read(QStringLiteral("iç/dosya")), "içeride");
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("iç")});
}

TEST(WindowsOpenFolder, TreeWithReadOnlyFilesIsRemoved) {
    TempFolder temp;
    const OpenFolder root = OpenFolder::open(toSystemPath(temp.path()), kAction);
    for (const char* name : {"a", "b"}) {
        root.makeFolders(std::string(name) + "/iç", kAction);
        root.createFile(std::string(name) + "/iç/salt okunur", 0444);
        root.createFile(std::string(name) + "/dosya", 0644);
    }
    EXPECT_TRUE(root.removeTree("a"));
    EXPECT_TRUE(removeTree(systemPath(temp, "b")));
    EXPECT_EQ(root.names(kAction), std::vector<std::string>());
}

// A folder made for the program's own files, or one of this user's taken for
// them, is closed to others as POSIX modes close it.
TEST(WindowsOpenFolder, OwnFolderIsClosedToOthers) {
    TempFolder temp;
    const OpenFolder root = OpenFolder::open(toSystemPath(temp.path()), kAction);
    root.makeFolder("açık", 0700, kAction);
    openToEveryone(temp.file(QStringLiteral("açık")));
    ASSERT_NE(root.lookUp("açık").mode & 022, 0u);
    for (const char* name : {"yeni", "açık"}) {
        EXPECT_EQ(root.ownFolder(name, 0700, kAction).lookUp().mode & 022, 0u) << name;
    }
}

// Asking leaves nothing behind, and the answer is what making a link shows
// (Wine says it made links where it made none).
TEST(WindowsOpenFolder, CanMakeLinksTellsWhetherALinkIsMade) {
    TempFolder temp;
    const OpenFolder root = OpenFolder::open(toSystemPath(temp.path()), kAction);
    const bool can = root.canMakeLinks();
    EXPECT_EQ(root.names(kAction), std::vector<std::string>());
    bool made = true;
    try {
        root.makeLink("hedef", "bağ", kAction);
    } catch (const Failure&) {
        made = false;
    }
    EXPECT_EQ(can, made);
}

// A junction put where a folder was, between the steps of the walk, is
// refused, never entered: nothing outside is written or removed.
TEST(WindowsOpenFolder, JunctionInPlaceOfAFolderIsNotFollowed) {
    TempFolder temp;
    temp.write(QStringLiteral("dış/kalacak"), "dışarıda");
    const QString outside = temp.file(QStringLiteral("dış"));
    const QString probe = temp.file(QStringLiteral("boş"));
    QDir().mkpath(probe);
    if (!makeJunction(probe, outside)) {
        GTEST_SKIP() << "this file system makes no junction (Wine cannot)";
    }
    // Junctions go by their own name: Qt would empty what they lead to.
    const auto removeJunction = [](const QString& path) {
        ::RemoveDirectoryW(QDir::toNativeSeparators(path).toStdWString().c_str());
    };
    removeJunction(probe);
    const std::pair<Step, std::function<void(const OpenFolder&)>> cases[] = {
        {Step::NewFile,
         [](const OpenFolder& root) { EXPECT_THROW(root.createFile("iç/yeni", 0600), Failure); }},
        {Step::Rename,
         [](const OpenFolder& root) {
             EXPECT_THROW(root.rename("iç/kalacak", root, "alınan", kAction), Failure);
         }},
        {Step::Removal,
         [](const OpenFolder& root) {
             EXPECT_THROW(root.removeFile("iç/kalacak", kAction), Failure);
             EXPECT_FALSE(root.folder("iç"));
             EXPECT_FALSE(root.openForReading("iç/kalacak"));
             EXPECT_EQ(root.lookUp("iç/kalacak").kind, PathKind::Missing);
             EXPECT_TRUE(root.removeTree("iç")); // the junction itself
         }},
    };
    for (const auto& [step, act] : cases) {
        TempFolder tree;
        tree.write(QStringLiteral("iç/kalacak"), "içeride");
        JunctionSwap swap(step, tree.file(QStringLiteral("iç")), outside);
        act(OpenFolder::open(toSystemPath(tree.path()), kAction, &swap));
        EXPECT_TRUE(swap.swapped_);
        EXPECT_EQ(tree.read(QStringLiteral("iç-eski/kalacak")), "içeride");
        EXPECT_EQ(QDir(outside).entryList(QDir::Files), QStringList{QStringLiteral("kalacak")});
        EXPECT_EQ(temp.read(QStringLiteral("dış/kalacak")), "dışarıda");
        removeJunction(tree.file(QStringLiteral("iç")));
    }
}

} // namespace
} // namespace kavlento::fs

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "fs/FolderTransaction.h"
#include "fs/RestoreRecovery.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/MountedFileSystem.h"
#include "support/ReliabilityTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <optional>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

constexpr std::time_t kSaved = 1262304000;

struct Planted {
    QString path;
    QByteArray content; // a link's target for a link
    bool link = false;
};

// Restores `archivePath` into `program` in a process of its own, killed as it
// starts its rename number `rename`; false if it ended first.
bool restoreKilledAtRename(const QString& archivePath, const QString& program, int rename) {
    QProcessEnvironment environment = headlessEnvironment();
    // LeakSanitizer cannot work under a tracer.
    const QString sanitizer = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS",
                       sanitizer + (sanitizer.isEmpty() ? "" : ":") + "detect_leaks=0");
    QProcess driver;
    driver.setProcessEnvironment(environment);
    driver.setProcessChannelMode(QProcess::MergedChannels);
    driver.start("strace", {"-f", "-qq", "-o", "/dev/null", "-e", "trace=renameat", "-e",
                            QStringLiteral("inject=renameat:signal=SIGKILL:when=%1").arg(rename),
                            QStringLiteral(CRASH_DRIVER), "restore", archivePath, program});
    EXPECT_TRUE(driver.waitForFinished(60000)) << driver.errorString().toStdString();
    if (driver.exitStatus() == QProcess::NormalExit) {
        EXPECT_EQ(driver.exitCode(), 0) << driver.readAll().toStdString();
        return false;
    }
    return true;
}

void plant(const QString& root, const std::vector<Planted>& files) {
    for (const Planted& file : files) {
        if (file.link) {
            makeLink(root + "/" + file.path, QString::fromUtf8(file.content));
        } else {
            writeFile(root + "/" + file.path, file.content, 0644, kSaved);
        }
    }
}

// A program folder with other file systems mounted inside it: a tmpfs on
// "ram", another inside that one on "ram/iç", and a bind mount two levels down
// on "belgeler/bağlı". The archive replaces files and makes new ones on each.
class RootRestoreAcrossMounts : public ::testing::Test {
protected:
    TempFolder folder;
    QString program = folder.file("program");
    const std::vector<Planted> before{
        {"a.txt", "eski a"},
        {"kalır.txt", "dokunulmaz"},
        {"ram/veri.db", pseudoText(300000, 1)},
        {"ram/kalır.txt", "dokunulmaz"},
        {"ram/iç/resim.bin", incompressibleBytes(200000, 2)},
        {"ram/iç/klasör/içinde.txt", "dokunulmaz"},
        {"belgeler/bağlı/rapor.txt", "eski rapor"},
        {"belgeler/bağlı/eski klasör/not.txt", "dokunulmaz"},
    };
    // In the order the archive holds them, so the moves go from mount to mount.
    const std::vector<Planted> archived{
        {"a.txt", "yeni a"},
        {"yeni.txt", "yeni"},
        {"ram/veri.db", pseudoText(400000, 3)},
        {"ram/yeni alt/dosya.txt", "yeni"},
        {"ram/iç/resim.bin", incompressibleBytes(250000, 4)},
        {"ram/iç/yeni.bin", "yeni"},
        {"belgeler/bağlı/rapor.txt", "yeni rapor"},
        {"belgeler/bağlı/yeni klasör/not.txt", "yeni not"},
        {"belgeler/bağlı/kısayol", "rapor.txt", true},
    };
    // Each tmpfs has room for its share, with the restore's spare 16 MB, and little more.
    std::optional<MountedFileSystem> ram, inner, bound, busy;

    void SetUp() override {
        KAVLENTO_NEEDS_ROOT("mounts file systems");
        QDir().mkpath(folder.file("disk"));
        ram.emplace(FileSystemKind::Tmpfs, program + "/ram", 20);
        inner.emplace(FileSystemKind::Tmpfs, program + "/ram/iç", 20);
        bound.emplace(folder.file("disk"), program + "/belgeler/bağlı");
        plant(program, before);
    }

    // An archive of Kavlento's own of the archived files.
    QString packed() {
        const QString source = folder.file("kaynak");
        plant(source, archived);
        return compressFolder(source, folder.path(), "yedek.ksd");
    }

    // The program folder as a restore must leave it: exactly the archive's
    // tree, on every mount.
    Tree restoredTree() {
        const QString expected = folder.file("beklenen");
        plant(expected, archived);
        return snapshot(expected);
    }
};

} // namespace

TEST_F(RootRestoreAcrossMounts, PutsEveryFileInPlaceOnEveryMountAndLeavesNoWorkingFolder) {
    extractArchive(packed(), program);
    // A working folder left on any mount would show up here too.
    EXPECT_EQ(firstDifference(restoredTree(), snapshot(program)), "");
}

TEST_F(RootRestoreAcrossMounts, AFailureOnAnyMountChangesNothingAnywhere) {
    // A file with a file system of its own on it cannot be moved aside (EBUSY).
    writeFile(folder.file("meşgul"), "meşgul");
    busy.emplace(folder.file("meşgul"), program + "/belgeler/bağlı/meşgul.txt");
    struct Case {
        const char* what;
        RawEntry extra;    // last in the archive
        const char* named; // in the failure's text
    };
    const Case cases[] = {
        {"no room for its share on the inner tmpfs",
         {"ram/iç/büyük.bin", QByteArray(8 << 20, '\0')},
         "ram/iç"},
        {"a file where a folder is, on the inner tmpfs", {"ram/iç/klasör", "dosya"}, "klasör"},
        {"a move failing on the bind mount after every other file moved",
         {"belgeler/bağlı/meşgul.txt", "yeni"},
         "meşgul.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<RawEntry> entries;
        for (const Planted& file : archived) {
            entries.push_back(
                {file.path.toStdString(), file.content, file.link ? 0120777u : 0100644u});
        }
        entries.push_back(c.extra);
        const QString archivePath = folder.file("bozuk.zip");
        writeRawZip(archivePath, entries);
        const Tree unchanged = snapshot(program);
        try {
            extractArchive(archivePath, program);
            ADD_FAILURE() << "the restore did not fail";
        } catch (const Failure& failure) {
            EXPECT_TRUE(QString::fromUtf8(failure.what()).contains(QString::fromUtf8(c.named)))
                << failure.what();
        }
        EXPECT_EQ(firstDifference(unchanged, snapshot(program)), "");
    }
}

TEST_F(RootRestoreAcrossMounts, ARestoreKilledAtAnyMoveIsUndoneAtTheNextStart) {
    const QString archivePath = packed();
    const Tree old = snapshot(program);
    // Every move is a rename: the restore is killed as it starts each one in
    // turn (and the renames that put its own files in place), until it ends.
    int midway = 0;
    for (int rename = 1;; ++rename) {
        ASSERT_LT(rename, 100) << "the restore never ended";
        if (!restoreKilledAtRename(archivePath, program, rename)) {
            EXPECT_EQ(firstDifference(restoredTree(), snapshot(program)), "");
            std::printf("[ measured ] killed at %d renames, %d of them with files moved\n",
                        rename - 1, midway);
            break;
        }
        int placed = 0;
        for (const Planted& file : archived) {
            const QString path = program + "/" + file.path;
            placed += file.link ? QFileInfo(path).symLinkTarget().endsWith(file.content)
                                : QFileInfo::exists(path) && readBytes(path) == file.content;
        }
        midway += placed > 0 && placed < static_cast<int>(archived.size());
        fs::RestoreRecovery::recover(fs::toSystemPath(program));
        ASSERT_EQ(firstDifference(old, snapshot(program)), "") << "killed at rename " << rename;
    }
    // At least one kill after each file but the last was put in place.
    EXPECT_GE(midway, static_cast<int>(archived.size()) - 1);
}

TEST_F(RootRestoreAcrossMounts, ARestoreCutOffWhileADiskIsAwayAtTheNextStartDoesNotBlockTheNext) {
    const QString archivePath = packed();
    // Killed with everything staged, as its journal is put in place.
    ASSERT_TRUE(restoreKilledAtRename(archivePath, program, 1));
    ASSERT_FALSE(QFileInfo::exists(program + "/.kavlento-geri-yukleme/gunluk"));
    ASSERT_TRUE(QFileInfo::exists(program + "/belgeler/bağlı/.kavlento-geri-yukleme/yeni"));
    // The next start comes without the bound disk; it is back for the restore after.
    bound.reset();
    fs::RestoreRecovery::recover(fs::toSystemPath(program));
    bound.emplace(folder.file("disk"), program + "/belgeler/bağlı");
    extractArchive(archivePath, program);
    EXPECT_EQ(firstDifference(restoredTree(), snapshot(program)), "");
}

// On an exFAT stick every entry shows the mount's owner and mode 0777, the
// working folder too: a restore killed at any move there is still undone at
// the next start, and the one let run leaves just the archive's files.
TEST(RootRestoreOnAStick, ARestoreKilledAtAnyMoveIsUndoneAtTheNextStart) {
    KAVLENTO_NEEDS_ROOT("mounts a file system");
    const TempFolder folder;
    const MountedFileSystem stick(FileSystemKind::ExFat, folder.file("stick"), 64);
    const QString program = stick.path() + "/program";
    plant(program, {{"a.txt", "eski a"}, {"alt/b.txt", "eski b"}, {"fazla.txt", "arşivde yok"}});
    const std::vector<Planted> archived{
        {"a.txt", "yeni a"}, {"alt/b.txt", "yeni b"}, {"yeni/c.txt", "yeni c"}};
    plant(folder.file("kaynak"), archived);
    const QString archivePath = compressFolder(folder.file("kaynak"), folder.path(), "yedek.ksd");
    const Tree old = snapshot(program);
    int rename = 1;
    for (; restoreKilledAtRename(archivePath, program, rename); ++rename) {
        ASSERT_LT(rename, 100) << "the restore never ended";
        EXPECT_TRUE(archive::recoverInterruptedRestore(program).empty());
        ASSERT_EQ(firstDifference(old, snapshot(program)), "") << "killed at rename " << rename;
    }
    EXPECT_GT(rename, 7); // killed as its journal and each of its six moves went in place
    for (const Planted& file : archived) {
        EXPECT_EQ(readBytes(program + "/" + file.path), file.content);
    }
    EXPECT_EQ(QDir(program).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"a.txt", "alt", "yeni"}));
}

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/JobControl.h"
#include "fs/File.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/InstalledProgram.h"
#include "support/MountedFileSystem.h"
#include "support/ReliabilityTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

const QString kDriver = QStringLiteral(CRASH_DRIVER);

struct Outcome {
    int exitCode = -1;
    QString errors;
};

class Faults : public InstalledProgram {
protected:
    // Runs a program to its end; `fileSizeLimit` > 0 makes every file larger
    // than that fail to write (EFBIG), as a full disk would.
    Outcome run(const QString& program, const QStringList& arguments, qint64 fileSizeLimit = 0,
                bool unprivileged = false) {
        QProcess process;
        process.setProcessEnvironment(headlessEnvironment());
        if (fileSizeLimit > 0) {
            process.setChildProcessModifier([fileSizeLimit] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(fileSizeLimit),
                                   static_cast<rlim_t>(fileSizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        }
        QString command = program;
        QStringList args = arguments;
        if (unprivileged) {
            startAsNobody(command, args);
        }
        process.start(command, args);
        EXPECT_TRUE(process.waitForFinished(120000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

    Outcome backup(qint64 fileSizeLimit = 0, bool unprivileged = false) {
        return run(program(), {"4702519836", "OtoRadizEv"}, fileSizeLimit, unprivileged);
    }

    QStringList filesUnder(const QString& root) {
        QStringList files;
        for (const auto& [path, entry] : snapshot(root)) {
            if (entry.type == 'f') {
                files.append(QString::fromStdString(path));
            }
        }
        return files;
    }

    QString makeArchiveOf(const QString& source, const QString& name) {
        return compressFolder(source, folder.path(), name);
    }

    static bool runsAsRootWithoutSetpriv() {
        return ::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty();
    }
};

} // namespace

// Faults that mount file systems of their own or restore as another user.
class RootFaults : public Faults {
protected:
    void SetUp() override {
        KAVLENTO_NEEDS_ROOT("mounts file systems, or runs the program as another user");
        Faults::SetUp();
    }
};

TEST_F(RootFaults, AFullDiskDuringABackupLeavesNoArchive) {
    writeFile(programFolder + "/resim.jpg", incompressibleBytes(24 << 20, 1));
    writeFile(programFolder + "/not.txt", "not");
    const MountedFileSystem small(FileSystemKind::Tmpfs, targetFolder, 12);
    store::TargetSetting(programFolder).save(targetFolder);
    const Outcome outcome = backup();
    EXPECT_TRUE(outcome.errors.contains("diskte yer kalmadı")) << outcome.errors.toStdString();
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(filesUnder(targetFolder).isEmpty())
        << filesUnder(targetFolder).join(", ").toStdString();
    EXPECT_EQ(store::TargetSetting(programFolder).load(), targetFolder); // nothing saved on failure
}

TEST_F(RootFaults, ARestoreTooLargeForTheDiskIsRefusedBeforeAnythingChanges) {
    // A compression bomb: a few hundred kilobytes that unpack to 400 MB.
    const QString bombSource = folder.file("bomba");
    writeFile(bombSource + "/sifir.bin", QByteArray(400 << 20, '\0'));
    const QString bomb = makeArchiveOf(bombSource, "bomba.ksd");
    QDir(bombSource).removeRecursively();
    EXPECT_LT(QFileInfo(bomb).size(), 1 << 20);

    const QString small = folder.file("kucuk");
    const MountedFileSystem fs(FileSystemKind::Tmpfs, small, 64);
    writeFile(small + "/veri.db", "canlı veri");
    const Tree before = snapshot(small);
    const Outcome outcome = run(kDriver, {"restore", bomb, small});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.errors.contains("hata 61")) << outcome.errors.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(small)), "");
}

TEST_F(Faults, AWriteFailingHalfwayThroughARestoreChangesNothing) {
    const QString source = folder.file("kaynak");
    writeFile(source + "/veri.db", "yeni veri");
    writeFile(source + "/büyük.bin", incompressibleBytes(12 << 20, 3));
    const QString archivePath = makeArchiveOf(source, "yeni.ksd");
    writeFile(programFolder + "/veri.db", "eski veri");
    writeFile(programFolder + "/büyük.bin", "eski");
    const Tree before = snapshot(programFolder);
    // Files above 4 MB cannot be written: the large file fails in the middle.
    const Outcome outcome = run(kDriver, {"restore", archivePath, programFolder}, 4 << 20);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.errors.contains("hata 61")) << outcome.errors.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Faults, AReadOnlyProgramFolderFailsABackupCleanly) {
    if (runsAsRootWithoutSetpriv()) {
        GTEST_SKIP() << "needs setpriv to run as an ordinary user";
    }
    writeFile(programFolder + "/veri.db", pseudoText(1 << 20, 4));
    store::TargetSetting(programFolder).save(targetFolder);
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(targetFolder).constData(), 0777);
    ::chmod(QFile::encodeName(programFolder).constData(), 0555);
    const Tree before = snapshot(programFolder);
    const Outcome outcome = backup(0, true);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.errors.contains("yedekleme.lst")) << outcome.errors.toStdString();
    EXPECT_TRUE(filesUnder(targetFolder).isEmpty());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Faults, AReadOnlyProgramFolderFailsARestoreCleanly) {
    if (runsAsRootWithoutSetpriv()) {
        GTEST_SKIP() << "needs setpriv to run as an ordinary user";
    }
    const QString source = folder.file("kaynak");
    writeFile(source + "/veri.db", "yeni veri");
    const QString archivePath = makeArchiveOf(source, "yeni.ksd");
    ::chmod(QFile::encodeName(archivePath).constData(), 0644);
    writeFile(programFolder + "/veri.db", "eski veri");
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(programFolder).constData(), 0555);
    const Tree before = snapshot(programFolder);
    const Outcome outcome = run(kDriver, {"restore", archivePath, programFolder}, 0, true);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.errors.contains("hata 70")) << outcome.errors.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Faults, AMoveFailingHalfwayThroughARestorePutsEveryMovedFileBack) {
    // Thousands of files are moved into place before one cannot be: the
    // journal, long enough to be written in several pieces, must bring back
    // every one already moved, and what the archive lacks.
    std::vector<RawEntry> entries;
    for (int i = 0; i < 2000; ++i) {
        const QString name = QStringLiteral("belge-%1-adı-biraz-uzun-bir-rapor.txt").arg(i);
        writeFile(programFolder + "/" + name, QStringLiteral("eski %1").arg(i).toUtf8());
        entries.push_back({name.toStdString(), QStringLiteral("yeni %1").arg(i).toUtf8()});
    }
    writeFile(programFolder + "/yedekte yok/son.txt", "eski son");
    const QString archivePath = folder.file("yeni.ksd");
    writeRawZip(archivePath, entries);
    const Tree before = snapshot(programFolder);
    qputenv("KAVLENTO_FAIL_RENAME", "1800");
    const Outcome outcome = run(kDriver, {"restore", archivePath, programFolder});
    qunsetenv("KAVLENTO_FAIL_RENAME");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.errors.contains("Denemede istenen hata")) << outcome.errors.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

// Root made a folder of the program folder read-only, and its owner restores;
// or root restores into a folder made immutable: the restore is refused
// before anything is written, and leaves nothing that could stop a later start.
TEST_F(RootFaults, AFolderTheUserCannotChangeRefusesTheRestoreBeforeAnythingIsWritten) {
    writeFile(programFolder + "/a.txt", "eski");
    writeFile(programFolder + "/kilitli/son.txt", "eski son");
    const QString archivePath = folder.file("yeni.ksd");
    writeRawZip(archivePath, {{"a.txt", "yeni"}, {"kilitli/son.txt", "yeni son"}});
    ::chmod(QFile::encodeName(archivePath).constData(), 0644);
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(programFolder).constData(), 0777);
    const QString locked = programFolder + "/kilitli";
    for (const bool immutable : {false, true}) {
        SCOPED_TRACE(immutable);
        if (immutable) {
            ::chmod(QFile::encodeName(locked).constData(), 0755);
            if (runTool("chattr", {"+i", locked}).exitCode != 0) {
                GTEST_SKIP() << "this file system keeps no immutable flag";
            }
        } else {
            ::chmod(QFile::encodeName(locked).constData(), 0555); // root's
        }
        const Tree before = snapshot(programFolder);
        const Outcome outcome =
            run(kDriver, {"restore", archivePath, programFolder}, 0, !immutable);
        runTool("chattr", {"-i", locked});
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_TRUE(outcome.errors.contains("değiştirme izniniz olmayan") &&
                    outcome.errors.contains("/kilitli"))
            << outcome.errors.toStdString();
        EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
        EXPECT_FALSE(QFileInfo::exists(programFolder + "/.kavlento-geri-yukleme"));
    }
}

// An immutable file the archive lacks could never go: the restore is refused,
// naming it, before anything is written.
TEST_F(RootFaults, AnImmutableFileTheArchiveLacksRefusesTheRestoreFirst) {
    writeFile(programFolder + "/a.txt", "eski");
    const QString fixed = programFolder + "/sonradan/kalici.txt";
    writeFile(fixed, "kalıcı");
    const QString archivePath = folder.file("yeni.ksd");
    writeRawZip(archivePath, {{"a.txt", "yeni"}});
    if (runTool("chattr", {"+i", fixed}).exitCode != 0) {
        GTEST_SKIP() << "this file system keeps no immutable flag";
    }
    const Tree before = snapshot(programFolder);
    const Outcome outcome = run(kDriver, {"restore", archivePath, programFolder});
    runTool("chattr", {"-i", fixed});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.errors.contains("değiştirilemez") && outcome.errors.contains("kalici.txt"))
        << outcome.errors.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    EXPECT_FALSE(QFileInfo::exists(programFolder + "/.kavlento-geri-yukleme"));
}

// On a stick that folds letter case, an archive's spelling decides nothing: a
// folder it spells otherwise loses what the archive lacks, and an entry named
// like the working folder is refused even where nothing else shows the folding.
TEST_F(RootFaults, OnAStickThatFoldsLetterCaseTheArchivesSpellingKeepsNothingExtra) {
    const MountedFileSystem stick(FileSystemKind::ExFat, folder.file("stick"), 64);
    const QString empty = stick.path() + "/bos";
    QDir().mkpath(empty);
    const QString hostile = folder.file("sinsi.ksd");
    writeRawZip(hostile, {{".KAVLENTO-GERI-YUKLEME/a.txt", "x"}, {"1", "x"}},
                RawEncryption::Aes256);
    const Outcome refused = run(kDriver, {"restore", hostile, empty});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.errors.contains("çalışma klasörünün adını"))
        << refused.errors.toStdString();
    EXPECT_TRUE(QDir(empty).isEmpty());

    const QString data = stick.path() + "/veri";
    writeFile(data + "/Belgeler/eski.txt", "eski");
    writeFile(data + "/Belgeler/kalan.txt", "eski");
    const QString archive = folder.file("yedek.ksd");
    writeRawZip(archive, {{"belgeler/kalan.txt", "yeni"}}, RawEncryption::Aes256);
    ASSERT_EQ(run(kDriver, {"restore", archive, data}).exitCode, 0);
    // Listed, not looked up: the kernel may keep the other spelling's entry a while.
    EXPECT_EQ(QDir(data + "/Belgeler").entryList(QDir::Files), QStringList{"kalan.txt"});
    EXPECT_EQ(readBytes(data + "/belgeler/kalan.txt"), "yeni");
}

TEST_F(Faults, ATargetFolderRemovedDuringABackupEndsInAClearError) {
    writeFile(programFolder + "/veri.db", pseudoText(96 << 20, 8));
    store::TargetSetting(programFolder).save(targetFolder);
    QProcess process;
    process.setProcessEnvironment(headlessEnvironment());
    process.start(program(), {"4702519836", "OtoRadizEv"});
    ASSERT_TRUE(process.waitForStarted());
    QThread::msleep(300);
    ASSERT_TRUE(QDir(targetFolder).removeRecursively());
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("hata")) << errors.toStdString();
    EXPECT_FALSE(QFileInfo::exists(targetFolder));
    // A backup is recorded only once its archive is complete.
    EXPECT_FALSE(store::HistoryFile(programFolder).load().has_value());
}

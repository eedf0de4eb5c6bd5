#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/ExtractionRules.h"
#include "archive/JobControl.h"
#include "fs/File.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/HistoryRecords.h"
#include "support/InstalledProgram.h"
#include "support/ReliabilityTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QFile>

#include <functional>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

constexpr int kMoments = 24;
const QString kDriver = QStringLiteral(CRASH_DRIVER);

// Kavlento killed at many moments of an operation: after each kill the stored
// files must parse, no archive under its final name may be incomplete, and the
// next start must work.
class SlowCrash : public InstalledProgram {
protected:
    int killed = 0;

    void TearDown() override {
        std::printf("[ measured ] killed at %d moments\n", killed);
        EXPECT_GE(killed, 20);
    }

    // The next start reads the stored files and undoes a cut-off restore;
    // its check of the backups says 9 when none is listed, 0 when all are sound.
    void expectNextStartWorks(const QString& in, int status = 9) {
        QProcess process;
        process.setProcessEnvironment(headlessEnvironment());
        process.start(in + "/kavlento", {"4702519836", "--denetle"});
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), status) << process.readAllStandardError().toStdString();
    }

    // Resets the state, runs the operation and kills it after `afterMs`. A run
    // that ends before (a loaded machine runs faster or slower than the timed
    // run) is repeated with an earlier moment.
    void killAt(int afterMs, const std::function<void()>& reset, const QString& program,
                const QStringList& arguments) {
        for (int attempt = 0; attempt < 4; ++attempt, afterMs = afterMs * 2 / 3) {
            reset();
            if (killAfter(program, arguments, headlessEnvironment(), afterMs)) {
                ++killed;
                return;
            }
        }
    }
};

// Reads every entry of an archive with the password, checking everything.
void expectCompleteArchive(const QString& path) {
    const auto checked = archive::openCheckedArchive(fs::toSystemPath(path));
    const zip::ZipReader& reader = *checked;
    std::vector<std::uint8_t> buffer(1 << 16);
    for (const zip::ZipEntry& entry : reader.entries()) {
        if (entry.isFolder()) {
            continue;
        }
        zip::EntryReader content(reader, entry, "6150937284");
        while (content.read(buffer.data(), buffer.size()) > 0) {
        }
    }
}

} // namespace

TEST_F(SlowCrash, AKilledTargetSaveLeavesTheOldOrTheNewSetting) {
    const QString a = QStringLiteral("/yedek/ARŞİV, ESKİ");
    const QString b = QStringLiteral("/media/Şirket Yedekleri/ikinci hedef");
    store::TargetSetting(programFolder).save(a);
    for (const int moment : killMoments(400, kMoments)) {
        killAt(moment, [] {}, kDriver, {"save", programFolder, a, b});
        const QByteArray stored = readBytes(programFolder + "/yedekleme.dat");
        EXPECT_TRUE(stored == store::TargetSetting::encode(a) ||
                    stored == store::TargetSetting::encode(b))
            << "after " << moment << " ms: " << stored.toStdString();
        expectNextStartWorks(programFolder);
    }
}

TEST_F(SlowCrash, AKilledRemovalLeavesTheOldOrTheNewHistory) {
    const store::HistoryFile history(programFolder);
    QList<store::HistoryRecord> original;
    for (int i = 0; i < 300; ++i) {
        original.append({QStringLiteral("%1.12.2026").arg(1 + i % 28),
                         QStringLiteral("10:00:%1").arg(i % 60),
                         QStringLiteral("/yedek/Şube %1/%2.ksd").arg(i % 7).arg(i)});
    }
    QByteArray originalBytes;
    for (const store::HistoryRecord& record : original) {
        originalBytes += store::HistoryFile::format(record);
    }
    writeBytes(history.path(), originalBytes);
    const qint64 duration =
        timeUninterrupted(kDriver, {"remove", programFolder}, headlessEnvironment());

    for (const int moment : killMoments(duration, kMoments)) {
        killAt(moment, [&] { writeBytes(history.path(), originalBytes); }, kDriver,
               {"remove", programFolder});
        const auto loaded = history.load();
        ASSERT_TRUE(loaded.has_value());
        const QList<store::HistoryRecord> records = recordsOf(*loaded);
        const qsizetype removed = original.size() - records.size();
        EXPECT_EQ(records, original.mid(removed)) << "after " << moment << " ms";
        QByteArray expected;
        for (const store::HistoryRecord& record : records) {
            expected += store::HistoryFile::format(record);
        }
        EXPECT_EQ(readBytes(history.path()), expected) << "after " << moment << " ms";
        expectNextStartWorks(programFolder);
    }
}

TEST_F(SlowCrash, AKilledRestoreLeavesEveryFileAllOldOrAllNew) {
    const QString oldTree = folder.file("eski");
    makeSampleTree(oldTree);
    for (int i = 0; i < 150; ++i) {
        writeFile(oldTree + QStringLiteral("/belgeler/%1.txt").arg(i),
                  pseudoText(20000 + i, i + 1));
    }
    writeFile(oldTree + "/veri/büyük.db", pseudoText(64 << 20, 99));
    // A read-only folder is opened up for its file's move and closed again.
    writeFile(oldTree + "/salt okunur/kayıt.txt", "eski");
    ::chmod(QFile::encodeName(oldTree + "/salt okunur").constData(), 0555);
    install(oldTree);

    const QString newTree = folder.file("yeni");
    ASSERT_EQ(runTool("cp", {"-a", oldTree, newTree}).exitCode, 0);
    for (int i = 0; i < 150; i += 2) {
        writeFile(newTree + QStringLiteral("/belgeler/%1.txt").arg(i),
                  pseudoText(9000 + i, 500 + i));
    }
    writeFile(newTree + "/veri/büyük.db", pseudoText(64 << 20, 7));
    writeFile(newTree + "/yeni klasör/yeni.txt", "yeni");
    writeFile(newTree + "/salt okunur/kayıt.txt", "yeni");
    QFile::remove(newTree + "/kavlento");
    const QString archivePath = compressFolder(newTree, targetFolder, "yeni.ksd");
    // The archive does not hold the program file; the folder's own copy stays.
    const Tree before = snapshot(oldTree, {"kavlento"});
    const Tree after = snapshot(newTree, {"kavlento"});

    const auto freshProgramFolder = [&] {
        QDir(programFolder).removeRecursively();
        ASSERT_EQ(runTool("cp", {"-a", oldTree, programFolder}).exitCode, 0);
    };
    freshProgramFolder();
    const qint64 duration =
        timeUninterrupted(kDriver, {"restore", archivePath, programFolder}, headlessEnvironment());
    EXPECT_EQ(firstDifference(after, snapshot(programFolder, {"kavlento"})), "");

    int old = 0;
    int restored = 0;
    for (const int moment : killMoments(duration, kMoments)) {
        killAt(moment, freshProgramFolder, kDriver, {"restore", archivePath, programFolder});
        expectNextStartWorks(programFolder);
        const Tree now = snapshot(programFolder, {"kavlento"});
        const bool allOld = firstDifference(before, now).empty();
        const bool allNew = firstDifference(after, now).empty();
        EXPECT_TRUE(allOld || allNew)
            << "after " << moment << " ms: old " << firstDifference(before, now) << "; new "
            << firstDifference(after, now);
        old += allOld;
        restored += allNew;
    }
    std::printf("[ measured ] %d kills left the old folder, %d the restored one\n", old, restored);
}

TEST_F(SlowCrash, AKilledBackupLeavesNoIncompleteArchive) {
    makeSampleTree(programFolder);
    for (int i = 0; i < 300; ++i) {
        writeFile(programFolder + QStringLiteral("/belgeler/%1.txt").arg(i),
                  pseudoText(8000 + i, i + 3));
    }
    writeFile(programFolder + "/veri/büyük.db", pseudoText(64 << 20, 5));
    store::TargetSetting(programFolder).save(targetFolder);
    const QStringList unattended{"4702519836", "OtoRadizEv"};
    const qint64 duration = timeUninterrupted(program(), unattended, headlessEnvironment());

    const auto clean = [&] {
        QDir(targetFolder).removeRecursively();
        QDir().mkpath(targetFolder);
        QFile::remove(programFolder + "/yedekleme.lst");
    };
    for (const int moment : killMoments(duration, kMoments)) {
        killAt(moment, clean, program(), unattended);
        for (const QString& dated :
             QDir(targetFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QDir datedFolder(targetFolder + "/" + dated);
            for (const QString& name : datedFolder.entryList(QDir::Files | QDir::Hidden)) {
                EXPECT_TRUE(name.endsWith(".ksd")) << "a leftover: " << name.toStdString();
                EXPECT_NO_THROW(expectCompleteArchive(datedFolder.filePath(name)))
                    << "after " << moment << " ms: " << name.toStdString();
            }
        }
        // A kill after the record is written leaves one sound backup listed.
        const auto records = store::HistoryFile(programFolder).load();
        const std::size_t listed = records ? records->size() : 0;
        EXPECT_LE(listed, 1u);
        EXPECT_EQ(store::TargetSetting(programFolder).load(), targetFolder);
        expectNextStartWorks(programFolder, listed == 1 ? 0 : 9);
    }
}

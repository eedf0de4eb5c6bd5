#include "fs/FolderTransaction.h"
#include "fs/RestoreRecovery.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/StepFaults.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <cstdio>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// A folder as the user had it, and the backup to restore over it: files
// replaced, added and gone, a folder its owner made read-only, a folder the
// backup lacks.
class RestoreSteps : public ArchiveJobsTest {
protected:
    QString old = work.file("eski");
    QString archivePath;
    Tree oldTree;

    void SetUp() override {
        ArchiveJobsTest::SetUp();
        for (const QString& root : {old, source}) {
            writeFile(root + "/a.txt", root == old ? "eski a" : "yeni a");
            writeFile(root + "/alt/b.txt", root == old ? "eski b" : "yeni b");
            writeFile(root + "/salt okunur/c.txt", root == old ? "eski c" : "yeni c");
            QFile::setPermissions(root + "/salt okunur", QFile::ReadOwner | QFile::ExeOwner |
                                                             QFile::ReadGroup | QFile::ExeGroup |
                                                             QFile::ReadOther | QFile::ExeOther);
        }
        writeFile(old + "/sonradan.db-journal", "yedekten sonra");
        writeFile(old + "/sonradan/klasör/d.txt", "yedekten sonra");
        writeFile(source + "/yeni/e.txt", "yeni e");
        archivePath = compress(source);
        oldTree = snapshot(old);
    }

    // The old folder again, made anew: an ordinary user removes the last
    // round's read-only folders only once they are opened up.
    void freshCopy() {
        for (QDirIterator folder(restored, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
             folder.hasNext();) {
            QFile::setPermissions(folder.next(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        ASSERT_TRUE(QDir(restored).removeRecursively());
        plantTree(restored, oldTree);
        ASSERT_EQ(firstDifference(oldTree, snapshot(restored)), "");
    }
};

} // namespace

// Each step of a restore fails in turn, the k-th rename, mode change, removal
// and sync: the folder is then exactly as it was or exactly restored, and the
// next start leaves it so, with nothing of the restore's own behind.
TEST_F(RestoreSteps, AFailureAtAnyStepLeavesTheFolderAsItWasOrRestored) {
    const Tree before = snapshot(old);
    const Tree after = snapshot(source);
    for (const fs::Step step : {fs::Step::Rename, fs::Step::ModeChange, fs::Step::Removal,
                                fs::Step::RemovalOfTree, fs::Step::MakeFolder, fs::Step::NewFile,
                                fs::Step::SyncFile, fs::Step::Sync, fs::Step::SyncFileSystem}) {
        int failed = 0;
        for (int k = 1;; ++k) {
            SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(step) << " #" << k);
            ASSERT_LT(k, 200) << "the restore never got through";
            ASSERT_NO_FATAL_FAILURE(freshCopy());
            FailingStep failing(step, k);
            try {
                extractArchive(archivePath, restored, archive::kArchivePassword, &failing);
            } catch (const Failure&) {
                ++failed;
            }
            const bool reached = failing.reached();
            const Tree now = snapshot(restored, {".kavlento-geri-yukleme"});
            const bool wasOld = firstDifference(before, now).empty();
            EXPECT_TRUE(wasOld || firstDifference(after, now).empty())
                << firstDifference(before, now) << " / " << firstDifference(after, now);
            fs::RestoreRecovery::recover(fs::toSystemPath(restored));
            const Tree next = snapshot(restored);
            EXPECT_EQ(firstDifference(wasOld ? before : after, next), "");
            if (!reached) {
                break;
            }
        }
        // The working folders go only after the commit: what cannot go then
        // stays for the next start, and the restore is done all the same.
        EXPECT_TRUE(failed > 0 || step == fs::Step::RemovalOfTree) << static_cast<int>(step);
        std::printf("[ measured ] step %d: %d restores failed\n", static_cast<int>(step), failed);
    }
}

// The folder's owner moves a sub-folder out and puts a link to another folder
// in its place while the files move, at each rename in turn: nothing lands in
// the folder the link leads to, the moved folder gets its own files back, and
// the restore says what happened instead of reporting success.
TEST_F(RestoreSteps, AFolderMovedAwayWhileTheFilesMoveIsFoundAndEverythingUndone) {
    if (!linksCanBeMadeIn(work.path())) {
        GTEST_SKIP() << "this system makes no links here, so none can be swapped in";
    }
    const QString moved = work.file("tasinan");
    const QString elsewhere = work.file("baska");
    writeFile(elsewhere + "/b.txt", "başkasının");
    const Tree there = snapshot(elsewhere);
    Tree expected = snapshot(old, {"alt"});
    for (int k = 1;; ++k) {
        SCOPED_TRACE(k);
        ASSERT_LT(k, 100);
        ASSERT_NO_FATAL_FAILURE(freshCopy());
        QDir(moved).removeRecursively();
        FailingStep swap(fs::Step::Rename, k, [&] {
            QDir().rename(restored + "/alt", moved);
            makeLink(restored + "/alt", elsewhere);
        });
        bool threw = false;
        try {
            extractArchive(archivePath, restored, archive::kArchivePassword, &swap);
        } catch (const Failure&) {
            threw = true;
        }
        const bool reached = swap.reached();
        if (!reached) {
            break; // the last rename came before the k-th
        }
        EXPECT_TRUE(threw);
        EXPECT_EQ(firstDifference(expected, snapshot(restored, {"alt"})), "");
        EXPECT_EQ(readBytes(moved + "/b.txt"), "eski b");
        EXPECT_EQ(QDir(moved).entryList(QDir::Files), QStringList{"b.txt"});
        EXPECT_EQ(firstDifference(there, snapshot(elsewhere)), "");
        fs::RestoreRecovery::recover(fs::toSystemPath(restored));
    }
}

#ifndef _WIN32 // the power cut keeps what it takes with POSIX links
// The power goes at each change of a restore in turn, and what no sync had
// made durable is lost with it: after the next start the folder is exactly as
// it was, or, once the journal's removal (the commit) was on disk, exactly
// restored; never a mixture, and nothing of the restore's own is left.
TEST_F(RestoreSteps, APowerCutAtAnyStepLeavesTheFolderAsItWasOrRestored) {
    const Tree before = snapshot(old);
    const Tree after = snapshot(source);
    const QString stash = work.file("zula");
    int cuts = 0;
    for (int k = 1;; ++k) {
        SCOPED_TRACE(k);
        ASSERT_LT(k, 1000) << "the restore never got through";
        ASSERT_NO_FATAL_FAILURE(freshCopy());
        QDir(stash).removeRecursively();
        QDir().mkpath(stash);
        PowerCut cut(k, stash);
        try {
            extractArchive(archivePath, restored, archive::kArchivePassword, &cut);
        } catch (const Failure&) {
        }
        if (!cut.reached()) {
            break;
        }
        ++cuts;
        const bool committed = cut.kept(fs::Step::Removal, "gunluk");
        cut.loseWhatWasNotSynced();
        EXPECT_NO_THROW(fs::RestoreRecovery::recover(fs::toSystemPath(restored)));
        EXPECT_EQ(firstDifference(committed ? after : before, snapshot(restored)), "")
            << (committed ? "committed" : "not committed");
    }
    std::printf("[ measured ] %d power cuts\n", cuts);
}
#endif

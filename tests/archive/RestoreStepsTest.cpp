#include "fs/FaultInjection.h"
#include "fs/FolderTransaction.h"
#include "support/ArchiveJobsTestBase.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include <sys/stat.h>

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

    void SetUp() override {
        ArchiveJobsTest::SetUp();
        for (const QString& root : {old, source}) {
            writeFile(root + "/a.txt", root == old ? "eski a" : "yeni a");
            writeFile(root + "/alt/b.txt", root == old ? "eski b" : "yeni b");
            writeFile(root + "/salt okunur/c.txt", root == old ? "eski c" : "yeni c");
            ::chmod(QFile::encodeName(root + "/salt okunur").constData(), 0555);
        }
        writeFile(old + "/sonradan.db-journal", "yedekten sonra");
        writeFile(old + "/sonradan/klasör/d.txt", "yedekten sonra");
        writeFile(source + "/yeni/e.txt", "yeni e");
        archivePath = compress(source);
    }

    void freshCopy() {
        QDir(restored).removeRecursively();
        ASSERT_EQ(runTool("cp", {"-a", old, restored}).exitCode, 0);
    }
};

} // namespace

// Each step of a restore fails in turn, the k-th rename, mode change, removal
// and sync: the folder is then exactly as it was or exactly restored, and the
// next start leaves it so, with nothing of the restore's own behind.
TEST_F(RestoreSteps, AFailureAtAnyStepLeavesTheFolderAsItWasOrRestored) {
    const Tree before = snapshot(old);
    const Tree after = snapshot(source);
    for (const fs::Step step :
         {fs::Step::Rename, fs::Step::ModeChange, fs::Step::Removal, fs::Step::Sync}) {
        int failed = 0;
        for (int k = 1;; ++k) {
            SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(step) << " #" << k);
            ASSERT_LT(k, 200) << "the restore never got through";
            freshCopy();
            fs::failStep(step, k);
            try {
                extract(archivePath, restored);
            } catch (const Failure&) {
                ++failed;
            }
            const bool reached = fs::stepReached();
            fs::failStep(step, 0);
            const Tree now = snapshot(restored, {".kavlento-geri-yukleme"});
            const bool wasOld = firstDifference(before, now).empty();
            EXPECT_TRUE(wasOld || firstDifference(after, now).empty())
                << firstDifference(before, now) << " / " << firstDifference(after, now);
            fs::FolderTransaction::recover(fs::toSystemPath(restored));
            const Tree next = snapshot(restored);
            EXPECT_EQ(firstDifference(wasOld ? before : after, next), "");
            if (!reached) {
                break;
            }
        }
        EXPECT_GT(failed, 0);
        std::printf("[ measured ] step %d: %d restores failed\n", static_cast<int>(step), failed);
    }
}

// The folder's owner moves a sub-folder out and puts a link to another folder
// in its place while the files move, at each rename in turn: nothing lands in
// the folder the link leads to, the moved folder gets its own files back, and
// the restore says what happened instead of reporting success.
TEST_F(RestoreSteps, AFolderMovedAwayWhileTheFilesMoveIsFoundAndEverythingUndone) {
    const QString moved = work.file("tasinan");
    const QString elsewhere = work.file("baska");
    writeFile(elsewhere + "/b.txt", "başkasının");
    const Tree there = snapshot(elsewhere);
    Tree expected = snapshot(old, {"alt"});
    for (int k = 1;; ++k) {
        SCOPED_TRACE(k);
        ASSERT_LT(k, 100);
        freshCopy();
        QDir(moved).removeRecursively();
        fs::failStep(fs::Step::Rename, k, [&] {
            QDir().rename(restored + "/alt", moved);
            makeLink(restored + "/alt", elsewhere);
        });
        bool threw = false;
        try {
            extract(archivePath, restored);
        } catch (const Failure&) {
            threw = true;
        }
        const bool reached = fs::stepReached();
        fs::failStep(fs::Step::Rename, 0);
        if (!reached) {
            break; // the last rename came before the k-th
        }
        EXPECT_TRUE(threw);
        EXPECT_EQ(firstDifference(expected, snapshot(restored, {"alt"})), "");
        EXPECT_EQ(readBytes(moved + "/b.txt"), "eski b");
        EXPECT_EQ(QDir(moved).entryList(QDir::Files), QStringList{"b.txt"});
        EXPECT_EQ(firstDifference(there, snapshot(elsewhere)), "");
        fs::FolderTransaction::recover(fs::toSystemPath(restored));
    }
}

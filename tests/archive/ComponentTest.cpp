#include "archive/ArchiveComponent.h"
#include "archive/EntryReading.h"
#include "fs/File.h"
#include "support/ArchiveJobsTestBase.h"

#include <QSignalSpy>
#include <QTest>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// A folder chooser that answers from the script and records what it was asked.
struct ScriptedChooser {
    QString folderToPick;
    QString askedPrompt;
};

class Component : public ArchiveJobsTest {
protected:
    ScriptedChooser dialogs;
    archive::ArchiveComponent zip{[this](const QString& prompt, const QString&) {
        dialogs.askedPrompt = prompt;
        return dialogs.folderToPick;
    }};

    archive::CompressCommand compressCommand(const QString& name = QStringLiteral("1.ksd")) {
        return archive::backupCommand(source, target, name);
    }
};

std::vector<int> percentages(const QSignalSpy& spy) {
    std::vector<int> values;
    for (const QList<QVariant>& call : spy) {
        values.push_back(call.at(0).toInt());
    }
    return values;
}

void expectStrictlyRisingTo100(const std::vector<int>& values) {
    ASSERT_FALSE(values.empty());
    for (std::size_t i = 1; i < values.size(); ++i) {
        EXPECT_LT(values[i - 1], values[i]);
    }
    EXPECT_GE(values.front(), 0);
    EXPECT_EQ(values.back(), 100);
}

} // namespace

TEST_F(Component, TheFolderChooserAsksWithThePromptAndReturnsTheChoice) {
    dialogs.folderToPick = "/media/yedek";
    EXPECT_EQ(zip.BrowseForFolder("Nereye Yedek Alınsın?", QString()), "/media/yedek");
    EXPECT_EQ(dialogs.askedPrompt, "Nereye Yedek Alınsın?");
    dialogs.folderToPick.clear();
    EXPECT_EQ(zip.BrowseForFolder("Nereye Yedek Alınsın?", QString()), QString());
}

TEST_F(Component, CompressFinishesOnlyOnceTheArchiveIsCompleteOnDisk) {
    makeSampleTree(source);
    QSignalSpy progress(&zip, &archive::ArchiveComponent::Progress);
    QSignalSpy failed(&zip, &archive::ArchiveComponent::Failed);
    bool completeWhenFinished = false;
    QObject::connect(&zip, &archive::ArchiveComponent::CompressFinished,
                     [&](const QString& path, int entries, qint64 size, qint64) {
                         EXPECT_EQ(size, QFileInfo(path).size());
                         EXPECT_EQ(path, target + "/1.ksd");
                         EXPECT_GT(entries, 10);
#ifdef _WIN32
                         // No 7-Zip under Wine: this program's own reader checks every entry.
                         try {
                             archive::testArchive(fs::toSystemPath(path),
                                                  archive::kArchivePassword.toStdString());
                             completeWhenFinished = true;
                         } catch (const Failure& failure) {
                             ADD_FAILURE() << failure.description().toStdString();
                         }
#else
                         const ToolResult test = runTool("7zz", {"t", "-p6150937284", path});
                         completeWhenFinished = test.exitCode == 0;
#endif
                     });
    QSignalSpy finished(&zip, &archive::ArchiveComponent::CompressFinished);
    zip.Compress(compressCommand(), {}, 0);
    EXPECT_TRUE(zip.busy());
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_TRUE(completeWhenFinished);
    EXPECT_EQ(failed.count(), 0);
    expectStrictlyRisingTo100(percentages(progress));
}

TEST_F(Component, ExtractReports100OnlyWithEveryFileInPlace) {
    makeSampleTree(source);
    const QString archivePath = compress(source);
    QSignalSpy progress(&zip, &archive::ArchiveComponent::Progress);
    bool inPlaceAt100 = false;
    QObject::connect(&zip, &archive::ArchiveComponent::Progress, [&](int percent) {
        if (percent == 100) {
            inPlaceAt100 = firstDifference(snapshot(source), snapshot(restored)).empty();
        }
    });
    zip.Extract(archive::restoreCommand(archivePath, restored));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !progress.isEmpty() && progress.last().at(0).toInt() == 100; }, 60000));
    EXPECT_TRUE(inPlaceAt100);
    expectStrictlyRisingTo100(percentages(progress));
}

TEST_F(Component, FailuresArriveAsTheFailureSignal) {
    QSignalSpy failed(&zip, &archive::ArchiveComponent::Failed);
    QSignalSpy progress(&zip, &archive::ArchiveComponent::Progress);
    zip.Extract(archive::restoreCommand(work.file("yok.ksd"), restored));
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed.first().at(0).toInt(), static_cast<int>(FailureCode::FileNotFound));
    EXPECT_TRUE(failed.first().at(1).toString().contains("yok.ksd"));

    zip.Compress(archive::backupCommand(source, work.file("olmayan/gun"), "1.ksd"), {}, 0);
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed.last().at(0).toInt(), static_cast<int>(FailureCode::PathNotFound));
    for (const QList<QVariant>& call : progress) {
        EXPECT_LT(call.at(0).toInt(), 100);
    }
}

TEST_F(Component, ASecondJobIsRefusedAtOnce) {
    writeFile(source + "/buyuk.bin", QByteArray(64 << 20, 'k'));
    zip.Compress(compressCommand(), {}, 0);
    try {
        zip.Extract(archive::restoreCommand(work.file("a.ksd"), restored));
        ADD_FAILURE() << "a second job started";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::AlreadyBusy);
    }
    zip.cancelAndWait();
}

TEST_F(Component, CancellingLeavesNoArchiveAndNoFurtherSignal) {
    for (std::uint32_t i = 0; i < 8; ++i) {
        writeFile(source + QStringLiteral("/veri%1.db").arg(i), pseudoText(16 << 20, i + 1));
    }
    QSignalSpy progress(&zip, &archive::ArchiveComponent::Progress);
    QSignalSpy finished(&zip, &archive::ArchiveComponent::CompressFinished);
    QSignalSpy failed(&zip, &archive::ArchiveComponent::Failed);
    zip.Compress(compressCommand(), {}, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !progress.isEmpty() && progress.last().at(0).toInt() >= 5; }, 60000));
    zip.cancelAndWait();
    const int reported = progress.count();
    QTest::qWait(200);
    EXPECT_EQ(progress.count(), reported);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_TRUE(
        QDir(target)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
            .isEmpty());
}

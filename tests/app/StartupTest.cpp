#include "app/ProgramFixture.h"
#include "app/SingleInstance.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/ArchiveTestSupport.h"
#include "support/Controls.h"
#include "ui/StyledButton.h"

#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

using namespace kavlento;
using namespace kavlento::testing;

namespace {
const QByteArray kHistory =
    "\"06.12.2026\",\"08:24:34\",\"/yedek/06.12.2026/6122026.82434.ksd\"\r\n"
    "\"07.12.2026\",\"10:00:00\",\"/yedek/07.12.2026/7122026.1000.ksd\"\r\n";
} // namespace

using Startup = ProgramTest;

TEST_F(Startup, WithoutTheLaunchCodeTheFilesAreReadAndTheProgramEndsSilently) {
    writeBytes(programFile("yedekleme.lst"), kHistory);
    storeTarget("/yedek");
    const Tree before = snapshot(programFolder);
    start({});
    EXPECT_EQ(end.status, ExitStatus::NoLaunchCode);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(program->window().historyCount(), 2); // read before the launch code test
    EXPECT_EQ(program->window().targetText(), "/yedek");
    EXPECT_FALSE(program->window().isVisible());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Startup, TheKeywordWithoutTheLaunchCodeDoesNothing) {
    storeTarget("/yedek");
    start({"OtoRadizEv"});
    EXPECT_EQ(end.status, ExitStatus::NoLaunchCode);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Startup, TheLaunchCodeInsideALongerWordStartsTheProgram) {
    start({"abc4702519836xyz"});
    EXPECT_FALSE(end.status.has_value());
    EXPECT_TRUE(program->window().isVisible());
    EXPECT_EQ(state.lastPercent, 0);
    EXPECT_EQ(control<QLineEdit>(program->window(), "Text2")->text(),
              QDir::toNativeSeparators(programFolder).toUpper());
}

TEST_F(Startup, TheKeywordInOtherLetterCaseIsAnInteractiveStart) {
    storeTarget(targetFolder);
    start({"4702519836", "otoradizev"});
    EXPECT_FALSE(end.status.has_value());
    EXPECT_TRUE(program->window().isVisible());
    EXPECT_EQ(dialogs.shown.size(), dialogs.of("note").size()); // the unknown word's warning
}

TEST_F(Startup, ArgumentsAreJoinedWithBlanksSoMarkersStayFindable) {
    // "...36" ends one argument and "OtoRadizEv" starts the next: both are found.
    EXPECT_TRUE(CommandLine::fromArguments({"x4702519836", "OtoRadizEv"}).isUnattended());
    EXPECT_TRUE(CommandLine::fromArguments({"x4702519836OtoRadizEv"}).hasLaunchCode());
    EXPECT_EQ(CommandLine::fromArguments({"a", "b c"}).text(), "a b c");
    EXPECT_FALSE(CommandLine::fromArguments({"470251983", "6"}).hasLaunchCode());
}

TEST_F(Startup, AnUnattendedStartWithoutATargetSaysSoAndWritesNothing) {
    writeFile(programFile("yedekleme.dat"), "\"\"\r\n", 0644, 1500000000);
    const Tree before = snapshot(programFolder);
    start({"4702519836OtoRadizEv"});
    EXPECT_EQ(end.status, ExitStatus::NoTarget);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "inform");
    EXPECT_EQ(dialogs.shown[0].text,
              "YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK");
    EXPECT_EQ(dialogs.shown[0].title, "Kavlento");
    EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Information);
    EXPECT_FALSE(program->window().isVisible());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Startup, AnUnattendedBackupWhoseWindowIsTakenAwayLeavesItsLine) {
    storeTarget(targetFolder);
    dialogs.progressTakenAway = true;
    start({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(end.status, ExitStatus::Interrupted);
    ASSERT_EQ(dialogs.of("note").size(), 1u);
    EXPECT_TRUE(dialogs.of("note")[0].text.startsWith("yedek tamamlanmadan"));
}

TEST_F(Startup, ASecondInstanceEndsAtOnceWithoutReadingAFile) {
    writeBytes(programFile("yedekleme.lst"), kHistory);
    SingleInstance first(programFolder);
    ASSERT_TRUE(first.acquire());
    start({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(end.status, ExitStatus::AlreadyRunning);
    EXPECT_EQ(program->window().historyCount(), 0);
    EXPECT_EQ(dialogs.shown.size(), dialogs.of("note").size()); // only the line for the log
}

// The marks of a command's text are letters of a path like any other: a
// program folder, a target and an archive whose paths hold them are backed
// up and restored.
TEST_F(Startup, PathsHoldingTheMarksOfACommandAreBackedUpAndRestored) {
#ifdef _WIN32
    const QString marks = "=2="; // Windows names hold no '<' or '>'
#else
    const QString marks = ">2<=";
#endif
    programFolder = folder.file("kasa" + marks);
    targetFolder = folder.file("hedef" + marks + "yedek");
    QDir().mkpath(targetFolder);
    makeSampleTree(programFolder);
    storeTarget(targetFolder);
    start({"4702519836", "OtoRadizEv"});
    ASSERT_EQ(end.status, ExitStatus::Normal);
    const QString moved = folder.file("taşınan" + marks + "yedek.ksd");
    ASSERT_TRUE(QFile::copy(store::HistoryFile(programFolder).load()->archivePath(0), moved));
    const QByteArray backedUp = readBytes(programFile("veri.db"));
    writeBytes(programFile("veri.db"), "sonradan değişti");

    restart({"4702519836"});
    dialogs.pickedFiles = {moved};
    dialogs.answers = {true};
    QTest::mouseClick(control<QPushButton>(program->window(), "Command6"), Qt::LeftButton);
    ASSERT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(readBytes(programFile("veri.db")), backedUp);
    EXPECT_EQ(store::HistoryFile(programFolder).load()->size(), 2u); // the safety backup
}

TEST_F(Startup, KapatAndACloseRequestStoreTheTargetAsTheSameBytes) {
    const QByteArray stored = store::TargetSetting::encode("D:\\ARŞİV, ESKİ");
    writeBytes(programFile("yedekleme.dat"), stored);
    startInteractive();
    QFile::remove(programFile("yedekleme.dat"));
    QTest::mouseClick(control<QPushButton>(program->window(), "Command5"), Qt::LeftButton);
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(readBytes(programFile("yedekleme.dat")), stored);

    QFile::remove(programFile("yedekleme.dat"));
    program->window().close();
    EXPECT_EQ(readBytes(programFile("yedekleme.dat")), stored);
}

// A start without the launch code writes nothing, not even to undo a restore
// cut off by a crash; the next start with it does that first.
TEST_F(Startup, AnInterruptedRestoreIsUndoneOnlyByAStartWithTheLaunchCode) {
    const QString working = programFolder + "/.kavlento-geri-yukleme";
    writeBytes(programFile("veri.txt"), "yarım kalmış");
    writeBytes(working + "/eski/veri.txt", "eski");
    QByteArray journal = "KJ2F1" + QByteArray(4, '\0'); // in the folder's own working folder
    journal.append(char(8)).append(QByteArray(3, '\0')).append("veri.txt");
    writeBytes(working + "/gunluk", journal);
    start({});
    EXPECT_EQ(end.status, ExitStatus::NoLaunchCode);
    EXPECT_EQ(readBytes(programFile("veri.txt")), "yarım kalmış");
    EXPECT_TRUE(QFileInfo::exists(working + "/gunluk"));
    restart({"4702519836"});
    EXPECT_EQ(readBytes(programFile("veri.txt")), "eski");
    EXPECT_FALSE(QFileInfo::exists(working));
}

#include "app/ProgramFixture.h"
#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "fs/File.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/Controls.h"
#include "ui/StyledButton.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

const QString kQuestion = QStringLiteral("SEÇİLİ YEDEK GERİ YÜKLENSİN Mİ?");
const QString kCompleted = QStringLiteral(
    "VERİLERİN YEDEKTEN GERİ YÜKLENMESİ TAMAMLANDI.\rŞİMDİ PROGRAM SONLANDIRILACAK...");
const QString kNotFound = QStringLiteral("YEDEK DOSYASINA ULAŞILAMIYOR.SİLİNMEDİĞİNDEN EMİN OLUN!");

class Restore : public ProgramTest {
protected:
    QString archivePath;
    Tree backedUp;
    Tree changed; // the folder when the restore starts

    // A program folder with a backup of it in the history, then changed.
    void SetUp() override {
        ProgramTest::SetUp();
        makeSampleTree(programFolder);
        storeTarget("/yedekten/gelen hedef");
        const QString dated = targetFolder + "/06.12.2026";
        QDir().mkpath(dated);
        archivePath = dated + "/6122026.953.ksd";
        writeBytes(programFile("yedekleme.lst"),
                   "\"06.12.2026\",\"09:05:03\",\"" + archivePath.toUtf8() + "\"\r\n");
        compressFolder(programFolder, dated, "6122026.953.ksd");
        backedUp = snapshot(programFolder);

        writeFile(programFile("veri.db"), "sonradan değişti");
        QFile::remove(programFile(".gizli"));
        writeFile(programFile("sonradan eklendi.txt"), "kalmalı", 0644, 1500000000);
        storeTarget("/sonradan/secilen");
        changed = snapshot(programFolder);
    }

    void clickItem(int row) { clickHistoryRow(program->window(), row); }
    void clickRestoreSelected() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command4"), Qt::LeftButton);
    }
    void clickRestorePicked() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command6"), Qt::LeftButton);
    }

    Tree expectedAfterRestore() {
        // What the archive lacks, and the program's own history and setting, stay.
        Tree expected = backedUp;
        for (const char* kept : {"sonradan eklendi.txt", "yedekleme.lst", "yedekleme.dat"}) {
            expected[kept] = changed.at(kept);
        }
        const Tree now = snapshot(programFolder);
        expected["prgcik.dat"] =
            FileState{'f', 0644, now.count("prgcik.dat") != 0 ? now.at("prgcik.dat").modified : 0,
                      0, QByteArray()};
        return expected;
    }
};

} // namespace

TEST_F(Restore, TheSelectedEntryComesBackWholeAndTheProgramEnds) {
    writeBytes(programFile("prgcik.dat"), "eski içerik");
    startInteractive();
    clickItem(0);
    dialogs.answers = {true};
    clickRestoreSelected();

    EXPECT_EQ(end.status, ExitStatus::Normal);
    ASSERT_EQ(dialogs.of("ask").size(), 1u);
    EXPECT_EQ(dialogs.of("ask")[0].text, kQuestion);
    EXPECT_EQ(dialogs.of("ask")[0].title, QString());
    EXPECT_EQ(dialogs.of("ask")[0].icon, MessageIcon::Question);
    ASSERT_EQ(dialogs.of("inform").size(), 1u);
    EXPECT_EQ(dialogs.of("inform")[0].text, kCompleted);
    EXPECT_FALSE(dialogs.of("inform")[0].text.contains('\n'));
    EXPECT_EQ(state.job, app::RunningJob::Restore);
    EXPECT_EQ(state.restoredArchive, archivePath);

    EXPECT_EQ(firstDifference(expectedAfterRestore(), snapshot(programFolder)), "");
    EXPECT_EQ(readBytes(programFile("prgcik.dat")), QByteArray());
}

TEST_F(Restore, APickedArchiveIsRestoredAfterTheQuestion) {
    startInteractive();
    state.lastPercent = 55;
    dialogs.pickedFiles = {archivePath};
    dialogs.answers = {true};
    clickRestorePicked();
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(dialogs.of("ask")[0].icon, MessageIcon::Information);
    EXPECT_EQ(firstDifference(expectedAfterRestore(), snapshot(programFolder)), "");
}

TEST_F(Restore, TheFoldersOwnHistoryAndSettingStayAndAFolderWithoutThemGetsNone) {
    // A newer backup, recorded after the archive was taken, must stay listed.
    const QByteArray newer = readBytes(programFile("yedekleme.lst")) +
                             "\"07.12.2026\",\"10:00:00\",\"/yedek/07.12.2026/yeni.ksd\"\r\n";
    const QByteArray setting = readBytes(programFile("yedekleme.dat"));
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present);
        for (const char* name : {"yedekleme.lst", "yedekleme.dat"}) {
            QFile::remove(programFile(name));
        }
        if (present) {
            writeBytes(programFile("yedekleme.lst"), newer);
            writeBytes(programFile("yedekleme.dat"), setting);
        }
        restart({"4702519836"});
        dialogs.pickedFiles = {archivePath};
        dialogs.answers = {true};
        clickRestorePicked();
        ASSERT_EQ(end.status, ExitStatus::Normal);
        const Tree after = snapshot(programFolder);
        EXPECT_EQ(after.count("yedekleme.lst") != 0, present);
        EXPECT_EQ(after.count("yedekleme.dat") != 0, present);
        if (present) {
            EXPECT_EQ(after.at("yedekleme.lst").content, newer);
            EXPECT_EQ(after.at("yedekleme.dat").content, setting);
        }
    }
}

TEST_F(Restore, NoOrCancelOrNoSelectionOrAnEmptyListChangesNothing) {
    startInteractive();
    const Tree before = snapshot(programFolder);

    clickRestoreSelected(); // items, none selected: the user is told to choose one
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.of("inform")[0].text, "LÜTFEN ÖNCE LİSTEDEN BİR YEDEK SEÇİN.");
    dialogs.shown.clear();

    clickItem(0);
    dialogs.answers = {false};
    clickRestoreSelected();
    dialogs.pickedFiles = {QString()}; // cancelled
    clickRestorePicked();
    dialogs.pickedFiles = {archivePath};
    dialogs.answers = {false};
    clickRestorePicked();

    EXPECT_EQ(dialogs.of("ask").size(), 2u);
    EXPECT_EQ(dialogs.of("pickFile").size(), 2u);
    EXPECT_TRUE(dialogs.of("progress").empty());
    EXPECT_EQ(state.job, app::RunningJob::None);
    EXPECT_EQ(state.lastPercent, 0);
    EXPECT_FALSE(end.status.has_value());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");

    program->window().showHistory({});
    dialogs.shown.clear();
    clickRestoreSelected();
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Restore, ADeletedArchiveIsReportedAndTheProgramStays) {
    QFile::remove(archivePath);
    startInteractive();
    clickItem(0);
    dialogs.answers = {true};
    clickRestoreSelected();
    ASSERT_EQ(dialogs.of("inform").size(), 1u);
    EXPECT_EQ(dialogs.of("inform")[0].text, kNotFound);
    EXPECT_EQ(dialogs.of("inform")[0].icon, MessageIcon::Error);
    EXPECT_EQ(dialogs.of("inform")[0].title, QString());
    EXPECT_FALSE(end.status.has_value());
    EXPECT_EQ(program->window().historyCount(), 1);
    EXPECT_FALSE(QFileInfo::exists(programFile("prgcik.dat")));
}

TEST_F(Restore, ADamagedArchiveEndsWithTheErrorBoxAndChangesNothing) {
    QByteArray bytes = readBytes(archivePath);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x40);
    writeBytes(archivePath, bytes);
    startInteractive();
    const Tree before = snapshot(programFolder);
    clickItem(0);
    dialogs.answers = {true};
    clickRestoreSelected();
    EXPECT_EQ(end.status, ExitStatus::Failure);
    ASSERT_EQ(dialogs.of("failure").size(), 1u);
    EXPECT_TRUE(dialogs.of("inform").empty());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    EXPECT_FALSE(QFileInfo::exists(programFile("prgcik.dat")));
}

TEST_F(Restore, AHostileArchiveIsRefusedWithNothingChanged) {
    const QString hostile = folder.file("saldiri.ksd");
    writeRawZip(hostile, {{"veri.db", "sahte"}, {"../dışarı.txt", "kaçak"}}, RawEncryption::Aes256);
    startInteractive();
    const Tree before = snapshot(programFolder);
    dialogs.pickedFiles = {hostile};
    dialogs.answers = {true};
    clickRestorePicked();
    EXPECT_EQ(end.status, ExitStatus::Failure);
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    EXPECT_FALSE(QFileInfo::exists(folder.file("dışarı.txt")));
}

TEST_F(Restore, Only100DuringARestoreCompletesIt) {
    startInteractive();
    state.job = app::RunningJob::Restore;
    program->shell().onProgress(99);
    EXPECT_EQ(state.lastPercent, 99);
    EXPECT_FALSE(end.status.has_value());
    program->shell().onProgress(100);
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(dialogs.of("inform")[0].text, kCompleted);
    EXPECT_EQ(readBytes(programFile("prgcik.dat")), QByteArray());
}

TEST_F(Restore, TheRunningProgramFileIsReplacedSafely) {
    // The archive holds a "kavlento" of its own; the one in the folder is running.
    writeFile(programFile("kavlento"), readBytes("/bin/sleep"), 0755);
    compressFolder(programFolder, targetFolder, "yeni.ksd");
    writeFile(programFile("kavlento"), readBytes("/bin/sleep"), 0755);
    QProcess running;
    running.start(programFile("kavlento"), {"30"});
    ASSERT_TRUE(running.waitForStarted());
    const QByteArray before = readBytes(folder.file("hedef/yeni.ksd"));

    startInteractive();
    dialogs.pickedFiles = {folder.file("hedef/yeni.ksd")};
    dialogs.answers = {true};
    clickRestorePicked();
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(running.state(), QProcess::Running);
    EXPECT_EQ(readBytes(programFile("kavlento")), readBytes("/bin/sleep"));
    EXPECT_EQ(readBytes(folder.file("hedef/yeni.ksd")), before);
    running.kill();
    running.waitForFinished();
}

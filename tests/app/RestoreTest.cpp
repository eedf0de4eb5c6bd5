#include "app/ProgramFixture.h"
#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "fs/File.h"
#include "store/HistoryFile.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/Controls.h"
#ifndef _WIN32
#include "support/MountedFileSystem.h"
#include "support/WindowThreadWatch.h"
#endif
#include "ui/StyledButton.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>

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
        writeFile(programFile("sonradan eklendi.txt"), "yedekten sonra", 0644, 1500000000);
        storeTarget(targetFolder);
        changed = snapshot(programFolder);
    }

    void clickItem(int row) { clickHistoryRow(program->window(), row); }

    void expectRefusedBeforeTheSafetyBackup(const std::vector<RawEntry>& entries) {
        const QString hostile = folder.file("saldiri.ksd");
        writeRawZip(hostile, entries, RawEncryption::Aes256);
        startInteractive();
        const Tree before = snapshot(programFolder);
        const QByteArray history = readBytes(programFile("yedekleme.lst"));
        dialogs.pickedFiles = {hostile};
        dialogs.answers = {true};
        clickRestorePicked();
        EXPECT_EQ(end.status, ExitStatus::Failure);
        EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
        EXPECT_EQ(readBytes(programFile("yedekleme.lst")), history);
        EXPECT_EQ(QDir(targetFolder + "/06.12.2026").entryList(QDir::Files),
                  QStringList{"6122026.953.ksd"});
    }
    void clickRestoreSelected() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command4"), Qt::LeftButton);
    }
    void clickRestorePicked() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command6"), Qt::LeftButton);
    }

    // Exactly the archive's tree, with the program's own history (checked on
    // its own) and setting.
    Tree expectedAfterRestore() {
        Tree expected = backedUp;
        const Tree now = snapshot(programFolder);
        expected["yedekleme.dat"] = changed.at("yedekleme.dat");
        expected["yedekleme.lst"] = now.at("yedekleme.lst");
        expected["prgcik.dat"] =
            FileState{'f', 0644, now.count("prgcik.dat") != 0 ? now.at("prgcik.dat").modified : 0,
                      0, QByteArray()};
        return expected;
    }

    // The folder as it was before the restore is the newest backup in the
    // history: restoring that row would bring it back.
    void expectTheFolderAsItWasRecorded() {
        const auto history = store::HistoryFile(programFolder).load();
        ASSERT_TRUE(history && history->size() == 2);
        const QString safety = history->archivePath(1);
        EXPECT_TRUE(safety.startsWith(targetFolder + "/06.12.2026/")) << safety.toStdString();
        const QString opened = folder.file("kurtarilan");
        QDir().mkpath(opened);
        extractArchive(safety, opened);
        Tree expected = changed;
        expected.erase("prgcik.dat");
        EXPECT_EQ(firstDifference(expected, snapshot(opened, {"prgcik.dat"})), "");
    }
};

#ifndef _WIN32
// Watches the program's own openings of files, which needs root and Linux's
// fanotify.
using RootRestore = Restore;
#endif

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
    expectTheFolderAsItWasRecorded();
    // Each step is named as it begins, its bar filling the step's share; the
    // folder's backup is listed before the message shows.
    QStringList steps;
    for (const Shown& step : dialogs.of("step")) {
        steps.append(step.text + " " + step.title);
    }
    EXPECT_EQ(steps, QStringList({"ŞU ANKİ VERİLER SON YEDEKLE KARŞILAŞTIRILIYOR... 0-0",
                                  "1/3: GERİ YÜKLENECEK YEDEK DENETLENİYOR... 0-15",
                                  "2/3: ŞU ANKİ VERİLER YEDEKLENİYOR... 15-60",
                                  "3/3: VERİLER YEDEKTEN GERİ YÜKLENİYOR... 60-100"}));
    EXPECT_EQ(program->window().historyCount(), 2);
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

// A folder with a history or setting of its own keeps them; one with neither
// (installed anew after a disaster) takes the archive's, so that its nightly
// backups go on. With no target to back the folder up to first, the user is
// asked, No being the answer of a mere Enter.
TEST_F(Restore, TheFoldersOwnHistoryAndSettingStayAndAFolderWithoutThemTakesTheArchives) {
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
        dialogs.answers = {true, true};
        clickRestorePicked();
        ASSERT_EQ(end.status, ExitStatus::Normal);
        const Tree after = snapshot(programFolder);
        if (present) {
            EXPECT_TRUE(after.at("yedekleme.lst").content.startsWith(newer));
            EXPECT_EQ(after.at("yedekleme.dat").content, setting);
            EXPECT_EQ(dialogs.of("ask").size(), 1u);
        } else {
            EXPECT_EQ(after.at("yedekleme.lst"), backedUp.at("yedekleme.lst"));
            EXPECT_EQ(after.at("yedekleme.dat"), backedUp.at("yedekleme.dat"));
            ASSERT_EQ(dialogs.of("ask").size(), 2u);
            EXPECT_TRUE(dialogs.of("ask")[1].text.startsWith(
                "ŞU ANKİ VERİLERİN YEDEĞİ ALINAMIYOR: YEDEKLEME KLASÖRÜ SEÇİLMEMİŞ."));
            EXPECT_EQ(dialogs.of("ask")[1].preferred, DefaultAnswer::No);
        }
    }
}

// Nothing is backed up first where the newest archive holds the folder as it
// is; where the folder cannot be backed up and the user says No, nothing happens.
TEST_F(Restore, TheFolderIsBackedUpFirstOnlyWhenItMustAndCan) {
    const QString newest = targetFolder + "/06.12.2026/6122026.1000.ksd";
    compressFolder(programFolder, targetFolder + "/06.12.2026", "6122026.1000.ksd");
    const QByteArray history = readBytes(programFile("yedekleme.lst")) +
                               "\"06.12.2026\",\"10:00:00\",\"" + newest.toUtf8() + "\"\r\n";
    writeBytes(programFile("yedekleme.lst"), history);
    startInteractive();
    dialogs.pickedFiles = {archivePath};
    dialogs.answers = {true};
    clickRestorePicked();
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")), history);

    storeTarget(folder.file("yok"));
    restart({"4702519836"});
    const Tree before = snapshot(programFolder);
    dialogs.pickedFiles = {newest};
    dialogs.answers = {true, false};
    clickRestorePicked();
    EXPECT_FALSE(end.status.has_value());
    EXPECT_TRUE(dialogs.of("progress").empty());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

// Where the folder cannot be backed up first, the question names the backup
// folder, says why and what would let the backup be taken, in Yes/No words.
TEST_F(Restore, TheQuestionWithoutABackupSaysWhatWouldLetOneBeTaken) {
    const struct {
        QString target;
        QString why;
        QString remedy;
    } cases[] = {
        {"", "YEDEKLEME KLASÖRÜ SEÇİLMEMİŞ.", "GÖZAT... İLE BİR YEDEKLEME KLASÖRÜ SEÇİN"},
        {folder.file("yok"), "YEDEKLEME KLASÖRÜ (" + folder.file("yok") + ") YOK.",
         "KLASÖRÜN DİSKİ ÇIKARILDIYSA TAKIN YA DA YUKARIDAKİ GÖZAT... İLE BAŞKA BİR YEDEKLEME "
         "KLASÖRÜ SEÇİN"},
    };
    for (const auto& c : cases) {
        storeTarget(c.target);
        restart({"4702519836"});
        dialogs.pickedFiles = {archivePath};
        dialogs.answers = {true, false};
        clickRestorePicked();
        ASSERT_EQ(dialogs.of("ask").size(), 2u);
        const QString asked = dialogs.of("ask")[1].text;
        EXPECT_TRUE(asked.startsWith("ŞU ANKİ VERİLERİN YEDEĞİ ALINAMIYOR: " + c.why + "\r"))
            << asked.toStdString();
        EXPECT_TRUE(asked.contains("\"HAYIR\" DEYİN, ") && asked.contains(c.remedy))
            << asked.toStdString();
        EXPECT_FALSE(asked.contains("LÜTFEN")) << asked.toStdString();
        EXPECT_TRUE(asked.endsWith("YEDEK ALINMADAN GERİ YÜKLENSİN Mİ?"));
        EXPECT_FALSE(end.status.has_value());
    }
}

// Bytes rewritten under the same size and time (as `touch -r` leaves them)
// are not what the newest archive holds: the folder is backed up first.
TEST_F(Restore, BytesChangedUnderTheSameSizeAndTimeAreBackedUpFirst) {
    writeFile(programFile("veri.db"), "önce", 0644, 1500000000);
    store::HistoryFile(programFolder)
        .append({"06.12.2026", "10:00:00",
                 compressFolder(programFolder, targetFolder + "/06.12.2026", "6122026.1000.ksd")});
    writeFile(programFile("veri.db"), "sonra", 0644, 1500000000);
    startInteractive();
    dialogs.pickedFiles = {archivePath};
    dialogs.answers = {true};
    clickRestorePicked();
    EXPECT_EQ(end.status, ExitStatus::Normal);
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 3);
    EXPECT_EQ(readWithLibzip(history->archivePath(2), "6150937284").at("veri.db"), "sonra");
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
    EXPECT_EQ(QDir(targetFolder + "/06.12.2026").entryList(QDir::Files), // no safety backup
              QStringList{"6122026.953.ksd"});
}

// Whatever an archive is refused for, it is refused before the folder is
// backed up: it costs no safety archive and no record.
TEST_F(Restore, AHostileArchiveIsRefusedWithNothingChanged) {
    expectRefusedBeforeTheSafetyBackup({{"veri.db", "sahte"}, {"../dışarı.txt", "kaçak"}});
    EXPECT_FALSE(QFileInfo::exists(folder.file("dışarı.txt")));
}

TEST_F(Restore, ALinkNoSystemCouldMakeCostsNoSafetyBackup) {
    expectRefusedBeforeTheSafetyBackup(
        {{"veri.db", "sahte"}, {"bag", QByteArray("hedef\0gizli", 11), 0120777}});
}

TEST_F(Restore, Only100DuringARestoreCompletesIt) {
    startInteractive();
    state.job = app::RunningJob::Restore;
    program->jobEvents().onProgress(99);
    EXPECT_EQ(state.lastPercent, 99);
    EXPECT_FALSE(end.status.has_value());
    program->jobEvents().onProgress(100);
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(dialogs.of("inform")[0].text, kCompleted);
    EXPECT_EQ(readBytes(programFile("prgcik.dat")), QByteArray());
}

TEST_F(Restore, TheRunningProgramFileIsReplacedSafely) {
    // The archive holds a program file of its own; the one in the folder is running.
#ifdef _WIN32
    // A copy of this test program waits when asked to (TestMain).
    const QString sleeper = QCoreApplication::applicationFilePath();
    const QString name = "kavlento.exe";
    const QStringList waiting = {"--sleep", "30"};
#else
    const QString sleeper = "/bin/sleep";
    const QString name = "kavlento";
    const QStringList waiting = {"30"};
#endif
    writeFile(programFile(name), readBytes(sleeper), 0755);
    compressFolder(programFolder, targetFolder, "yeni.ksd");
    writeFile(programFile(name), readBytes(sleeper), 0755);
    QProcess running;
    running.start(programFile(name), waiting);
    ASSERT_TRUE(running.waitForStarted());
    const QByteArray before = readBytes(folder.file("hedef/yeni.ksd"));

    startInteractive();
    dialogs.pickedFiles = {folder.file("hedef/yeni.ksd")};
    dialogs.answers = {true};
    clickRestorePicked();
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(running.state(), QProcess::Running);
    EXPECT_EQ(readBytes(programFile(name)), readBytes(sleeper));
    EXPECT_EQ(readBytes(folder.file("hedef/yeni.ksd")), before);
    running.kill();
    running.waitForFinished();
}

// A request to stop after the restore committed lets it complete, with its
// marker, without waiting at a box; one before leaves the folder as it was.
TEST_F(Restore, AStopAfterTheCommitCompletesTheRestoreAndOneBeforeChangesNothing) {
    // A setting written again shows by its time, whichever second it comes in.
    writeFile(programFile("yedekleme.dat"), readBytes(programFile("yedekleme.dat")), 0644,
              1500000000);
    changed = snapshot(programFolder);
    startInteractive();
    dialogs.progressTakenAway = true;
    dialogs.pickedFiles = {archivePath};
    dialogs.answers = {true};
    clickRestorePicked();
    while (program->archiver().busy()) {
        QThread::msleep(5); // the last signal waits, undelivered
    }
    program->stop("SIGTERM");
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_TRUE(dialogs.of("inform").empty());
    EXPECT_EQ(firstDifference(expectedAfterRestore(), snapshot(programFolder)), "");
    EXPECT_TRUE(QFileInfo::exists(programFile("prgcik.dat")));

    QFile::remove(programFile("prgcik.dat"));
    writeFile(programFile("buyuk.bin"), incompressibleBytes(64 << 20, 2));
    const Tree before = snapshot(programFolder, {"yedekleme.lst"});
    restart({"4702519836"});
    dialogs.progressTakenAway = true;
    dialogs.pickedFiles = {archivePath};
    dialogs.answers = {true};
    clickRestorePicked();
    program->stop("SIGTERM");
    EXPECT_EQ(end.status, ExitStatus::Failure);
    ASSERT_EQ(dialogs.of("failure").size(), 1u);
    EXPECT_TRUE(dialogs.of("failure")[0].text.contains("hiçbir şey değiştirilmedi"));
    EXPECT_EQ(firstDifference(before, snapshot(programFolder, {"yedekleme.lst"})), "");
}

#ifndef _WIN32
// Reading the folder and the archives never holds up the window's thread:
// each opening waits for that thread to handle an event, which it can do only
// while the reading runs beside it.
TEST_F(RootRestore, NoReadingOfTheFolderOrAnArchiveHoldsUpTheWindow) {
    KAVLENTO_NEEDS_ROOT("fanotify holds each opening of the watched files");
    for (const bool alreadyHeld : {true, false}) {
        SCOPED_TRACE(alreadyHeld);
        if (alreadyHeld) {
            store::HistoryFile(programFolder)
                .append({"06.12.2026", "10:00:00",
                         compressFolder(programFolder, targetFolder + "/06.12.2026",
                                        "6122026.1000.ksd")});
        }
        const auto newest = store::HistoryFile(programFolder).load();
        restart({"4702519836"});
        dialogs.pickedFiles = {archivePath};
        dialogs.answers = {true};
        int openings = 0;
        {
            const WindowThreadWatch watch({newest->archivePath(newest->size() - 1),
                                           programFile("resimler"), programFile("veri.db")});
            clickRestorePicked();
            openings = watch.openings();
            EXPECT_EQ(watch.openedOnTheWindowThread().join(" ").toStdString(), "");
        }
        EXPECT_GE(openings, 3);
        ASSERT_EQ(end.status, ExitStatus::Normal);
    }
}
#endif

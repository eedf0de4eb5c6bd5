#include "app/BackupJob.h"
#include "app/ProgramFixture.h"
#include "archive/ArchiveCommand.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/Controls.h"
#include "ui/StyledButton.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QThread>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

const QString kCompleted = QStringLiteral("YEDEK ALMA İŞLEMİ TAMAMLANDI.\rSAĞLIKLI BİR KULLANIM "
                                          "İÇİN PROGRAMINIZI TEKRAR BAŞLATIN.");

class Backup : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeFile(programFile("veri.db"), pseudoText(3 << 20, 7));
        writeFile(programFile(".gizli"), "gizli");
        QDir().mkpath(programFile("boş"));
    }
    void clickBackup() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command2"), Qt::LeftButton);
    }
    void clickChoose() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command1"), Qt::LeftButton);
    }
    QString archiveAt(const QString& date, const QString& name) {
        return targetFolder + "/" + date + "/" + name;
    }
};

} // namespace

TEST(BackupNames, ArchiveNamesHaveNoLeadingZeros) {
    const auto names =
        app::backupNames("D:/YEDEK", momentOf(6, 12, 2026, 9, 5, 3, "06.12.2026", "09:05:03"));
    EXPECT_EQ(names.archiveName, "6122026.953.ksd");
    EXPECT_EQ(names.datedFolder, "D:/YEDEK/06.12.2026");
    EXPECT_EQ(names.archivePath, "D:/YEDEK/06.12.2026/6122026.953.ksd");
    EXPECT_EQ(app::backupNames("/y", momentOf(1, 11, 2026, 0, 0, 0, "x", "y")).archiveName,
              "1112026.000.ksd");
    EXPECT_EQ(app::backupNames("/y", momentOf(11, 1, 2026, 0, 0, 0, "x", "y")).archiveName,
              "1112026.000.ksd");
    EXPECT_EQ(app::backupNames("/y", momentOf(1, 1, 2026, 1, 15, 3, "x", "y")).archiveName,
              app::backupNames("/y", momentOf(1, 1, 2026, 11, 5, 3, "x", "y")).archiveName);
}

TEST(BackupNames, ASeparatorAtTheEndOfTheTargetIsKeptAndSlashesInTheDateBecomeDashes) {
    const auto names =
        app::backupNames("/yedek/", momentOf(7, 12, 2026, 1, 2, 3, "12/07/26", "01:02:03"));
    EXPECT_EQ(names.dateText, "12-07-26");
    EXPECT_EQ(names.datedFolder, "/yedek//12-07-26");
    EXPECT_EQ(names.archivePath, "/yedek//12-07-26/7122026.123.ksd");
}

TEST_F(Backup, AnEmptyTargetOnlyShowsItsMessage) {
    startInteractive();
    const Tree before = snapshot(folder.path());
    clickBackup();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "YEDEKLEME HEDEFİ SEÇİN");
    EXPECT_EQ(dialogs.shown[0].title, "HATA");
    EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Error);
    EXPECT_FALSE(end.status.has_value());
    EXPECT_EQ(firstDifference(before, snapshot(folder.path())), "");
}

TEST_F(Backup, ABackupWritesTheArchiveRecordsItAndEndsAfterItsMessage) {
    storeTarget(targetFolder);
    startInteractive();
    // Midnight passing while the backup starts changes none of its names.
    clock.movesOnAfterOneReading(momentOf(7, 12, 2026, 0, 0, 0, "07.12.2026", "00:00:00"));
    clickBackup();

    EXPECT_EQ(end.status, ExitStatus::Normal);
    const QString archivePath = archiveAt("06.12.2026", "6122026.953.ksd");
    ASSERT_TRUE(QFileInfo::exists(archivePath));
    EXPECT_EQ(readWithLibzip(archivePath, "6150937284").at("veri.db"),
              readBytes(programFile("veri.db")));
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")),
              "\"06.12.2026\",\"09:05:03\",\"" + archivePath.toUtf8() + "\"\r\n");
    EXPECT_EQ(program->window().historyCount(), 1);
    EXPECT_EQ(state.job, app::RunningJob::Backup);
    EXPECT_EQ(state.archiveName, "6122026.953.ksd");
    ASSERT_EQ(dialogs.of("progress").size(), 1u);
    ASSERT_EQ(dialogs.of("inform").size(), 1u);
    EXPECT_EQ(dialogs.of("inform")[0].text, kCompleted);
    EXPECT_EQ(dialogs.of("inform")[0].title, QString());
    EXPECT_EQ(dialogs.of("inform")[0].icon, MessageIcon::Information);
    EXPECT_EQ(readBytes(programFile("yedekleme.dat")), store::TargetSetting::encode(targetFolder));
}

TEST_F(Backup, AnUnattendedBackupShowsOnlyTheProgressWindow) {
    storeTarget(targetFolder);
    start({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_TRUE(QFileInfo::exists(archiveAt("06.12.2026", "6122026.953.ksd")));
    EXPECT_TRUE(dialogs.of("inform").empty());
    EXPECT_EQ(dialogs.of("progress").size(), 1u);
    EXPECT_FALSE(program->window().isVisible());
    EXPECT_EQ(readBytes(programFile("yedekleme.dat")), store::TargetSetting::encode(targetFolder));
}

TEST_F(Backup, TwoBackupsOfOneDayShareTheFolderAndACollidingNameGetsANameOfItsOwn) {
    storeTarget(targetFolder);
    writeFile(programFile("sonra-silinecek.txt"), "yalnız ilk yedekte");
    clock.moment = momentOf(6, 12, 2026, 1, 15, 3, "06.12.2026", "01:15:03");
    start({"4702519836", "OtoRadizEv"});
    QFile::remove(programFile("sonra-silinecek.txt"));
    writeFile(programFile("yeni.txt"), "ikinci yedekte eklendi");
    writeFile(programFile("veri.db"), "değişti");

    RecordingEnd secondEnd;
    ScriptedDialogs secondDialogs(secondEnd);
    JobState secondState;
    clock.moment = momentOf(6, 12, 2026, 11, 5, 3, "06.12.2026", "11:05:03");
    program->archiver().cancelAndWait();
    program.reset();
    Program second(programFolder, CommandLine::fromArguments({"4702519836", "OtoRadizEv"}),
                   secondState, secondDialogs, clock, secondEnd, output);
    second.start();
    EXPECT_EQ(secondEnd.status, ExitStatus::Normal);

    // Each archive is its own snapshot: the first is never changed.
    const QString first = archiveAt("06.12.2026", "6122026.1153.ksd");
    const QString other = archiveAt("06.12.2026", "6122026.1153-2.ksd");
    const auto firstFiles = readWithLibzip(first, "6150937284");
    EXPECT_EQ(firstFiles.at("veri.db"), pseudoText(3 << 20, 7));
    EXPECT_EQ(firstFiles.at("sonra-silinecek.txt"), "yalnız ilk yedekte");
    EXPECT_EQ(firstFiles.count("yeni.txt"), 0u);
    const auto otherFiles = readWithLibzip(other, "6150937284");
    EXPECT_EQ(otherFiles.at("veri.db"), "değişti");
    EXPECT_EQ(otherFiles.at("yeni.txt"), "ikinci yedekte eklendi");
    EXPECT_EQ(otherFiles.count("sonra-silinecek.txt"), 0u);
    EXPECT_EQ(QDir(targetFolder + "/06.12.2026").entryList(QDir::Files | QDir::Hidden),
              (QStringList{"6122026.1153-2.ksd", "6122026.1153.ksd"}));
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")),
              "\"06.12.2026\",\"01:15:03\",\"" + first.toUtf8() + "\"\r\n" +
                  "\"06.12.2026\",\"11:05:03\",\"" + other.toUtf8() + "\"\r\n");
}

TEST_F(Backup, ChoosingAFolderStoresItAtOnceAndCancellingKeepsTheOldOne) {
    storeTarget("/eski/hedef");
    startInteractive();
    dialogs.pickedFolders = {QString()};
    clickChoose();
    EXPECT_EQ(program->window().targetText(), "/eski/hedef");
    EXPECT_EQ(readBytes(programFile("yedekleme.dat")), store::TargetSetting::encode("/eski/hedef"));
    EXPECT_EQ(dialogs.of("pickFolder")[0].text, "Nereye Yedek Alınsın?");

    const QString company = folder.file("Şirket Yedekleri");
    QDir().mkpath(company);
    dialogs.pickedFolders = {company};
    clickChoose();
    EXPECT_EQ(program->window().targetText(), company);
    EXPECT_EQ(readBytes(programFile("yedekleme.dat")), store::TargetSetting::encode(company));
    QDir(company).removeRecursively();

    // It opens at the stored target, or at home when that is not there.
    dialogs.pickedFolders = {targetFolder, QString()};
    clickChoose();
    clickChoose();
    const auto opened = dialogs.of("pickFolder");
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_EQ(opened[0].title, QDir::homePath()); // "/eski/hedef" is not there
    EXPECT_EQ(opened[2].title, QDir::homePath());
    EXPECT_EQ(opened[3].title, targetFolder);
}

TEST_F(Backup, AFolderTheStoredFilesCannotCarryIsRefused) {
    storeTarget("/eski/hedef");
    startInteractive();
    for (const QString& refused :
         {QStringLiteral("/media/日本"), QStringLiteral("/media/\"tırnak\"")}) {
        dialogs.shown.clear();
        dialogs.pickedFolders = {refused};
        clickChoose();
        ASSERT_EQ(dialogs.of("inform").size(), 1u) << refused.toStdString();
        EXPECT_EQ(dialogs.of("inform")[0].title, "HATA");
        EXPECT_EQ(program->window().targetText(), "/eski/hedef");
        EXPECT_EQ(readBytes(programFile("yedekleme.dat")),
                  store::TargetSetting::encode("/eski/hedef"));
    }
}

TEST_F(Backup, ATargetInsideOrEqualToTheProgramFolderKeepsEveryEarlierBackupOut) {
    // A target inside the program folder, then the program folder itself: no
    // archive of any earlier day or target goes into the next one.
    writeFile(programFile("belgeler/arşiv.zip"), "kullanıcının kendi dosyası");
    for (const QString& target : {programFile("yedekler"), programFolder}) {
        SCOPED_TRACE(target.toStdString());
        targetFolder = target;
        QDir().mkpath(targetFolder);
        storeTarget(targetFolder);
        for (int day = 5; day <= 7; ++day) {
            const QString date = QStringLiteral("0%1.12.2026").arg(day);
            clock.moment = momentOf(day, 12, 2026, 9, 5, 3, date, "09:05:03");
            restart({"4702519836", "OtoRadizEv"});
            ASSERT_EQ(end.status, ExitStatus::Normal);
            const QString name = QString::number(day) + "122026.953.ksd";
            const auto files = readWithLibzip(archiveAt(date, name), "6150937284");
            EXPECT_EQ(files.count("veri.db"), 1u);
            EXPECT_EQ(files.count("belgeler/arşiv.zip"), 1u);
            for (const auto& [packed, content] : files) {
                EXPECT_FALSE(QString::fromStdString(packed).endsWith(".ksd")) << packed;
            }
        }
    }
}

TEST_F(Backup, DateTextsTheStoredFilesCannotHoldBecomeNumbersBeforeAnythingIsMade) {
    storeTarget(targetFolder);
    // Japanese regional settings, as strftime gives them.
    clock.moment = momentOf(7, 12, 2026, 23, 5, 9, QStringLiteral("2026年12月07日"),
                            QStringLiteral("23時05分09秒"));
    start({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_EQ(QDir(targetFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"07-12-2026"});
    EXPECT_TRUE(QFile::exists(archiveAt("07-12-2026", "7122026.2359.ksd")));
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")),
              "\"07-12-2026\",\"23:05:09\",\"" +
                  archiveAt("07-12-2026", "7122026.2359.ksd").toUtf8() + "\"\r\n");
}

TEST_F(Backup, AMissingTargetFolderTakesTheFailurePathWithNothingWritten) {
    storeTarget(folder.file("silinmis"));
    startInteractive();
    clickBackup();
    EXPECT_EQ(end.status, ExitStatus::Failure);
    ASSERT_EQ(dialogs.of("failure").size(), 1u);
    EXPECT_TRUE(dialogs.of("failure")[0].text.contains("silinmis"));
    EXPECT_FALSE(QFileInfo::exists(programFile("yedekleme.lst")));
    EXPECT_TRUE(dialogs.of("progress").empty());
}

TEST_F(Backup, AFileOrALinkWhereTheDatedFolderGoesFailsTheBackupAndChangesNothing) {
    // A link there may have come from a restore when the target is the program
    // folder: nothing is written through it.
    const QString elsewhere = folder.file("baska");
    QDir().mkpath(elsewhere);
    const QString dated = targetFolder + "/06.12.2026";
    // An earlier record, also of this very moment: it stays.
    const QByteArray earlier = "\"06.12.2026\",\"09:05:03\",\"" +
                               archiveAt("06.12.2026", "6122026.953.ksd").toUtf8() + "\"\r\n";
    storeTarget(targetFolder);
    const QByteArray storedTarget = readBytes(programFile("yedekleme.dat"));
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link" : "a file");
        if (link && !linksCanBeMadeIn(folder.path())) {
            continue; // Windows without the right to make links
        }
        QFile::remove(dated);
        link ? makeLink(dated, elsewhere) : writeFile(dated, "bir dosya");
        writeBytes(programFile("yedekleme.lst"), earlier);
        restart({"4702519836"});
        clickBackup();
        EXPECT_EQ(end.status, ExitStatus::Failure);
        ASSERT_EQ(dialogs.of("failure").size(), 1u);
        EXPECT_TRUE(dialogs.of("failure")[0].text.contains(QDir::toNativeSeparators(dated)))
            << dialogs.of("failure")[0].text.toStdString();
        EXPECT_TRUE(dialogs.of("inform").empty());
        EXPECT_EQ(QFileInfo(dated).isSymLink(), link);
        EXPECT_EQ(QFileInfo(dated).isFile(), !link);
        EXPECT_TRUE(QDir(elsewhere).isEmpty());
        EXPECT_EQ(readBytes(programFile("yedekleme.lst")), earlier);
        EXPECT_EQ(readBytes(programFile("yedekleme.dat")), storedTarget);
    }
}

TEST_F(Backup, AProgressOf100DuringABackupOnlyKeepsThePercentage) {
    startInteractive();
    state.job = app::RunningJob::Backup;
    program->jobEvents().onProgress(100);
    EXPECT_EQ(state.lastPercent, 100);
    EXPECT_FALSE(end.status.has_value());
    EXPECT_TRUE(dialogs.shown.empty());
}

// A request to stop decides by the archive's name: once it has one, the
// backup is recorded and completes without waiting at its box; before, the
// backup stops, with no archive and no record, and says what it left.
TEST_F(Backup, AStopAfterTheArchiveIsNamedCompletesTheBackupAndOneBeforeLeavesNothing) {
    storeTarget(targetFolder);
    startInteractive();
    dialogs.progressTakenAway = true;
    clickBackup();
    while (program->archiver().busy()) {
        QThread::msleep(5); // the last signal waits, undelivered
    }
    program->stop("SIGTERM");
    EXPECT_EQ(end.status, ExitStatus::Normal);
    EXPECT_TRUE(dialogs.of("inform").empty());
    ASSERT_EQ(dialogs.of("note").size(), 1u);
    EXPECT_TRUE(dialogs.of("note")[0].text.startsWith("yedek alındı: "));
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 1);
    EXPECT_TRUE(QFileInfo(history->archivePath(0)).isFile());

    QDir(targetFolder).removeRecursively();
    QDir().mkpath(targetFolder);
    QFile::remove(programFile("yedekleme.lst"));
    writeFile(programFile("buyuk.bin"), incompressibleBytes(64 << 20, 3));
    restart({"4702519836"});
    dialogs.progressTakenAway = true;
    clickBackup();
    program->stop("SIGTERM");
    EXPECT_EQ(end.status, ExitStatus::Failure);
    ASSERT_EQ(dialogs.of("failure").size(), 1u);
    EXPECT_TRUE(dialogs.of("failure")[0].text.contains("yarım kalan bir yedek dosyası bırakılmadı"))
        << dialogs.of("failure")[0].text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(programFile("yedekleme.lst")));
    EXPECT_FALSE(
        QDirIterator(targetFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories)
            .hasNext());
}

// The age of backups is unknown when the newest was taken ahead of the clock.
TEST_F(Backup, TheStateSaysWhenTheNewestBackupLiesAheadOfTheClock) {
    storeTarget(targetFolder);
    const QString dated = targetFolder + "/01-01-2030";
    QDir().mkpath(dated);
    compressFolder(programFolder, dated, "1.1.ksd", 0, {}, clock.moment.seconds + 3600);
    start({"4702519836", "--durum", "2"});
    EXPECT_EQ(end.status, ExitStatus::BackupAheadOfClock);
    EXPECT_TRUE(output.lines.join('\n').contains("saati şimdiki saatten ileride"))
        << output.lines.join('\n').toStdString();
}

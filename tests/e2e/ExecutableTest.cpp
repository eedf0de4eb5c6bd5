#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "archive/OwnFiles.h"
#include "fs/File.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/InstalledProgram.h"
#include "support/MountedFileSystem.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// A desktop drawn into memory, no display at all, a display named that no
// server answers (as cron and systemd timers often pass on), one whose port
// takes connections and never answers, or an X display of the test's own,
// where the window is driven as a user would.
enum class Screen { Virtual, None, Stale, Silent, Real };

// The installed program, started as the host starts it, with a screen of the
// test's choosing.
class Executable : public InstalledProgram {
protected:
    std::vector<std::unique_ptr<QProcess>> running;
    // A command the program is started through, with its arguments.
    QStringList launcher;
    QTcpServer silent;
    QString realDisplay; // for Screen::Real

    void TearDown() override {
        for (auto& process : running) {
            process->kill();
            process->waitForFinished();
        }
    }

    QProcess& start(const QStringList& arguments, Screen display = Screen::None,
                    bool unprivileged = false, const QString& runtimeFolder = QString()) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.remove("XDG_RUNTIME_DIR");
        if (display == Screen::Virtual) {
            // Looks like a desktop to the program; draws into memory.
            env.insert("DISPLAY", ":4242");
            env.insert("QT_QPA_PLATFORM", "offscreen");
        } else if (display == Screen::Stale) {
            env.insert("DISPLAY", ":97");
            env.insert("WAYLAND_DISPLAY", "wayland-97");
        } else if (display == Screen::Silent) {
            // Its port takes connections (the kernel's, queued), which nobody answers.
            EXPECT_TRUE(silent.isListening() || silent.listen(QHostAddress::LocalHost));
            env.insert("DISPLAY", QStringLiteral("127.0.0.1:%1").arg(silent.serverPort() - 6000));
        } else if (display == Screen::Real) {
            env.insert("DISPLAY", realDisplay);
        }
        if (!runtimeFolder.isEmpty()) {
            env.insert("XDG_RUNTIME_DIR", runtimeFolder);
        }
        process->setProcessEnvironment(env);
        QString program = this->program();
        QStringList args = arguments;
        if (unprivileged) {
            startAsNobody(program, args);
        }
        if (!launcher.isEmpty()) {
            args = launcher.mid(1) + QStringList{program} + args;
            program = launcher.first();
        }
        process->start(program, args);
        EXPECT_TRUE(process->waitForStarted());
        running.push_back(std::move(process));
        return *running.back();
    }

    // Later starts see the clock stand at `moment` ("2031-06-15 10:20:30").
    void holdClockAt(const QString& moment) {
        const QString sanitizer = qEnvironmentVariable("ASAN_OPTIONS");
        launcher = {"env",
                    "FAKETIME_DONT_FAKE_MONOTONIC=1",
                    "ASAN_OPTIONS=" + sanitizer + (sanitizer.isEmpty() ? "" : ":") +
                        "verify_asan_link_order=0",
                    "faketime",
                    "-m",
                    "-f",
                    moment};
    }

    // Runs to the end; the exit status and what it wrote to standard output
    // and standard error.
    std::pair<int, QString> run(const QStringList& arguments) {
        QProcess& process = start(arguments);
        const int status = finish(process);
        return {status, QString::fromLocal8Bit(process.readAllStandardOutput() +
                                               process.readAllStandardError())};
    }

    int finish(QProcess& process, int timeoutMs = 60000) {
        EXPECT_TRUE(process.waitForFinished(timeoutMs)) << "still running";
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    bool stillRunningAfter(QProcess& process, int ms) {
        return !process.waitForFinished(ms) && process.state() == QProcess::Running;
    }

    // Waits until the running program holds `name` open (it is packing it).
    static bool waitUntilReading(const QProcess& process, const QString& name) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(process.processId());
        for (int wait = 0; wait < 1500; ++wait) {
            for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System)) {
                if (QFileInfo(fds + "/" + fd).symLinkTarget().endsWith("/" + name)) {
                    return true;
                }
            }
            QThread::msleep(10);
        }
        return false;
    }

    QStringList archives() {
        QStringList found;
        for (const QString& dated :
             QDir(targetFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QString& name :
                 QDir(targetFolder + "/" + dated).entryList(QDir::Files | QDir::Hidden)) {
                found.append(dated + "/" + name);
            }
        }
        return found;
    }
};

// The suite's name carries a test's tier: Root… mounts file systems or starts
// the program as another user, and is skipped without root (but in CI);
// Slow… takes minutes.
class RootExecutable : public Executable {
protected:
    void SetUp() override {
        KAVLENTO_NEEDS_ROOT("mounts file systems, or starts the program as another user");
        Executable::SetUp();
    }
};
using SlowExecutable = Executable;

} // namespace

TEST_F(Executable, AnEmptyCommandLineEndsAtOnceWithNothingWritten) {
    storeTarget(targetFolder);
    const Tree before = snapshot(programFolder);
    QProcess& process = start({}, Screen::Virtual);
    EXPECT_EQ(finish(process, 10000), 4);
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Executable, TheKeywordWithoutTheLaunchCodeEndsSilently) {
    storeTarget(targetFolder);
    QProcess& process = start({"OtoRadizEv"});
    EXPECT_EQ(finish(process, 10000), 4);
    EXPECT_TRUE(archives().isEmpty());
    EXPECT_TRUE(process.readAllStandardError().trimmed().isEmpty());
}

TEST_F(Executable, TheLaunchCodeInsideALongerWordOrALowerCaseKeywordStartsTheWindow) {
    storeTarget(targetFolder);
    const Tree before = snapshot(programFolder);
    QProcess& word = start({"Kasa4702519836Ana"}, Screen::Virtual);
    EXPECT_TRUE(stillRunningAfter(word, 1500)); // waiting for the user
    word.kill();
    word.waitForFinished();
    QProcess& lower = start({"4702519836", "otoradizev"}, Screen::Virtual);
    EXPECT_TRUE(stillRunningAfter(lower, 1500));
    lower.kill();
    lower.waitForFinished();
    EXPECT_TRUE(archives().isEmpty());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Executable, AnUnattendedStartWithoutATargetWaitsAtItsMessage) {
    const Tree before = snapshot(programFolder);
    QProcess& process = start({"4702519836OtoRadizEv"}, Screen::Virtual);
    EXPECT_TRUE(stillRunningAfter(process, 1500));
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError())
                    .contains(" Kavlento: YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK"));
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(Executable, WithoutADisplayTheMissingTargetGoesToStandardErrorAndEnds) {
    const Tree before = snapshot(programFolder);
    QProcess& process = start({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(finish(process, 10000), 2);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError())
                    .contains("YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK"));
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

TEST_F(RootExecutable, ASecondStartWhileOneRunsEndsAtOnceWhateverItsUserOrSession) {
    storeTarget(targetFolder);
    for (const QString& path : {folder.path(), programFolder}) {
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0755), 0); // others may look in
    }
    const QString ownRuntime = folder.file("calisma-1");
    QDir().mkpath(ownRuntime);
    QProcess& first = start({"4702519836"}, Screen::Virtual, false, ownRuntime);
    ASSERT_TRUE(stillRunningAfter(first, 1000));
    // What a restore under way has in the folder: no later start may touch it.
    writeFile(programFolder + "/.kavlento-geri-yukleme/yeni/a.txt", "yarım");
    const Tree before = snapshot(programFolder);

    const QString otherRuntime = folder.file("calisma-2");
    QDir().mkpath(otherRuntime);
    ASSERT_EQ(::chown(QFile::encodeName(otherRuntime).constData(), 65534, 65534), 0);
    for (const auto& [unprivileged, runtime] : std::vector<std::pair<bool, QString>>{
             {false, otherRuntime}, {false, QString()}, {true, otherRuntime}, {true, QString()}}) {
        QProcess& second = start({"4702519836", "OtoRadizEv"}, Screen::None, unprivileged, runtime);
        EXPECT_EQ(finish(second, 15000), 3) << unprivileged << runtime.toStdString();
        // One line for the log says why nothing was done.
        EXPECT_TRUE(QString::fromLocal8Bit(second.readAllStandardError())
                        .contains(" Kavlento: bu klasörde zaten çalışıyor; "));
    }
    EXPECT_TRUE(archives().isEmpty());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    EXPECT_TRUE(QDir(ownRuntime).isEmpty());
    EXPECT_TRUE(QDir(otherRuntime).isEmpty()); // no lock file anywhere
}

TEST_F(RootExecutable, AFailureAtStartUpIsReportedAndEndsWithStatusOne) {
    // Another user may run the program but not look into its folder: the lock
    // on the folder cannot be taken. No abort, whatever the runtime folder.
    storeTarget(targetFolder);
    ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(programFolder).constData(), 0711), 0);
    const QString foreignRuntime = folder.file("baskasinin");
    QDir().mkpath(foreignRuntime); // owned by root, not by the user who runs
    for (const QString& runtime : {QString(), foreignRuntime}) {
        QProcess& process = start({"4702519836", "OtoRadizEv"}, Screen::None, true, runtime);
        EXPECT_EQ(finish(process), 1);
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_TRUE(errors.contains(" Kavlento: hata 70: ")) << errors.toStdString();
        EXPECT_FALSE(errors.contains("terminate")) << errors.toStdString();
    }
}

// The host's command line is never turned away: the markers count anywhere,
// the options only in their exact forms, any other word is ignored with a
// warning, and where the keyword is, one backup is always taken. Help without
// the launch code never gives it away.
TEST_F(Executable, EveryCommandLineGoesOnAsItWouldWithoutWhatItDoesNotKnow) {
    const QString code = "4702519836";
    for (const auto& [arguments, status, backups, said] :
         std::vector<std::tuple<QStringList, int, int, QString>>{
             // No target is stored yet: --hedef stores it, then the backup goes there.
             {{code, "OtoRadizEv", "--hedef", targetFolder}, 0, 1, "hedefi kaydedildi"},
             // A mistake beside the keyword: the backup is taken, with a status of its own.
             {{code, "OtoRadizEv", "--hedef", folder.file("yok")}, 10, 1, "--hedef yok sayıldı"},
             {{"--" + code, "OtoRadizEv"}, 0, 1, "yedek alındı"},
             {{code, "OtoRadizEv", "--"}, 10, 1, "tanınmayan sözcükler yok sayıldı: \"--\""},
             {{code, "--sakla", "OtoRadizEv"}, 10, 1, "--sakla için 1 ya da daha büyük"},
             {{code, "OtoRadizEv", "--sakla", "0", "--denetle"}, 10, 1, "--denetle OtoRadizEv ile"},
             {{code, "--kaynak=host"}, 6, 0, "yok sayıldı: \"--kaynak=host\""},
             {{code, "--hedef"}, 7, 0, "--yardım"},
             {{code, "--sakla", "2"}, 7, 0, "--yardım"},
             {{"--yardım"}, 0, 0, "Kullanım: kavlento KOD"},
             {{"OtoRadizEv", "--help"}, 0, 0, "  5  otomatik"},
             {{code, "--help"}, 0, 0, "Kullanım: kavlento 4702519836"}}) {
        const qsizetype before = archives().size();
        const auto [ended, output] = run(arguments);
        const std::string where = (arguments.join(' ') + "\n" + output).toStdString();
        EXPECT_EQ(ended, status) << where;
        EXPECT_EQ(archives().size() - before, backups) << where;
        EXPECT_TRUE(output.contains(said)) << where;
        EXPECT_TRUE(arguments.join(' ').contains(code) || !output.contains(code)) << where;
    }
}

TEST_F(Executable, TheTargetIsStoredFromTheCommandLineAfterTheFolderChoosersChecks) {
    const QString turkish = folder.file("Şirket Yedekleri");
    QDir().mkpath(turkish);
    const auto [stored, said] = run({"4702519836", "--hedef", turkish});
    EXPECT_EQ(stored, 0);
    EXPECT_TRUE(said.contains(turkish)) << said.toStdString();
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), store::TargetSetting::encode(turkish));
    // Not there; not held by the code page.
    QDir().mkpath(folder.file("日本"));
    for (const QString& refused : {folder.file("yok"), folder.file("日本")}) {
        EXPECT_EQ(run({"4702519836", "--hedef", refused}).first, 7) << refused.toStdString();
        EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"),
                  store::TargetSetting::encode(turkish));
    }
}

// A folder no backup could be written to is refused by --hedef, which keeps
// the stored target; a backup there fails saying, in plain words, what
// happened and what to do.
TEST_F(RootExecutable, ATargetNoBackupCanBeWrittenToIsRefusedAndItsFailureSaysWhatToDo) {
    for (const QString& path : {folder.path(), programFolder}) {
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0755), 0); // others may look in
    }
    const QString readOnly = folder.file("salt-okunur");
    const MountedFileSystem disk(FileSystemKind::Tmpfs, readOnly);
    ASSERT_EQ(runTool("mount", {"-o", "remount,ro", readOnly}).exitCode, 0);
    const QString forbidden = folder.file("yasak"); // root's: the other user may not write
    QDir().mkpath(forbidden);
    const QString unplugged = folder.file("takili-degil");
    for (const auto& [target, refusal, failure] :
         std::vector<std::tuple<QString, QString, QString>>{
             {readOnly, "DİSKİ YALNIZCA OKUNABİLİR", "yedekleme diski (%1) yalnızca okunabilir."},
             {forbidden, "YAZMA İZNİNİZ YOK", "yedekleme klasörüne (%1) yazma izniniz yok."},
             {unplugged, "BÖYLE BİR KLASÖR YOK", "(%1) bulunamıyor. Yedekleme diski takılı "}}) {
        storeTarget(targetFolder);
        QProcess& stored = start({"4702519836", "--hedef", target}, Screen::None, true);
        EXPECT_EQ(finish(stored), 7);
        EXPECT_TRUE(QString::fromLocal8Bit(stored.readAllStandardOutput()).contains(refusal));
        EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"),
                  store::TargetSetting::encode(targetFolder));
        storeTarget(target);
        QProcess& backup = start({"4702519836", "OtoRadizEv"}, Screen::None, true);
        EXPECT_EQ(finish(backup), 1);
        const QString log = QString::fromLocal8Bit(backup.readAllStandardError());
        EXPECT_TRUE(log.contains(": Yedek alınamadı: ") && log.contains(failure.arg(target)) &&
                    log.contains("GÖZAT... düğmesiyle başka bir klasör seçin."))
            << log.toStdString();
    }
}

TEST_F(Executable, EveryBackupOfTheHistoryIsCheckedWithoutWritingAnything) {
    storeTarget(targetFolder);
    makeSampleTree(programFolder);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    const QString sound = targetFolder + "/" + archives().first();
    const QString damaged = folder.file("bozuk.ksd");
    QByteArray bytes = readBytes(sound);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
    writeBytes(damaged, bytes);
    const QString away = "/media/takılı-değil/07-12-2026/7122026.1.ksd";
    const QString deleted = QFileInfo(sound).path() + "/7122026.2.ksd";
    store::HistoryFile history(programFolder);
    history.append({"07-12-2026", "10:00:00", damaged});
    history.append({"07-12-2026", "11:00:00", away});
    history.append({"07-12-2026", "12:00:00", deleted});
    const Tree before = snapshot(folder.path());

    const auto [status, said] = run({"4702519836", "--denetle"});
    EXPECT_EQ(status, 8) << said.toStdString();
    EXPECT_TRUE(said.contains("SAĞLAM        " + sound)) << said.toStdString();
    EXPECT_TRUE(said.contains("BOZUK         " + damaged)) << said.toStdString();
    EXPECT_TRUE(said.contains("ULAŞILAMIYOR  " + away)) << said.toStdString();
    EXPECT_TRUE(said.contains("YOK           " + deleted)) << said.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(folder.path())), "");

    // What cannot be reached is not damaged, nor sound; nor is an empty history.
    history.removeArchive(damaged);
    const auto [unchecked, summary] = run({"4702519836", "--denetle"});
    EXPECT_EQ(unchecked, 9);
    EXPECT_TRUE(summary.contains("1 sağlam, 0 bozuk; 2 denetlenemedi: 1 ulaşılamıyor"))
        << summary.toStdString();
    QFile::remove(programFolder + "/yedekleme.lst");
    EXPECT_EQ(run({"4702519836", "--denetle"}).first, 9);
}

// Nights played through a moved clock: each keeps the newest two sound
// archives of this folder, and only those; a damaged one is neither counted
// nor deleted; a record whose archive is gone from its dated folder goes.
TEST_F(Executable, KeepingTheNewestKeepsSoundArchivesOfThisFolderNightAfterNight) {
    storeTarget(targetFolder);
    writeFile(programFolder + "/veri.txt", "veri");
    // Not ours, or not in the target: never deleted.
    const QString stranger = targetFolder + "/15-06-2031/not.txt";
    writeFile(stranger, "kullanıcının");
    const QString elsewhere = folder.file("baska/15-06-2031/15062031.1.ksd");
    writeFile(elsewhere, "başka bir hedefin yedeği");
    store::HistoryFile(programFolder).append({"15-06-2031", "01:00:00", elsewhere});
    const QString deletedByHand = targetFolder + "/16-06-2031/1662031.800.ksd";
    const auto night = [&](const char* moment, int expected = 0) {
        holdClockAt(moment);
        const auto [status, said] = run({"4702519836", "OtoRadizEv", "--sakla", "2"});
        EXPECT_EQ(status, expected) << said.toStdString();
        EXPECT_TRUE(said.contains("yedek alındı: ")) << said.toStdString();
        return said;
    };
    for (const char* moment :
         {"2031-06-14 09:00:00", "2031-06-15 09:00:00", "2031-06-15 10:00:00"}) {
        night(moment);
    }
    store::HistoryFile(programFolder).append({"16-06-2031", "08:00:00", deletedByHand});
    EXPECT_TRUE(
        night("2031-06-16 09:00:00").contains("kaydı geçmişten çıkarıldı: " + deletedByHand));
    EXPECT_EQ(archives(), (QStringList{"15-06-2031/1562031.1000.ksd", "15-06-2031/not.txt",
                                       "16-06-2031/1662031.900.ksd"}));
    EXPECT_FALSE(QFileInfo::exists(targetFolder + "/14-06-2031")); // emptied, so gone
    EXPECT_TRUE(QFileInfo::exists(elsewhere));
    auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 3);
    EXPECT_EQ(history->archivePath(0), elsewhere);

    // One byte of the newest goes bad: the next night keeps it, uncounted,
    // and says so in its status too.
    const QString damaged = targetFolder + "/16-06-2031/1662031.900.ksd";
    QByteArray bytes = readBytes(damaged);
    bytes[bytes.size() / 3] = static_cast<char>(bytes[bytes.size() / 3] ^ 1);
    writeBytes(damaged, bytes);
    EXPECT_TRUE(night("2031-06-17 09:00:00", 13)
                    .contains("BOZUK yedek, sayılmadı ve silinmeyecek: " + damaged));
    EXPECT_EQ(archives(),
              (QStringList{"15-06-2031/1562031.1000.ksd", "15-06-2031/not.txt",
                           "16-06-2031/1662031.900.ksd", "17-06-2031/1762031.900.ksd"}));

    // An old archive that cannot be deleted leaves the night's backup taken
    // and recorded, and says what stayed undone.
    QFile::remove(damaged);
    const QString fixed = targetFolder + "/15-06-2031";
    if (runTool("chattr", {"+i", fixed}).exitCode != 0) {
        GTEST_SKIP() << "this file system keeps no immutable flag";
    }
    const QString said = night("2031-06-18 09:00:00", 13);
    runTool("chattr", {"-i", fixed});
    EXPECT_TRUE(said.contains("yedek alındı, ama eski yedekler silinemedi")) << said.toStdString();
    EXPECT_TRUE(QFileInfo::exists(targetFolder + "/18-06-2031/1862031.900.ksd"));
    history = store::HistoryFile(programFolder).load();
    EXPECT_EQ(history->archivePath(history->size() - 1),
              targetFolder + "/18-06-2031/1862031.900.ksd");
}

// A mistake of the administrator's beside the keyword never stops the backup,
// and shows in the status; the host's own words (Qt's options among them)
// change nothing and never reach Qt.
TEST_F(Executable, AnOptionIgnoredBesideTheKeywordShowsInTheStatusAndTheBackupIsTaken) {
    storeTarget(targetFolder);
    writeFile(programFolder + "/veri.txt", "veri");
    const std::pair<QStringList, int> lines[] = {
        {{"--sakla=14"}, 10},
        {{"--sakla", "14x"}, 10},
        {{"--hedef", folder.file("yok")}, 10},
        {{"--denetle"}, 10},
        {{"-platform", "foo", "-style", "bar", "-plugin", "baz"}, 0},
    };
    int backups = 0;
    for (const auto& [words, status] : lines) {
        SCOPED_TRACE(words.join(' ').toStdString());
        const auto [ended, said] = run(QStringList{"4702519836", "OtoRadizEv"} + words);
        EXPECT_EQ(ended, status) << said.toStdString();
        EXPECT_TRUE(said.contains("yedek alındı")) << said.toStdString();
        EXPECT_EQ(store::HistoryFile(programFolder).load()->size(),
                  static_cast<std::size_t>(++backups));
    }
}

// --durum tells, reading no archive whole, whether backups go on; --denetle
// names a line of the history it cannot read.
TEST_F(Executable, TheStateAndTheCheckSayWhatAnAdministratorMustKnow) {
    writeFile(programFolder + "/veri.txt", "veri");
    const auto [unset, saidUnset] = run({"4702519836", "--durum"});
    EXPECT_EQ(unset, 11);
    EXPECT_TRUE(saidUnset.contains("hedef: seçilmemiş")) << saidUnset.toStdString();
    storeTarget(targetFolder);
    EXPECT_EQ(run({"4702519836", "--durum"}).first, 11); // no backup yet
    holdClockAt("2031-06-15 10:20:30");
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    const auto [fresh, said] = run({"4702519836", "--durum", "2"});
    EXPECT_EQ(fresh, 0) << said.toStdString();
    EXPECT_TRUE(said.contains("yedek sayısı: 1") && said.contains("diski takılı") &&
                said.contains("en yeni yedek: " + targetFolder + "/15-06-2031/1562031.102030.ksd"))
        << said.toStdString();
    holdClockAt("2031-06-18 10:20:30");
    const auto [stale, saidStale] = run({"4702519836", "--durum", "2"});
    EXPECT_EQ(stale, 11);
    EXPECT_TRUE(saidStale.contains("3 gün 0 saat önce")) << saidStale.toStdString();
    EXPECT_EQ(run({"4702519836", "--durum", "5"}).first, 0);

    EXPECT_EQ(run({"4702519836", "--denetle"}).first, 0);
    store::HistoryFile(programFolder).append({"18-06-2031", "01:00:00", "/yedek/bir.ksd"});
    writeBytes(programFolder + "/yedekleme.lst",
               readBytes(programFolder + "/yedekleme.lst") + "\"18-06-2031\",\"02:00\",\"/yar");
    const auto [unread, saidUnread] = run({"4702519836", "--denetle"});
    EXPECT_EQ(unread, 9);
    EXPECT_TRUE(saidUnread.contains("OKUNAMADI     yedekleme.lst satır 3"))
        << saidUnread.toStdString();
}

namespace {

// An X display on this machine's loopback that answers the first connection's
// opening as a server would, and then answers nothing: Qt's own connection
// waits for an answer that never comes.
class DisplayThatStopsAnswering {
public:
    DisplayThatStopsAnswering() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (port_ = 6100; port_ < 6200; ++port_) {
            address.sin_port = htons(static_cast<std::uint16_t>(port_));
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                break;
            }
        }
        ::listen(listener_, 4);
        server_ = std::thread([this] {
            const int first = ::accept(listener_, nullptr, nullptr);
            char opening[12];
            if (first >= 0 && ::recv(first, opening, sizeof opening, MSG_WAITALL) == 12) {
                const char accepted[8] = {1, 0, 11, 0, 0, 0, 0, 0}; // nothing follows
                ::send(first, accepted, sizeof accepted, MSG_NOSIGNAL);
            }
            accepted_.push_back(first);
            accepted_.push_back(::accept(listener_, nullptr, nullptr)); // and silence
        });
    }
    ~DisplayThatStopsAnswering() {
        ::shutdown(listener_, SHUT_RDWR);
        server_.join();
        for (const int fd : accepted_) {
            ::close(fd);
        }
        ::close(listener_);
    }
    QString display() const { return QStringLiteral("127.0.0.1:%1").arg(port_ - 6000); }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> accepted_;
    std::thread server_;
};

} // namespace

// However a display behaves, an unattended run ends within a bounded time:
// one that answers the probe and then never answers Qt's connection ends the
// run after 30 seconds, saying so.
TEST_F(SlowExecutable, NoUnattendedRunWaitsForEverForADisplay) {
    storeTarget(targetFolder);
    writeFile(programFolder + "/veri.txt", "veri");
    const DisplayThatStopsAnswering display;
    realDisplay = display.display();
    QProcess& backup = start({"4702519836", "OtoRadizEv"}, Screen::Real);
    EXPECT_EQ(finish(backup, 90000), 1);
    const QString said = QString::fromLocal8Bit(backup.readAllStandardError());
    EXPECT_TRUE(said.contains("ekran 30 saniyedir yanıt vermiyor")) << said.toStdString();
    EXPECT_FALSE(QFileInfo::exists(programFolder + "/yedekleme.lst"));
}

// Every unattended run leaves its line for the log, display or not; a display
// that cannot be reached or never answers runs it offscreen, and a start for
// the window says why none can be shown.
TEST_F(Executable, EveryUnattendedRunLeavesItsLineWhateverTheDisplay) {
    // A busy machine takes half a minute over a backup of the program itself;
    // a display that never answers is bounded by the program's own limit
    // (see NoUnattendedRunWaitsForEverForADisplay), not by how fast this one is.
    constexpr int kEndsWithin = 300000;
    storeTarget(targetFolder);
    for (const Screen screen : {Screen::Stale, Screen::Silent, Screen::Virtual}) {
        QProcess& unattended = start({"4702519836", "OtoRadizEv"}, screen);
        EXPECT_EQ(finish(unattended, kEndsWithin), 0);
        // One line, and nothing from a display that is not there.
        const QString log = QString::fromLocal8Bit(unattended.readAllStandardError());
        EXPECT_TRUE(QRegularExpression(
                        QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Kavlento: yedek )"
                                       R"(alındı: .+\.ksd \(\d+\.\d MB, \d+ girdi, \d+\.\d\d )"
                                       R"(saniye, denetimi \d+\.\d\d saniye\)\n$)"))
                        .match(log)
                        .hasMatch())
            << log.toStdString();
    }
    EXPECT_EQ(archives().size(), 3);
    for (const Screen screen : {Screen::Stale, Screen::Silent}) {
        QProcess& interactive = start({"4702519836"}, screen);
        EXPECT_EQ(finish(interactive, kEndsWithin), 6);
        EXPECT_TRUE(QString::fromLocal8Bit(interactive.readAllStandardError()).contains("EKRAN"));
    }
}

TEST_F(Executable, AnUnattendedBackupWritesOneCompleteArchiveAndEnds) {
    makeSampleTree(programFolder);
    storeTarget(targetFolder);
    const QByteArray setting = readBytes(programFolder + "/yedekleme.dat");
    QProcess& process = start({"4702519836", "OtoRadizEv"});
    ASSERT_EQ(finish(process), 0) << process.readAllStandardError().toStdString();

    const QStringList found = archives();
    ASSERT_EQ(found.size(), 1);
    const QString archivePath = targetFolder + "/" + found.first();
    EXPECT_TRUE(
        QRegularExpression(R"(^[^/]+/\d{5,8}\.\d{3,6}\.ksd$)").match(found.first()).hasMatch())
        << found.first().toStdString();

    const ToolResult list = runTool("7zz", {"l", "-slt", "-p6150937284", archivePath});
    ASSERT_EQ(list.exitCode, 0);
    EXPECT_TRUE(list.output.contains("Method = AES-256 Deflate"));
    for (const char* name : {"Path = .gizli\n", "Path = boş klasör/içinde boş\n",
                             "Path = kavlento\n", "Path = .gizli klasör/ayar.ini\n"}) {
        EXPECT_TRUE(list.output.contains(QString::fromUtf8(name))) << name;
    }
    const QString unpacked = folder.file("acilan");
    const ToolResult extract = runTool("7zz", {"x", "-p6150937284", "-o" + unpacked, archivePath});
    ASSERT_EQ(extract.exitCode, 0) << extract.output.toStdString();
    // The history record is written while the archive is made, and the setting
    // is written again on the way out; the rest is identical.
    EXPECT_EQ(firstDifference(snapshot(programFolder, {"yedekleme.lst", "yedekleme.dat"}),
                              snapshot(unpacked, {"yedekleme.lst", "yedekleme.dat"})),
              "");
    EXPECT_EQ(readBytes(unpacked + "/yedekleme.dat"), setting);

    const QString dated = found.first().section('/', 0, 0);
    EXPECT_TRUE(QRegularExpression("^\"" + QRegularExpression::escape(dated) + "\",\"[^\"]+\",\"" +
                                   QRegularExpression::escape(archivePath) + "\"\r\n$")
                    .match(QString::fromUtf8(readBytes(programFolder + "/yedekleme.lst")))
                    .hasMatch());
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), setting);
}

TEST_F(Executable, ASettingThatCannotBeReadTakesTheFailurePath) {
    if (::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty()) {
        GTEST_SKIP() << "needs setpriv to run as an ordinary user";
    }
    storeTarget(targetFolder);
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(programFolder + "/yedekleme.dat").constData(), 0);
    QProcess& process = start({"4702519836", "OtoRadizEv"}, Screen::None, true);
    EXPECT_EQ(finish(process, 10000), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("hata 70"));
    EXPECT_TRUE(archives().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(programFolder + "/yedekleme.lst"));
}

TEST_F(Executable, AFileThatCannotBeReadFailsTheBackupWithNoArchiveLeft) {
    if (::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty()) {
        GTEST_SKIP() << "needs setpriv to run as an ordinary user";
    }
    writeFile(programFolder + "/a.txt", "okunur", 0644);
    writeFile(programFolder + "/alt/kilitli.db", "okunamaz", 0);
    writeFile(programFolder + "/z.txt", "okunur", 0644);
    ::chmod(QFile::encodeName(programFolder + "/alt").constData(), 0777);
    storeTarget(targetFolder);
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(targetFolder).constData(), 0777);
    ::chmod(QFile::encodeName(programFolder).constData(), 0777);
    ::chmod(QFile::encodeName(programFolder + "/yedekleme.dat").constData(), 0666);
    QProcess& process = start({"4702519836", "OtoRadizEv"}, Screen::None, true);
    EXPECT_EQ(finish(process), 1);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_TRUE(errors.contains("kilitli.db")) << errors.toStdString();
    for (const QString& dated : QDir(targetFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        EXPECT_TRUE(QDir(targetFolder + "/" + dated)
                        .entryList(QDir::Files | QDir::Hidden | QDir::System)
                        .isEmpty());
    }
}

namespace {

struct Stick {
    FileSystemKind kind;
    qsizetype pictureBytes; // a file no compression shrinks, beside the sample tree
};

void PrintTo(const Stick& stick, std::ostream* out) {
    *out << nameOf(stick.kind);
}

// A target on a USB stick's file system, where a file can be neither unnamed
// nor linked: the archive is written under a temporary name and renamed.
class UsbStick : public Executable, public ::testing::WithParamInterface<Stick> {
protected:
    // Every file and folder under the target, hidden ones too, in order.
    std::string targetContents() const {
        QStringList found;
        for (QDirIterator it(targetFolder,
                             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            found.append(QDir(targetFolder).relativeFilePath(it.next()));
        }
        found.sort();
        return found.join(", ").toStdString();
    }
};

} // namespace

TEST_P(UsbStick, TwoBackupsInOneSecondGetTwoNamesAndEachRestoresTheFolder) {
    KAVLENTO_NEEDS_ROOT("mounts a file system");
    makeSampleTree(programFolder);
    writeFile(programFolder + "/resim.jpg", incompressibleBytes(GetParam().pictureBytes, 5));
    // The program's symbols would be most of the archive.
    ASSERT_EQ(runTool("strip", {programFolder + "/kavlento"}).exitCode, 0);
    const MountedFileSystem stick(GetParam().kind, targetFolder, 160);
    storeTarget(targetFolder);
    // Both runs see the same moment, so the second must find itself a free name.
    holdClockAt("2031-06-15 10:20:30");

    QProcess& first = start({"4702519836", "OtoRadizEv"});
    ASSERT_EQ(finish(first), 0) << first.readAllStandardError().toStdString();
    const QStringList found = archives();
    ASSERT_EQ(found.size(), 1);
    const QString dated = found[0].section('/', 0, 0);
    const QString firstArchive = found[0];
    EXPECT_TRUE(firstArchive.endsWith(".ksd")) << firstArchive.toStdString();
    EXPECT_EQ(targetContents(), (QStringList{dated, firstArchive}.join(", ").toStdString()));
    const QByteArray firstBytes = readBytes(targetFolder + "/" + firstArchive);

    // What a killed run of this folder left half written goes, in whichever
    // dated folder it lies, also when its process number has gone to another
    // process since (1, after a restart); what a living writer holds stays,
    // and so does another folder's.
    const QString own = QString::fromStdString(
        archive::unfinishedFileWriter(archive::originOf(programFolder.toStdString(), 0)));
    const QString dead = "01-01-2030/.kavlento-" + own + "-1-7.yaziliyor";
    const QString living = dated + "/.kavlento-" + own + "-1-8.yaziliyor";
    const QString others = dated + "/.kavlento-0123456789abcdef-1-9.yaziliyor";
    QDir(targetFolder).mkdir("01-01-2030");
    for (const QString& leftover : {dead, living, others}) {
        writeFile(targetFolder + "/" + leftover, "yarım");
    }
    QFile writing(targetFolder + "/" + living);
    ASSERT_TRUE(writing.open(QIODevice::ReadOnly));
    ASSERT_EQ(::flock(writing.handle(), LOCK_EX), 0);

    QProcess& second = start({"4702519836", "OtoRadizEv"});
    ASSERT_EQ(finish(second), 0) << second.readAllStandardError().toStdString();
    writing.close();
    EXPECT_TRUE(QFile::remove(targetFolder + "/" + living));
    EXPECT_TRUE(QFile::remove(targetFolder + "/" + others));
    const QString secondArchive = firstArchive.chopped(4) + "-2.ksd";
    EXPECT_EQ(
        targetContents(),
        (QStringList{"01-01-2030", dated, secondArchive, firstArchive}.join(", ").toStdString()));
    EXPECT_EQ(readBytes(targetFolder + "/" + firstArchive), firstBytes);

    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history.has_value());
    ASSERT_EQ(history->size(), 2u);
    EXPECT_EQ(history->archivePath(0), targetFolder + "/" + firstArchive);
    EXPECT_EQ(history->archivePath(1), targetFolder + "/" + secondArchive);

    // What a run changes itself is the history and the setting; the rest is the folder.
    const QStringList ownFiles{"yedekleme.lst", "yedekleme.dat"};
    const Tree expected = snapshot(programFolder, ownFiles);
    for (const QString& archivePath : {firstArchive, secondArchive}) {
        const QString restored = folder.file("acilan/" + archivePath);
        QDir().mkpath(restored);
        extractArchive(targetFolder + "/" + archivePath, restored);
        EXPECT_EQ(firstDifference(expected, snapshot(restored, ownFiles)), "")
            << archivePath.toStdString();
    }
}

TEST_P(UsbStick, AFullStickIsSaidToBeFullAndKeepsNoHalfArchive) {
    KAVLENTO_NEEDS_ROOT("mounts a file system");
    writeFile(programFolder + "/resim.jpg", incompressibleBytes(24 << 20, 6));
    const MountedFileSystem stick(GetParam().kind, targetFolder, 16);
    storeTarget(targetFolder);
    const auto [status, output] = run({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(output.contains("diskte yer kalmadı")) << output.toStdString();
    EXPECT_EQ(targetContents().find(".ksd"), std::string::npos) << targetContents();
}

// Archives ten times the writer's buffer: fusefat, the FAT32 driver here,
// loses data when a file is written into its middle and then extended, which
// an archive written front to back never does.
INSTANTIATE_TEST_SUITE_P(RootSticks, UsbStick,
                         ::testing::Values(Stick{FileSystemKind::ExFat, 40 << 20},
                                           Stick{FileSystemKind::Fat32, 40 << 20}),
                         [](const ::testing::TestParamInfo<Stick>& info) {
                             return std::string(nameOf(info.param.kind));
                         });

namespace {

enum class TargetPlace { InsideTheProgramFolder, TheProgramFolderItself, MountedInside };

void PrintTo(TargetPlace place, std::ostream* out) {
    *out << static_cast<int>(place);
}

class WhereTheTargetLies : public Executable, public ::testing::WithParamInterface<TargetPlace> {
protected:
    // The paths an archive holds, as 7-Zip lists them.
    static QStringList entriesOf(const QString& archive) {
        const ToolResult list = runTool("7zz", {"l", "-slt", "-p6150937284", archive});
        EXPECT_EQ(list.exitCode, 0) << list.output.toStdString();
        QStringList paths;
        for (const QString& line : list.output.split('\n')) {
            if (line.startsWith("Path = ")) {
                paths.append(line.mid(7));
            }
        }
        return paths.mid(1); // the first is the archive itself
    }
};

} // namespace

// Wherever the target lies, the next backup leaves out exactly the earlier
// archives and packs every file of the host, whatever its folder is called.
TEST_P(WhereTheTargetLies, OnlyEarlierArchivesAreLeftOutOfTheNextBackup) {
    writeFile(programFolder + "/veri.db", "kayıtlar");
    writeFile(programFolder + "/03-12-2026/zrapor.txt", "günün raporu"); // named like a day
    QString target = targetFolder;
    std::unique_ptr<MountedFileSystem> mounted;
    switch (GetParam()) {
    case TargetPlace::InsideTheProgramFolder:
        target = programFolder + "/yedek";
        writeFile(target + "/liste.txt", "programın dosyası");
        break;
    case TargetPlace::TheProgramFolderItself:
        target = programFolder;
        break;
    case TargetPlace::MountedInside:
        KAVLENTO_NEEDS_ROOT("mounts a file system");
        mounted = std::make_unique<MountedFileSystem>(targetFolder, programFolder + "/bagli");
        break;
    }
    storeTarget(target);
    // The first day's archive goes into the host's folder of that day.
    for (const char* day : {"2026-12-03 10:00:00", "2026-12-04 10:00:00"}) {
        holdClockAt(day);
        QProcess& backup = start({"4702519836", "OtoRadizEv"});
        ASSERT_EQ(finish(backup), 0) << backup.readAllStandardError().toStdString();
    }
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 2);
    const QStringList entries = entriesOf(history->archivePath(1));
    EXPECT_TRUE(entries.contains("veri.db"));
    EXPECT_TRUE(entries.contains("03-12-2026/zrapor.txt")) << entries.join(' ').toStdString();
    if (GetParam() == TargetPlace::InsideTheProgramFolder) {
        EXPECT_TRUE(entries.contains("yedek/liste.txt")) << entries.join(' ').toStdString();
    }
    EXPECT_TRUE(entries.filter(".ksd").isEmpty()) << entries.join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Targets, WhereTheTargetLies,
                         ::testing::Values(TargetPlace::InsideTheProgramFolder,
                                           TargetPlace::TheProgramFolderItself));
INSTANTIATE_TEST_SUITE_P(RootTargets, WhereTheTargetLies,
                         ::testing::Values(TargetPlace::MountedInside));

// Three program folders back up into one stick in the same second: each takes
// a free name, and each history names the archive of its own folder.
TEST_F(RootExecutable, FoldersRacingForOneNameEachRecordTheirOwnArchive) {
    const MountedFileSystem stick(FileSystemKind::ExFat, targetFolder);
    holdClockAt("2031-06-15 10:20:30");
    std::vector<QString> programs;
    std::vector<QProcess*> runs;
    for (int i = 0; i < 3; ++i) {
        programFolder = folder.file(QStringLiteral("program%1").arg(i));
        QDir().mkpath(programFolder);
        install(programFolder);
        writeFile(programFolder + "/kimlik.txt", QByteArray::number(i));
        storeTarget(targetFolder);
        programs.push_back(programFolder);
    }
    for (const QString& program : programs) {
        programFolder = program;
        runs.push_back(&start({"4702519836", "OtoRadizEv"}));
    }
    for (QProcess* run : runs) {
        EXPECT_EQ(finish(*run), 0) << run->readAllStandardError().toStdString();
    }
    EXPECT_EQ(archives().size(), 3);
    for (int i = 0; i < 3; ++i) {
        const auto history = store::HistoryFile(programs[i]).load();
        ASSERT_TRUE(history && history->size() == 1) << i;
        const QString restored = folder.file(QStringLiteral("acilan%1").arg(i));
        QDir().mkpath(restored);
        extractArchive(history->archivePath(0), restored);
        EXPECT_EQ(readBytes(restored + "/kimlik.txt"), QByteArray::number(i));
    }
}

// Root takes the backup; meanwhile the folder's owner puts links to a folder
// only root may read in the places of a sub-folder and of the dated folder.
// Nothing of that folder gets into an archive, and no record leads through a
// link; the archive is as private as the program folder.
TEST_F(RootExecutable, FoldersSwappedForLinksWhileABackupRunsLeakNothing) {
    writeFile(programFolder + "/a-buyuk.bin", incompressibleBytes(160 << 20, 4));
    writeFile(programFolder + "/alt/gizli.txt", "kendi");
    writeFile(folder.file("yalniz-root/gizli.txt"), "kökün sırrı");
    ASSERT_EQ(::chmod(QFile::encodeName(folder.file("yalniz-root")).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(programFolder).constData(), 0700), 0);
    storeTarget(targetFolder);

    QProcess& first = start({"4702519836", "OtoRadizEv"});
    ASSERT_TRUE(waitUntilReading(first, "a-buyuk.bin"));
    ASSERT_TRUE(QDir().rename(programFolder + "/alt", programFolder + "/alt-eski"));
    makeLink(programFolder + "/alt", folder.file("yalniz-root"));
    ASSERT_EQ(finish(first), 0) << first.readAllStandardError().toStdString();
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 1);
    EXPECT_EQ(fs::lookUp(fs::toSystemPath(history->archivePath(0))).mode, 0600u);
    const auto contents = readWithLibzip(history->archivePath(0), "6150937284");
    for (const auto& [name, bytes] : contents) {
        EXPECT_NE(bytes, "kökün sırrı") << name;
    }

    QFile::remove(programFolder + "/alt");
    QDir().rename(programFolder + "/alt-eski", programFolder + "/alt");
    QProcess& second = start({"4702519836", "OtoRadizEv"});
    ASSERT_TRUE(waitUntilReading(second, "a-buyuk.bin"));
    const QString dated = QDir(targetFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot).first();
    ASSERT_TRUE(QDir().rename(targetFolder + "/" + dated, folder.file("kaydirilan")));
    makeLink(targetFolder + "/" + dated, folder.file("yalniz-root"));
    EXPECT_EQ(finish(second), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(second.readAllStandardError())
                    .contains("yerinden oynatıldı ya da yerine başka bir şey kondu"));
    EXPECT_EQ(store::HistoryFile(programFolder).load()->size(), 1u);
    EXPECT_EQ(QDir(folder.file("kaydirilan")).entryList(QDir::Files).size(), 1); // the first one
    EXPECT_EQ(QDir(folder.file("yalniz-root")).entryList(QDir::Files), QStringList{"gizli.txt"});
}

// In a target every user may write in, a dated folder another user made is
// not used; one of this user's that others may write in is closed first.
TEST_F(RootExecutable, ADatedFolderAnotherUserMadeIsRefusedAndOursIsClosedToOthers) {
    writeFile(programFolder + "/veri.txt", "veri");
    ASSERT_EQ(::chmod(QFile::encodeName(targetFolder).constData(), 01777), 0);
    const QString dated = targetFolder + "/15-06-2031";
    QDir().mkpath(dated);
    ASSERT_EQ(::chown(QFile::encodeName(dated).constData(), 65534, 65534), 0);
    storeTarget(targetFolder);
    holdClockAt("2031-06-15 10:20:30");
    const auto [refused, said] = run({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(said.contains("başka bir kullanıcının") && said.contains(dated))
        << said.toStdString();
    EXPECT_FALSE(QFile::exists(programFolder + "/yedekleme.lst"));

    ASSERT_EQ(::chown(QFile::encodeName(dated).constData(), 0, 0), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dated).constData(), 0777), 0);
    const auto [taken, log] = run({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(taken, 0) << log.toStdString();
    EXPECT_EQ(fs::lookUp(fs::toSystemPath(dated)).mode, 0755u);
}

// A backup stopped by a signal removes its unfinished file, records nothing
// and says so; one killed outright records nothing either.
TEST_F(RootExecutable, ABackupStoppedOrKilledLeavesNoArchiveAndNoRecord) {
    writeFile(programFolder + "/resim.jpg", incompressibleBytes(60 << 20, 9));
    const MountedFileSystem stick(FileSystemKind::ExFat, targetFolder, 160);
    storeTarget(targetFolder);
    for (const auto& [number, name] : std::vector<std::pair<int, QString>>{
             {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGKILL, ""}}) {
        SCOPED_TRACE(number);
        QProcess& backup = start({"4702519836", "OtoRadizEv"});
        // Stopped while its archive is being written.
        bool writing = false;
        for (int wait = 0; wait < 600 && !writing; ++wait) {
            QTest::qWait(20);
            for (const QString& file : archives()) {
                writing = writing || (file.endsWith(".yaziliyor") &&
                                      QFileInfo(targetFolder + "/" + file).size() > (1 << 20));
            }
        }
        ASSERT_TRUE(writing);
        ::kill(static_cast<pid_t>(backup.processId()), number);
        const int status = finish(backup);
        EXPECT_NE(status, 0);
        EXPECT_FALSE(QFile::exists(programFolder + "/yedekleme.lst"));
        const QStringList left = archives();
        EXPECT_TRUE(left.filter(".ksd").isEmpty()) << left.join(' ').toStdString();
        if (number != SIGKILL) {
            EXPECT_EQ(status, 1);
            EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
            const QString errors = QString::fromLocal8Bit(backup.readAllStandardError());
            EXPECT_TRUE(errors.contains("durdurma isteğiyle (" + name + ")"))
                << errors.toStdString();
        }
    }
}

// A folder of the target that the user may not open (root's lost+found at a
// disk's top) holds nothing of ours, and stops no backup.
TEST_F(Executable, AFolderOfTheTargetThatCannotBeOpenedStopsNoBackup) {
    if (::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty()) {
        GTEST_SKIP() << "needs setpriv to run as an ordinary user";
    }
    writeFile(programFolder + "/veri.db", "kayıtlar", 0644);
    writeFile(targetFolder + "/lost+found/parca", "kökün", 0600);
    storeTarget(targetFolder);
    for (const auto& [path, mode] :
         std::vector<std::pair<QString, mode_t>>{{folder.path(), 0755},
                                                 {targetFolder, 0777},
                                                 {targetFolder + "/lost+found", 0700},
                                                 {programFolder, 0777},
                                                 {programFolder + "/yedekleme.dat", 0666}}) {
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    }
    QProcess& process = start({"4702519836", "OtoRadizEv"}, Screen::None, true);
    EXPECT_EQ(finish(process), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(archives().filter(".ksd").size(), 1);
}

// A target on a disk that is not plugged in (its mount point stays as an
// empty folder on the system disk) gets no backup, and the reason is said.
TEST_F(Executable, ATargetWhoseDiskIsNotAttachedIsRefused) {
    ASSERT_EQ(fs::lookUp("/mnt").device, fs::lookUp("/").device);
    QTemporaryDir mountPoint(QStringLiteral("/mnt/kavlento-XXXXXX"));
    const QString target = mountPoint.path() + "/yedek";
    QDir().mkpath(target);
    storeTarget(target);
    QProcess& backup = start({"4702519836", "OtoRadizEv"});
    EXPECT_EQ(finish(backup), 1);
    const QString errors = QString::fromLocal8Bit(backup.readAllStandardError());
    EXPECT_TRUE(errors.contains("DİSKİ TAKILI DEĞİL") && errors.contains(target))
        << errors.toStdString();
    EXPECT_TRUE(QDir(target).isEmpty());
    EXPECT_FALSE(QFile::exists(programFolder + "/yedekleme.lst"));
    // Nor is such a folder stored as the target.
    const QByteArray stored = readBytes(programFolder + "/yedekleme.dat");
    const auto [status, said] = run({"4702519836", "--hedef", target + "/yeni"});
    EXPECT_EQ(status, 7);
    EXPECT_TRUE(said.contains("DİSKİ TAKILI DEĞİL")) << said.toStdString();
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), stored);
}

// A program folder whose name is not UTF-8 is never replaced by the folder
// the program was started from.
TEST_F(Executable, AProgramFolderWhoseNameIsNotUtf8IsRefused) {
    const std::string odd = QFile::encodeName(folder.path()).toStdString() + "/Muhasebe \xFD";
    ASSERT_EQ(::mkdir(odd.c_str(), 0755), 0);
    const std::string executable = odd + "/kavlento";
    ASSERT_EQ(
        ::link(QFile::encodeName(programFolder + "/kavlento").constData(), executable.c_str()), 0);
    const QString launch = folder.file("baslat");
    ASSERT_EQ(::symlink(executable.c_str(), QFile::encodeName(launch).constData()), 0);
    // Started from a folder that looks like a program folder with a target.
    const QString current = folder.file("ev");
    QDir().mkpath(current);
    writeBytes(current + "/yedekleme.dat", store::TargetSetting::encode(targetFolder));
    QProcess process;
    process.setWorkingDirectory(current);
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process.start(launch, {"4702519836", "OtoRadizEv"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("UTF-8"));
    EXPECT_EQ(QDir(current).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"yedekleme.dat"});
    EXPECT_TRUE(archives().isEmpty());
}

namespace {

// A virtual X display of the test's own, for driving the real window.
class VirtualDisplay {
public:
    // The server picks a free display itself and names it once it is ready,
    // so tests running side by side never share one.
    VirtualDisplay() {
        server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                               "-fbdir", frames_.path()});
        while (server_.waitForReadyRead(20000) && !server_.canReadLine()) {
        }
        const QByteArray number = server_.readLine().trimmed();
        if (!number.isEmpty()) {
            display_ = ":" + QString::fromLatin1(number);
        }
    }
    ~VirtualDisplay() {
        server_.kill();
        server_.waitForFinished();
    }
    bool running() const { return !display_.isEmpty() && server_.state() == QProcess::Running; }
    const QString& display() const { return display_; }

    // Runs xdotool against this display and returns what it printed.
    QString xdotool(const QStringList& arguments) const {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display_);
        tool.setProcessEnvironment(env);
        tool.start("xdotool", arguments);
        tool.waitForFinished(20000);
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    // A visible window whose title matches `title` (or that is the window of
    // that id) and is not in `known`, waiting `tries` tenths of a second.
    QString waitForWindow(const QString& title, const QStringList& known, int tries = 200) const {
        for (int tried = 0; tried < tries; ++tried) {
            for (const QString& window : xdotool({"search", "--onlyvisible", "--name", "."})
                                             .split('\n', Qt::SkipEmptyParts)) {
                if (!known.contains(window) &&
                    (window == title || QRegularExpression(title)
                                            .match(xdotool({"getwindowname", window}))
                                            .hasMatch())) {
                    return window;
                }
            }
            QThread::msleep(100);
        }
        return QString();
    }

    // What the window shows, from the screen Xvfb keeps in a file (XWD: a
    // big-endian header, a colour map of 12 bytes per entry, then the pixels).
    QImage grab(const QString& window) const {
        QMap<QString, int> at;
        for (const QString& line : xdotool({"getwindowgeometry", "--shell", window}).split('\n')) {
            at[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        }
        const QByteArray file = readBytes(frames_.path() + "/Xvfb_screen0");
        const auto field = [&file](int i) {
            return qFromBigEndian<quint32>(file.constData() + 4 * i);
        };
        const QImage screen(reinterpret_cast<const uchar*>(file.constData()) + field(0) +
                                12 * field(19),
                            int(field(4)), int(field(5)), field(12), QImage::Format_RGB32);
        return screen.copy(at["X"], at["Y"], at["WIDTH"], at["HEIGHT"]);
    }

    // Drives a restore in the window `program` has just opened: the lower
    // "GÖZAT...", the archive's path typed into the file dialog, then Enter on
    // every box that follows (Yes, then OK to the end or to the error) until
    // the program ends; box n gets the keys `keys[n]` instead, where given
    // ("Tab Return" answers Yes to a question that prefers No; "SIGTERM" sends
    // the program that instead of a key). Its exit status, or -1 when it did
    // not end.
    int restorePicked(QProcess& program, const QString& archive,
                      const QStringList& keys = {}) const {
        const QString main = waitForWindow("^Kavlento$", {});
        // A click or keys sent before a window takes them are lost on a busy
        // machine: each step is repeated until its effect shows.
        QString fileDialog;
        for (int tries = 0; fileDialog.isEmpty() && tries < 10; ++tries) {
            // The lower "GÖZAT..." sits at (246, 12) in the group box at (34, 528).
            xdotool({"mousemove", "--window", main, "328", "556", "click", "1"});
            fileDialog = waitForWindow(".", {main}, 30);
        }
        for (int tries = 0;
             tries < 10 && !fileDialog.isEmpty() && !waitForWindow(fileDialog, {}, 1).isEmpty();
             ++tries) {
            xdotool({"windowfocus", "--sync", fileDialog});
            xdotool({"key", "ctrl+a"});
            xdotool({"type", "--delay", "2", archive});
            xdotool({"key", "Return"});
            QThread::msleep(1500);
        }
        QStringList seen;
        for (int waited = 0; !program.waitForFinished(300) && waited < 400; ++waited) {
            const QString boxes = xdotool({"search", "--onlyvisible", "--name", "^Kavlento$"});
            for (const QString& box : boxes.split('\n', Qt::SkipEmptyParts)) {
                if (box != main) {
                    if (!seen.contains(box)) {
                        seen.append(box);
                    }
                    const int n = static_cast<int>(seen.indexOf(box));
                    const QString key = n < keys.size() ? keys[n] : QStringLiteral("Return");
                    if (key == QLatin1String("SIGTERM")) {
                        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
                        continue;
                    }
                    xdotool({"windowfocus", "--sync", box});
                    xdotool(QStringList{"key"} + key.split(' '));
                }
            }
        }
        if (program.state() != QProcess::NotRunning) {
            ADD_FAILURE() << "still running after: "
                          << QString::fromLocal8Bit(program.readAllStandardError()).toStdString();
            return -1;
        }
        if (program.exitCode() != 0) {
            std::printf("%s", program.readAllStandardError().constData()); // what went wrong
        }
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    }

private:
    QTemporaryDir frames_;
    QString display_;
    QProcess server_;
};

// Whether every small mark standing alone in `picture` (the dots and accents
// of Turkish letters) holds a dark pixel, rather than only light grey ones.
bool smallMarksAreDark(const QImage& picture) {
    QImage ink = picture.convertToFormat(QImage::Format_Grayscale8); // taken pixels turn white
    const int background = ink.scanLine(2)[2];
    for (int start = 0; start < ink.width() * ink.height(); ++start) {
        std::vector<QPoint> open{{start % ink.width(), start / ink.width()}};
        int size = 0;
        int darkest = 255;
        while (!open.empty()) {
            const QPoint p = open.back();
            open.pop_back();
            uchar* grey = ink.rect().contains(p) ? ink.scanLine(p.y()) + p.x() : nullptr;
            if (grey != nullptr && *grey < background - 16) {
                darkest = std::min<int>(darkest, *grey);
                *grey = 255;
                ++size;
                for (int n = 0; n < 9; ++n) {
                    open.push_back(p + QPoint(n % 3 - 1, n / 3 - 1));
                }
            }
        }
        if (size > 0 && size <= 12 && darkest > 0x80) {
            return false;
        }
    }
    return true;
}

// Restores driven through the real window on a display of the test's own.
class RealWindow : public Executable {
protected:
    VirtualDisplay screen;

    void SetUp() override {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty()) {
            GTEST_SKIP() << "needs Xvfb and xdotool";
        }
        Executable::SetUp();
        ASSERT_TRUE(screen.running());
        realDisplay = screen.display();
    }

    // Restores `archive` through the window, as the user 65534 when
    // `unprivileged`; the exit status. `keys` as for VirtualDisplay::restorePicked.
    int restorePicked(const QString& archive, bool unprivileged = false,
                      const QStringList& keys = {}) {
        return screen.restorePicked(start({"4702519836"}, Screen::Real, unprivileged), archive,
                                    keys);
    }
};

class RootRealWindow : public RealWindow {
protected:
    void SetUp() override {
        KAVLENTO_NEEDS_ROOT("mounts file systems, or starts the program as another user");
        RealWindow::SetUp();
    }
};
using SlowRealWindow = RealWindow;

} // namespace

TEST_F(RealWindow, PressingKapatInTheRealWindowStoresTheTargetAsTheSameBytes) {
    const QByteArray stored = store::TargetSetting::encode(QStringLiteral("/media/ARŞİV, ESKİ"));
    writeBytes(programFolder + "/yedekleme.dat", stored);

    QProcess& process = start({"4702519836"}, Screen::Real);
    const QString window = screen.waitForWindow("^Kavlento$", {});
    ASSERT_FALSE(window.isEmpty());
    QFile::remove(programFolder + "/yedekleme.dat");
    // KAPAT sits at (348, 12) in the lower group box at (34, 528); aim at its middle.
    screen.xdotool({"mousemove", "--window", window, "430", "556", "click", "1"});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), stored);
}

// The lower GÖZAT... opens where the backups are; a file there that is no
// backup is refused with nothing changed, in words that say so; and the boxes
// draw every Turkish letter clearly.
// An unattended run's box on a display closes by itself after two minutes,
// its line in the log first, and the run ends with its status.
TEST_F(SlowRealWindow, AnUnattendedRunsBoxClosesByItselfAndTheRunEndsWithItsStatus) {
    QProcess& unattended = start({"4702519836", "OtoRadizEv"}, Screen::Real); // no target
    ASSERT_TRUE(stillRunningAfter(unattended, 3000));
    EXPECT_TRUE(QString::fromLocal8Bit(unattended.readAllStandardError())
                    .contains("YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK"));
    EXPECT_EQ(finish(unattended, 150000), 2);
}

TEST_F(RealWindow, APickedFileIsLookedForAtTheTargetAndTheBoxesReadClearly) {
    storeTarget(targetFolder);
    writeFile(targetFolder + "/eski.ksd", "bir yedek değil");
    const Tree before = snapshot(programFolder);
    QProcess& process = start({"4702519836"}, Screen::Real);
    const QString window = screen.waitForWindow("^Kavlento$", {});
    ASSERT_FALSE(window.isEmpty());
    // The lower GÖZAT... sits at (246, 12) in the lower group box; aim at its middle.
    screen.xdotool({"mousemove", "--window", window, "328", "556", "click", "1"});
    const QString chooser = screen.waitForWindow("^Aç$", {});
    ASSERT_FALSE(chooser.isEmpty());
    // A bare name is looked for where the chooser opened.
    QTest::qWait(1000); // until it has listed the folder
    screen.xdotool({"windowfocus", "--sync", chooser, "type", "eski.ksd"});
    QTest::qWait(1000);
    screen.xdotool({"key", "Return"});
    const QString question = screen.waitForWindow("^Kavlento$", {window});
    ASSERT_FALSE(question.isEmpty()) << "the chooser did not find eski.ksd where it opened";
    EXPECT_TRUE(smallMarksAreDark(screen.grab(question))); // "YÜKLENSİN"
    screen.xdotool({"key", "Return"});                     // Evet
    process.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(process.waitForReadyRead(20000));
    const QString log = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_TRUE(log.contains("hata 321: Yedek geri yüklenemedi: seçilen dosya (" + targetFolder +
                             "/eski.ksd) bozuk ya da bir Kavlento yedeği değil. Program "
                             "klasöründe hiçbir şey değiştirilmedi."))
        << log.toStdString();
    ASSERT_FALSE(screen.waitForWindow("^Kavlento$", {window, question}).isEmpty());
    screen.xdotool({"key", "Return"}); // Tamam
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
}

namespace {

void setMode(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

// Hands the folder and all in it to the user 65534, and lets that user reach it.
void giveToNobody(const QString& folder, const QStringList& above) {
    for (const QString& path : above) {
        setMode(path, 0755);
    }
    QProcess::execute("chown", {"-R", "65534:65534", folder});
}

} // namespace

TEST_F(RealWindow, TheProgramsOwnFilesReplaceALinkInTheirPlaceAndNeverWriteThroughIt) {
    // Files of someone else's, which links in the program folder lead to.
    const QString victim = folder.file("baska/önemli.txt");
    const QString otherHistory = folder.file("baska/liste.txt");
    writeFile(victim, "dokunulmaz");
    const QByteArray itsRecord = "\"01-06-2031\",\"09:00:00\",\"/baska/1.1.ksd\"\r\n";
    writeFile(otherHistory, itsRecord);
    // The password is public: anyone can make an archive that places a link.
    const QString hostile = folder.file("saldiri.ksd");
    writeRawZip(hostile, {{"veri.txt", "yeni"}, {"prgcik.dat", victim.toUtf8(), 0120777}},
                RawEncryption::Aes256);
    makeLink(programFolder + "/prgcik.dat", victim); // or one was put there by hand
    storeTarget(targetFolder);
    ASSERT_EQ(restorePicked(hostile), 0);
    EXPECT_EQ(readBytes(programFolder + "/veri.txt"), "yeni");
    EXPECT_FALSE(QFileInfo(programFolder + "/prgcik.dat").isSymLink());
    EXPECT_EQ(readBytes(programFolder + "/prgcik.dat"), "");
    // A history linked elsewhere is not this folder's: the next record goes
    // into a file of the folder's own, and nothing of the other is copied.
    QFile::remove(programFolder + "/yedekleme.lst");
    makeLink(programFolder + "/yedekleme.lst", otherHistory);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    EXPECT_FALSE(QFileInfo(programFolder + "/yedekleme.lst").isSymLink());
    EXPECT_EQ(store::HistoryFile(programFolder).load()->size(), 1u);
    EXPECT_EQ(readBytes(victim), "dokunulmaz");
    EXPECT_EQ(readBytes(otherHistory), itsRecord);
}

// A database written after the backup has left its write-ahead journal, as a
// host application that was stopped does: restoring the backup through the
// window gives back the backup's data, not a mixture the journal would make
// of it, and the folder as it was is kept in a backup of its own.
TEST_F(RealWindow, ADatabasesLaterJournalLeavesWithTheRestore) {
    const auto sql = [](const QString& in, const QString& script) {
        QProcess sqlite;
        sqlite.setWorkingDirectory(in);
        sqlite.start("sqlite3", {"veri.db"});
        sqlite.write(script.toUtf8());
        sqlite.closeWriteChannel();
        EXPECT_TRUE(sqlite.waitForFinished(20000));
        EXPECT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
        return QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed();
    };
    sql(programFolder,
        "PRAGMA journal_mode=WAL; CREATE TABLE t(v); INSERT INTO t VALUES (1), (2), (3);");
    storeTarget(targetFolder);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    const QString backup = targetFolder + "/" + archives().first();
    // Three rows more, still only in the journal when the writer stopped.
    sql(programFolder, "PRAGMA wal_autocheckpoint=0; INSERT INTO t VALUES (4), (5), (6);\n"
                       ".shell cp veri.db veri.db.durdu; cp veri.db-wal veri.db-wal.durdu\n");
    for (const char* name : {"veri.db", "veri.db-wal"}) {
        QFile::remove(programFolder + "/" + name);
        ASSERT_TRUE(QDir(programFolder).rename(QString(name) + ".durdu", name));
    }
    const QString look = folder.file("bakis");
    QDir().mkpath(look);
    for (const char* name : {"veri.db", "veri.db-wal"}) {
        QFile::copy(programFolder + "/" + name, look + "/" + name);
    }
    ASSERT_EQ(sql(look, "SELECT count(*) FROM t;"), "6"); // what the folder holds now

    ASSERT_EQ(restorePicked(backup), 0);
    EXPECT_FALSE(QFileInfo::exists(programFolder + "/veri.db-wal"));
    EXPECT_EQ(sql(programFolder, "SELECT count(*) FROM t;"), "3");
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 2);
    EXPECT_EQ(readWithLibzip(history->archivePath(1), "6150937284").count("veri.db-wal"), 1u);
}

// On a stick that folds letter case, an archive's "KAVLENTO", "YEDEKLEME.LST"
// and "Yedekleme.Dat" are the running program, the history and the setting:
// they stay the folder's own, and the data comes back.
TEST_F(RootRealWindow, OnAStickThatFoldsLetterCaseTheProgramsOwnFilesStayWhateverTheArchiveSays) {
    // Room for the installed program (50 MB built with the sanitizers) and
    // the 16 MB a restore keeps free.
    const MountedFileSystem stick(FileSystemKind::ExFat, folder.file("stick"), 128);
    programFolder = stick.path() + "/program";
    QDir().mkpath(programFolder);
    install(programFolder);
    writeFile(programFolder + "/veri.txt", "eski");
    const QByteArray history = "\"01-06-2031\",\"09:00:00\",\"/eski/1.ksd\"\r\n";
    writeBytes(programFolder + "/yedekleme.lst", history);
    storeTarget(targetFolder);
    const QByteArray setting = readBytes(programFolder + "/yedekleme.dat");
    const QString archive = folder.file("yedek.ksd");
    writeRawZip(archive,
                {{"KAVLENTO", "sahte program"},
                 {"YEDEKLEME.LST", "\"1\",\"2\",\"/baska/2.ksd\"\r\n"},
                 {"Yedekleme.Dat", "\"/baska\"\r\n"},
                 {"Veri.Txt", "yeni"}},
                RawEncryption::Aes256);
    ASSERT_EQ(restorePicked(archive), 0);
    EXPECT_EQ(readBytes(programFolder + "/kavlento"), installedBytes());
    EXPECT_TRUE(readBytes(programFolder + "/yedekleme.lst").startsWith(history));
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), setting);
    EXPECT_EQ(readBytes(programFolder + "/veri.txt"), "yeni");
}

TEST_F(RootRealWindow, ARestoreOverALinkToAnotherDiskChangesNothingThere) {
    const MountedFileSystem disk(FileSystemKind::Tmpfs, folder.file("baska-disk"), 32);
    // What lies there: data, and another folder's restore cut off with its journal.
    writeFile(disk.path() + "/alt/veri.txt", "başkasının");
    writeFile(disk.path() + "/alt/.kavlento-geri-yukleme/gunluk", "başka bir geri yükleme");
    makeLink(programFolder + "/lnk", disk.path());
    const QString archive = folder.file("yedek.ksd");
    writeRawZip(archive, {{"a.txt", "yeni"}, {"lnk/alt/yeni.txt", "yeni"}}, RawEncryption::Aes256);
    storeTarget(targetFolder);
    const Tree there = snapshot(disk.path());
    const Tree here = snapshot(programFolder);
    EXPECT_EQ(restorePicked(archive), 1); // and it costs no backup first
    EXPECT_TRUE(archives().isEmpty());
    EXPECT_EQ(firstDifference(there, snapshot(disk.path())), "");
    EXPECT_EQ(firstDifference(here, snapshot(programFolder)), "");
}

TEST_F(RealWindow, ARestoreKeepsTheFoldersOwnStateOrTakesTheArchivesWhereItHasNone) {
    // Another program folder with three archives in its target, all in its history.
    const QString other = folder.file("baska-program");
    const QString otherTarget = folder.file("baska-hedef");
    writeFile(other + "/kavlento", "eski bir Kavlento");
    writeFile(other + "/veri.txt", "başka klasörün verisi");
    store::TargetSetting(other).save(otherTarget);
    QStringList otherArchives;
    for (int day = 13; day <= 15; ++day) {
        const QString dated = QStringLiteral("%1/%2-06-2031").arg(otherTarget).arg(day);
        QDir().mkpath(dated);
        otherArchives.append(
            compressFolder(other, dated, QStringLiteral("%1062031.9.ksd").arg(day)));
        store::HistoryFile(other).append({"15-06-2031", "09:00:00", otherArchives.last()});
    }
    // Picked into a folder installed anew, with neither a history nor a target:
    // it takes the archive's, so that its nightly backups go on. Nothing can be
    // backed up first, and the user says so. A stop while the completion
    // message waits ends it as completed: the host finds the marker, and the
    // window's empty target is not stored over the archive's.
    ASSERT_EQ(restorePicked(otherArchives.last(), false, {"Return", "Tab Return", "SIGTERM"}), 0);
    EXPECT_TRUE(QFileInfo::exists(programFolder + "/prgcik.dat"));
    EXPECT_EQ(readBytes(programFolder + "/veri.txt"), "başka klasörün verisi");
    EXPECT_EQ(readBytes(programFolder + "/kavlento"), installedBytes());
    EXPECT_EQ(store::TargetSetting(programFolder).load(), otherTarget);
    EXPECT_EQ(store::HistoryFile(programFolder).load()->size(), 2u);
    // Its backups there delete none of the other folder's.
    ASSERT_EQ(run({"4702519836", "OtoRadizEv", "--sakla", "1"}).first, 0);
    for (const QString& archive : otherArchives) {
        EXPECT_TRUE(QFileInfo::exists(archive)) << archive.toStdString();
    }
    // A folder with a history and a target keeps both (and records its backup first).
    const QByteArray history = readBytes(programFolder + "/yedekleme.lst");
    const QByteArray setting = readBytes(programFolder + "/yedekleme.dat");
    ASSERT_EQ(restorePicked(otherArchives.first()), 0);
    EXPECT_TRUE(readBytes(programFolder + "/yedekleme.lst").startsWith(history));
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), setting);
}

// A stop while retention reads the old archives whole leaves the night's
// backup taken and recorded, and says what stayed undone.
TEST_F(Executable, AStopWhileOldBackupsAreWeighedLeavesTheBackupTaken) {
    writeFile(programFolder + "/resim.jpg", incompressibleBytes(48 << 20, 7));
    storeTarget(targetFolder);
    for (int night = 0; night < 4; ++night) { // on the real clock: a signal reaches the program
        ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    }
    QProcess& backup = start({"4702519836", "OtoRadizEv", "--sakla", "1"});
    QString said;
    backup.setReadChannel(QProcess::StandardError);
    while (!said.contains("yedek alındı: ") && backup.waitForReadyRead(60000)) {
        said += QString::fromLocal8Bit(backup.readAllStandardError());
    }
    ASSERT_EQ(backup.state(), QProcess::Running) << said.toStdString();
    ::kill(static_cast<pid_t>(backup.processId()), SIGTERM);
    EXPECT_EQ(finish(backup), 13);
    said += QString::fromLocal8Bit(backup.readAllStandardError());
    EXPECT_TRUE(said.contains("eski yedeklerin silinmesi bir durdurma isteğiyle (SIGTERM)"))
        << said.toStdString();
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history && history->size() == 5);
    EXPECT_TRUE(QFileInfo::exists(history->archivePath(4)));
}

// A copy of the program folder made with cp -a takes the original's history
// along: its retention deletes none of the original's archives, nor anything
// outside the target's dated folders, whatever a record names.
TEST_F(Executable, KeepingTheNewestDeletesOnlyThisFoldersArchivesInDatedFolders) {
    storeTarget(targetFolder);
    writeFile(programFolder + "/veri.txt", "veri");
    for (const char* moment : {"2031-06-14 09:00:00", "2031-06-15 09:00:00"}) {
        holdClockAt(moment);
        ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    }
    const QStringList originals = archives();
    const QString belgeler = targetFolder + "/Belgeler/14062031.8.ksd";
    QDir().mkpath(targetFolder + "/Belgeler");
    ASSERT_TRUE(QFile::copy(targetFolder + "/" + originals.first(), belgeler));
    store::HistoryFile(programFolder).append({"14-06-2031", "08:00:00", belgeler});
    writeFile(targetFolder + "/15-06-2031/15062031.2.ksd", "bir Kavlento yedeği değil");

    const QString copy = folder.file("kopya");
    ASSERT_EQ(runTool("cp", {"-a", programFolder, copy}).exitCode, 0);
    holdClockAt("2031-06-16 09:00:00");
    programFolder = copy;
    const auto [status, said] = run({"4702519836", "OtoRadizEv", "--sakla", "1"});
    ASSERT_EQ(status, 0) << said.toStdString();
    for (const QString& kept : originals) {
        EXPECT_TRUE(QFileInfo::exists(targetFolder + "/" + kept)) << kept.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(belgeler));
    EXPECT_TRUE(said.contains("yedek olarak okunamayan dosya, silinmeyecek")) << said.toStdString();
    // The copy's own older backups do go.
    holdClockAt("2031-06-17 09:00:00");
    ASSERT_EQ(run({"4702519836", "OtoRadizEv", "--sakla", "1"}).first, 0);
    EXPECT_FALSE(QFileInfo::exists(targetFolder + "/16-06-2031"));
    // The originals, the one in Belgeler, the copy's newest and the file no archive.
    EXPECT_EQ(archives().size(), originals.size() + 3);
}

// Two machines that share a host name and a folder's path (a cloned virtual
// machine) and one target: each one's retention keeps its own newest backup
// and never deletes the other's.
TEST_F(RootExecutable, TwoMachinesOfOneNameAndPathKeepEachOthersBackups) {
    storeTarget(targetFolder);
    writeFile(programFolder + "/veri.txt", "veri");
    const auto backUp = [&](const char* moment, char machine) {
        holdClockAt(moment);
        // Each machine's own id, in a mount namespace of its own.
        const QString id = folder.file(QStringLiteral("kimlik-%1").arg(machine));
        writeFile(id, QByteArray(32, machine) + "\n");
        launcher =
            QStringList{
                "unshare", "-m", "sh", "-c", "mount --bind \"$0\" /etc/machine-id && exec \"$@\"",
                id} +
            launcher;
        const auto [status, said] = run({"4702519836", "OtoRadizEv", "--sakla", "1"});
        EXPECT_EQ(status, 0) << said.toStdString();
    };
    backUp("2031-06-14 09:00:00", 'a');
    backUp("2031-06-15 09:00:00", 'b');
    backUp("2031-06-16 09:00:00", 'a');
    backUp("2031-06-17 09:00:00", 'b');
    EXPECT_EQ(archives(),
              (QStringList{"16-06-2031/1662031.900.ksd", "17-06-2031/1762031.900.ksd"}));
}

TEST_F(RealWindow, ABackupOfAPathAsLongAsTheSystemAllowsRestores) {
    // Names of 200 bytes down to a file whose path is 4,085 bytes long.
    QString path = programFolder;
    while (4085 - path.toUtf8().size() > 256) {
        path += "/" + QString(200, 'k');
    }
    path += "/" + QString(4084 - path.toUtf8().size(), 'd');
    writeFile(path, "derin");
    storeTarget(targetFolder);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    writeFile(path, "değişti");
    ASSERT_EQ(restorePicked(targetFolder + "/" + archives().first()), 0);
    EXPECT_EQ(readBytes(path), "derin");
}

TEST_F(RootRealWindow, AnOwnerWhoIsNotRootRestoresIntoReadOnlyFoldersAllOrNothing) {
    writeFile(programFolder + "/salt/okunur/belge.txt", "eski");
    writeFile(programFolder + "/veri.txt", "eski");
    writeFile(programFolder + "/zz/dosya.txt", "eski");
    setMode(programFolder + "/salt/okunur", 0555);
    setMode(programFolder + "/salt", 0500);
    storeTarget(targetFolder);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    const QString archive = targetFolder + "/" + archives().first();
    for (const char* name : {"/salt/okunur/belge.txt", "/veri.txt", "/zz/dosya.txt"}) {
        writeFile(programFolder + name, "yeni");
    }
    giveToNobody(programFolder, {folder.path(), targetFolder, QFileInfo(archive).path()});
    setMode(archive, 0644);
    // A folder of another user's refuses the first restore before anything,
    // the read-only folders included, is changed.
    QProcess::execute("chown", {"root", programFolder + "/zz"});
    // The owner may not write in root's target: he goes on without a backup first.
    const QStringList withoutABackupFirst{"Return", "Tab Return"};
    const Tree before = snapshot(programFolder);
    EXPECT_EQ(restorePicked(archive, true, withoutABackupFirst), 1);
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    QProcess::execute("chown", {"65534", programFolder + "/zz"});
    ASSERT_EQ(restorePicked(archive, true, withoutABackupFirst), 0);
    const Tree after = snapshot(programFolder);
    EXPECT_EQ(after.at("salt/okunur/belge.txt").content, "eski");
    EXPECT_EQ(after.at("salt/okunur").permissions, 0555u);
    EXPECT_EQ(after.at("salt").permissions, 0500u);
    EXPECT_EQ(after.count(".kavlento-geri-yukleme"), 0u);
}

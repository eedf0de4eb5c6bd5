#include "archive/ArchiveCommand.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/MountedFileSystem.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// A desktop drawn into memory, no display at all, a display named that no
// server answers (as cron and systemd timers often pass on), or an X display
// of the test's own, where the window is driven as a user would.
enum class Screen { Virtual, None, Stale, Real };

// The real executable, copied into a program folder of its own and started the
// way the host starts it.
class Executable : public ::testing::Test {
protected:
    TempFolder folder;
    QString programFolder = folder.file("program");
    QString targetFolder = folder.file("hedef");
    std::vector<std::unique_ptr<QProcess>> running;
    // A command the program is started through, with its arguments.
    QStringList launcher;
    QString realDisplay; // for Screen::Real

    void SetUp() override {
        QDir().mkpath(programFolder);
        QDir().mkpath(targetFolder);
        ASSERT_TRUE(QFile::copy(QStringLiteral(KAVLENTO_EXECUTABLE), programFolder + "/kavlento"));
    }

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
        } else if (display == Screen::Real) {
            env.insert("DISPLAY", realDisplay);
        }
        if (!runtimeFolder.isEmpty()) {
            env.insert("XDG_RUNTIME_DIR", runtimeFolder);
        }
        process->setProcessEnvironment(env);
        QString program = programFolder + "/kavlento";
        QStringList args = arguments;
        if (unprivileged && ::geteuid() == 0) {
            args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args;
            program = "setpriv";
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

    // Runs to the end; the exit status and what it wrote to standard output.
    std::pair<int, QString> run(const QStringList& arguments) {
        QProcess& process = start(arguments);
        const int status = finish(process);
        return {status, QString::fromLocal8Bit(process.readAllStandardOutput())};
    }

    int finish(QProcess& process, int timeoutMs = 60000) {
        EXPECT_TRUE(process.waitForFinished(timeoutMs)) << "still running";
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    bool stillRunningAfter(QProcess& process, int ms) {
        return !process.waitForFinished(ms) && process.state() == QProcess::Running;
    }

    void storeTarget(const QString& target) {
        writeBytes(programFolder + "/yedekleme.dat", store::TargetSetting::encode(target));
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

TEST_F(Executable, ASecondStartWhileOneRunsEndsAtOnceWhateverItsUserOrSession) {
    ASSERT_EQ(::geteuid(), 0u) << "runs as root to start the program as another user";
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
    }
    EXPECT_TRUE(archives().isEmpty());
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    EXPECT_TRUE(QDir(ownRuntime).isEmpty());
    EXPECT_TRUE(QDir(otherRuntime).isEmpty()); // no lock file anywhere
}

TEST_F(Executable, AFailureAtStartUpIsReportedAndEndsWithStatusOne) {
    // Another user may run the program but not look into its folder: the lock
    // on the folder cannot be taken. No abort, whatever the runtime folder.
    ASSERT_EQ(::geteuid(), 0u) << "runs as root to start the program as another user";
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

TEST_F(Executable, TheAdministratorCanAskForHelpAndIsToldOfAWrongOption) {
    storeTarget(targetFolder);
    const auto [helped, help] = run({"--yardım"});
    EXPECT_EQ(helped, 0);
    for (const char* option : {"--hedef", "--denetle", "--sakla", "OtoRadizEv"}) {
        EXPECT_TRUE(help.contains(QString::fromUtf8(option))) << option;
    }
    for (const QStringList& wrong :
         {QStringList{"4702519836", "--bilinmeyen"}, QStringList{"4702519836", "--sakla", "2"},
          QStringList{"4702519836", "OtoRadizEv", "--sakla", "sıfır"},
          QStringList{"4702519836", "--hedef"}}) {
        const auto [status, said] = run(wrong);
        EXPECT_EQ(status, 7) << wrong.join(' ').toStdString();
        EXPECT_TRUE(said.contains("--yardım")) << said.toStdString();
    }
    EXPECT_TRUE(archives().isEmpty());
}

TEST_F(Executable, TheTargetIsStoredFromTheCommandLineAfterTheFolderChoosersChecks) {
    const QString turkish = folder.file("Şirket Yedekleri");
    QDir().mkpath(turkish);
    const auto [stored, said] = run({"4702519836", "--hedef", turkish});
    EXPECT_EQ(stored, 0);
    EXPECT_TRUE(said.contains(turkish)) << said.toStdString();
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), store::TargetSetting::encode(turkish));
    // Not there; not carried by the commands; not held by the code page.
    QDir().mkpath(folder.file("a>b"));
    QDir().mkpath(folder.file("日本"));
    for (const QString& refused : {folder.file("yok"), folder.file("a>b"), folder.file("日本")}) {
        EXPECT_EQ(run({"4702519836", "--hedef=" + refused}).first, 7) << refused.toStdString();
        EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"),
                  store::TargetSetting::encode(turkish));
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
    store::HistoryFile history(programFolder);
    history.append({"07-12-2026", "10:00:00", damaged});
    history.append({"07-12-2026", "11:00:00", away});
    const Tree before = snapshot(folder.path());

    const auto [status, said] = run({"4702519836", "--denetle"});
    EXPECT_EQ(status, 8) << said.toStdString();
    EXPECT_TRUE(said.contains("SAĞLAM        " + sound)) << said.toStdString();
    EXPECT_TRUE(said.contains("BOZUK         " + damaged)) << said.toStdString();
    EXPECT_TRUE(said.contains("ULAŞILAMIYOR  " + away)) << said.toStdString();
    EXPECT_EQ(firstDifference(before, snapshot(folder.path())), "");

    // What cannot be reached is not damaged.
    history.removeArchive(damaged);
    EXPECT_EQ(run({"4702519836", "--denetle"}).first, 0);
}

TEST_F(Executable, KeepingTheNewestDeletesOnlyOlderArchivesOfOursInTheTarget) {
    storeTarget(targetFolder);
    writeFile(programFolder + "/veri.txt", "veri");
    // Not ours, or not in the target: never deleted.
    const QString stranger = targetFolder + "/15-06-2031/not.txt";
    writeFile(stranger, "kullanıcının");
    const QString elsewhere = folder.file("baska/15-06-2031/15062031.1.ksd");
    writeFile(elsewhere, "başka bir hedefin yedeği");
    store::HistoryFile(programFolder).append({"15-06-2031", "01:00:00", elsewhere});
    // Deleted by hand: its record stays, and it keeps no other archive from deletion.
    const QString deletedByHand = targetFolder + "/16-06-2031/1662031.800.ksd";
    for (const char* moment : {"2031-06-14 09:00:00", "2031-06-15 09:00:00", "2031-06-15 10:00:00",
                               "2031-06-16 09:00:00"}) {
        if (QByteArray(moment) == "2031-06-16 09:00:00") {
            store::HistoryFile(programFolder).append({"16-06-2031", "08:00:00", deletedByHand});
        }
        holdClockAt(moment);
        const auto [status, said] = run({"4702519836", "OtoRadizEv", "--sakla", "2"});
        ASSERT_EQ(status, 0) << said.toStdString();
    }
    EXPECT_EQ(archives(), (QStringList{"15-06-2031/1562031.1000.ksd", "15-06-2031/not.txt",
                                       "16-06-2031/1662031.900.ksd"}));
    EXPECT_FALSE(QFileInfo::exists(targetFolder + "/14-06-2031")); // emptied, so gone
    EXPECT_TRUE(QFileInfo::exists(elsewhere));
    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history.has_value());
    ASSERT_EQ(history->size(), 4u);
    EXPECT_EQ(history->field(0, 2), elsewhere);
    EXPECT_EQ(history->field(2, 2), deletedByHand);
}

TEST_F(Executable, AStaleDisplayRunsAnUnattendedBackupAndSaysWhyNoWindowCanShow) {
    storeTarget(targetFolder);
    QProcess& unattended = start({"4702519836", "OtoRadizEv"}, Screen::Stale);
    EXPECT_EQ(finish(unattended), 0);
    ASSERT_EQ(archives().size(), 1);
    // One line for the log, and nothing from the display that is not there.
    const QString log = QString::fromLocal8Bit(unattended.readAllStandardError());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Kavlento: yedek )"
                                          R"(alındı: .+\.ksd \(\d+\.\d MB, \d+ girdi, \d+\.\d\d )"
                                          R"(saniye, denetimi \d+\.\d\d saniye\)\n$)"))
            .match(log)
            .hasMatch())
        << log.toStdString();

    QProcess& interactive = start({"4702519836"}, Screen::Stale);
    EXPECT_EQ(finish(interactive), 6);
    EXPECT_TRUE(QString::fromLocal8Bit(interactive.readAllStandardError()).contains("EKRAN"));
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
    makeSampleTree(programFolder);
    writeFile(programFolder + "/resim.jpg", incompressibleBytes(GetParam().pictureBytes, 5));
    // The program's symbols would be most of the archive.
    ASSERT_EQ(runTool("strip", {programFolder + "/kavlento"}).exitCode, 0);
    const MountedFileSystem stick(GetParam().kind, targetFolder);
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

    // What a killed run of this host left half written goes; what a living
    // writer is still writing stays.
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    const QString host = QString::fromLocal8Bit(name).replace('-', '_');
    const QString dead = dated + "/.kavlento-" + host + "-999999999-7.yaziliyor";
    const QString living =
        dated + QStringLiteral("/.kavlento-%1-%2-8.yaziliyor").arg(host).arg(::getpid());
    writeFile(targetFolder + "/" + dead, "yarım");
    writeFile(targetFolder + "/" + living, "yazılıyor");

    QProcess& second = start({"4702519836", "OtoRadizEv"});
    ASSERT_EQ(finish(second), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::remove(targetFolder + "/" + living));
    const QString secondArchive = firstArchive.chopped(4) + "-2.ksd";
    EXPECT_EQ(targetContents(),
              (QStringList{dated, secondArchive, firstArchive}.join(", ").toStdString()));
    EXPECT_EQ(readBytes(targetFolder + "/" + firstArchive), firstBytes);

    const auto history = store::HistoryFile(programFolder).load();
    ASSERT_TRUE(history.has_value());
    ASSERT_EQ(history->size(), 2u);
    EXPECT_EQ(history->field(0, 2), targetFolder + "/" + firstArchive);
    EXPECT_EQ(history->field(1, 2), targetFolder + "/" + secondArchive);

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

// exFAT gets an archive larger than the writer's 4 MB buffer, whose local
// headers are written again after their data has gone to disk. FAT32 cannot:
// fusefat, the only FAT32 driver here, loses the end of a file when a write
// into its middle is followed by one at its end while its last cluster is
// full (the read-back before naming refuses such an archive).
INSTANTIATE_TEST_SUITE_P(Sticks, UsbStick,
                         ::testing::Values(Stick{FileSystemKind::ExFat, 9 << 20},
                                           Stick{FileSystemKind::Fat32, 0}),
                         [](const ::testing::TestParamInfo<Stick>& info) {
                             return std::string(nameOf(info.param.kind));
                         });

namespace {

// A virtual X display of the test's own, for driving the real window.
class VirtualDisplay {
public:
    // The server picks a free display itself and names it once it is ready,
    // so tests running side by side never share one.
    VirtualDisplay() {
        server_.start("Xvfb",
                      {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
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

    // Drives a restore in the window `program` has just opened: the lower
    // "GÖZAT...", the archive's path typed into the file dialog, then Enter on
    // every box that follows (Yes, then OK to the end or to the error) until
    // the program ends. Its exit status, or -1 when it did not end.
    int restorePicked(QProcess& program, const QString& archive) const {
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
        for (int waited = 0; !program.waitForFinished(300) && waited < 400; ++waited) {
            const QString boxes = xdotool({"search", "--onlyvisible", "--name", "^Kavlento$"});
            for (const QString& box : boxes.split('\n', Qt::SkipEmptyParts)) {
                if (box != main) {
                    xdotool({"windowfocus", "--sync", box});
                    xdotool({"key", "Return"});
                }
            }
        }
        return program.state() == QProcess::NotRunning &&
                       program.exitStatus() == QProcess::NormalExit
                   ? program.exitCode()
                   : -1;
    }

private:
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

    QString display_;
    QProcess server_;
};

// Restores driven through the real window on a display of the test's own.
class RealWindow : public Executable {
protected:
    VirtualDisplay screen;

    void SetUp() override {
        Executable::SetUp();
        ASSERT_TRUE(screen.running());
        realDisplay = screen.display();
    }

    // Restores `archive` through the window, as the user 65534 when
    // `unprivileged`; the exit status.
    int restorePicked(const QString& archive, bool unprivileged = false) {
        return screen.restorePicked(start({"4702519836"}, Screen::Real, unprivileged), archive);
    }
};

} // namespace

TEST_F(Executable, PressingKapatInTheRealWindowStoresTheTargetAsTheSameBytes) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty()) {
        GTEST_SKIP() << "needs Xvfb and xdotool";
    }
    VirtualDisplay screen;
    ASSERT_TRUE(screen.running());
    const QByteArray stored = store::TargetSetting::encode(QStringLiteral("/media/ARŞİV, ESKİ"));
    writeBytes(programFolder + "/yedekleme.dat", stored);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.insert("DISPLAY", screen.display());
    process.setProcessEnvironment(env);
    process.start(programFolder + "/kavlento", {"4702519836"});
    const QString window =
        screen.xdotool({"search", "--sync", "--onlyvisible", "--name", "^Kavlento$"})
            .section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty());
    QFile::remove(programFolder + "/yedekleme.dat");
    // KAPAT sits at (348, 12) in the lower group box at (34, 528); aim at its middle.
    screen.xdotool({"mousemove", "--window", window, "430", "556", "click", "1"});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), stored);
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
    ASSERT_EQ(restorePicked(hostile), 0);
    EXPECT_EQ(readBytes(programFolder + "/veri.txt"), "yeni");
    EXPECT_FALSE(QFileInfo(programFolder + "/prgcik.dat").isSymLink());
    EXPECT_EQ(readBytes(programFolder + "/prgcik.dat"), "");
    // A history linked elsewhere is not this folder's: the next record goes
    // into a file of the folder's own, and nothing of the other is copied.
    makeLink(programFolder + "/yedekleme.lst", otherHistory);
    storeTarget(targetFolder);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv"}).first, 0);
    EXPECT_FALSE(QFileInfo(programFolder + "/yedekleme.lst").isSymLink());
    EXPECT_EQ(store::HistoryFile(programFolder).load()->size(), 1u);
    EXPECT_EQ(readBytes(victim), "dokunulmaz");
    EXPECT_EQ(readBytes(otherHistory), itsRecord);
}

TEST_F(RealWindow, ARestoreOverALinkToAnotherDiskChangesNothingThere) {
    const MountedFileSystem disk(FileSystemKind::Tmpfs, folder.file("baska-disk"), 32);
    // What lies there: data, and another folder's restore cut off with its journal.
    writeFile(disk.path() + "/alt/veri.txt", "başkasının");
    writeFile(disk.path() + "/alt/.kavlento-geri-yukleme/gunluk", "başka bir geri yükleme");
    makeLink(programFolder + "/lnk", disk.path());
    const QString archive = folder.file("yedek.ksd");
    writeRawZip(archive, {{"a.txt", "yeni"}, {"lnk/alt/yeni.txt", "yeni"}}, RawEncryption::Aes256);
    const Tree there = snapshot(disk.path());
    const Tree here = snapshot(programFolder);
    EXPECT_EQ(restorePicked(archive), 1);
    EXPECT_EQ(firstDifference(there, snapshot(disk.path())), "");
    EXPECT_EQ(firstDifference(here, snapshot(programFolder)), "");
}

TEST_F(RealWindow, ARestoreKeepsTheFoldersOwnStateAndTakesNoOtherFoldersHistory) {
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
    // Picked into a folder without a history or a target: it gets neither.
    ASSERT_EQ(restorePicked(otherArchives.last()), 0);
    EXPECT_EQ(readBytes(programFolder + "/veri.txt"), "başka klasörün verisi");
    EXPECT_EQ(readBytes(programFolder + "/kavlento"), readBytes(KAVLENTO_EXECUTABLE));
    EXPECT_FALSE(QFileInfo::exists(programFolder + "/yedekleme.lst"));
    EXPECT_FALSE(QFileInfo::exists(programFolder + "/yedekleme.dat"));
    // Its backups into the same target delete none of the other folder's.
    ASSERT_EQ(run({"4702519836", "--hedef", otherTarget}).first, 0);
    ASSERT_EQ(run({"4702519836", "OtoRadizEv", "--sakla", "1"}).first, 0);
    for (const QString& archive : otherArchives) {
        EXPECT_TRUE(QFileInfo::exists(archive)) << archive.toStdString();
    }
    // A folder with a history and a target keeps both.
    const QByteArray history = readBytes(programFolder + "/yedekleme.lst");
    const QByteArray setting = readBytes(programFolder + "/yedekleme.dat");
    ASSERT_EQ(restorePicked(otherArchives.first()), 0);
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.lst"), history);
    EXPECT_EQ(readBytes(programFolder + "/yedekleme.dat"), setting);
}

TEST_F(Executable, KeepingTheNewestCountsEachArchiveOnceAndDeletesOnlyOursInsideTheTarget) {
    storeTarget(targetFolder);
    const QString source = folder.file("kaynak");
    writeFile(source + "/veri.txt", "veri");
    const QString outside = folder.file("disari");
    const auto archiveIn = [&](const QString& dated, const QString& name) {
        QDir().mkpath(dated);
        return compressFolder(source, dated, name);
    };
    const QString older = archiveIn(targetFolder + "/14-06-2031", "14062031.9.ksd");
    const QString twice = archiveIn(targetFolder + "/15-06-2031", "15062031.9.ksd");
    const QString elsewhere = archiveIn(outside + "/15-06-2031", "15062031.1.ksd");
    const QString notOurs = targetFolder + "/15-06-2031/15062031.2.ksd";
    const QString linked = targetFolder + "/15-06-2031/15062031.3.ksd";
    writeFile(notOurs, "bir Kavlento yedeği değil");
    makeLink(linked, elsewhere);
    QDir().mkpath(outside + "/alt");
    makeLink(targetFolder + "/lnk", outside + "/alt");
    // Records as a hand may have edited them: through a link out of the
    // target, and one archive under two spellings.
    store::HistoryFile history(programFolder);
    for (const QString& path :
         {older, linked, notOurs, targetFolder + "/lnk/../15-06-2031/15062031.1.ksd", twice,
          targetFolder + "//15-06-2031/15062031.9.ksd"}) {
        history.append({"15-06-2031", "09:00:00", path});
    }
    holdClockAt("2031-06-16 09:00:00");
    ASSERT_EQ(run({"4702519836", "OtoRadizEv", "--sakla", "2"}).first, 0);
    EXPECT_FALSE(QFileInfo::exists(older));
    for (const QString& kept : {twice, elsewhere, notOurs}) {
        EXPECT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
    }
    EXPECT_TRUE(QFileInfo(linked).isSymLink());
    EXPECT_EQ(history.load()->size(), 6u);
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

TEST_F(RealWindow, AnOwnerWhoIsNotRootRestoresIntoReadOnlyFoldersAllOrNothing) {
    ASSERT_EQ(::geteuid(), 0u) << "runs as root to restore as another user";
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
    // A folder of another user's fails the first restore after the read-only
    // ones were opened up: they get their modes back with their files.
    QProcess::execute("chown", {"root", programFolder + "/zz"});
    const Tree before = snapshot(programFolder);
    EXPECT_EQ(restorePicked(archive, true), 1);
    EXPECT_EQ(firstDifference(before, snapshot(programFolder)), "");
    QProcess::execute("chown", {"65534", programFolder + "/zz"});
    ASSERT_EQ(restorePicked(archive, true), 0);
    const Tree after = snapshot(programFolder);
    EXPECT_EQ(after.at("salt/okunur/belge.txt").content, "eski");
    EXPECT_EQ(after.at("salt/okunur").permissions, 0555u);
    EXPECT_EQ(after.at("salt").permissions, 0500u);
    EXPECT_EQ(after.count(".kavlento-geri-yukleme"), 0u);
}

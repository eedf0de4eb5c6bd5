#include "fs/RestoreJournal.h"
#include "store/HistoryFile.h"
#include "support/ArchiveTestSupport.h"
#include "support/InstalledProgram.h"
#include "support/MountedFileSystem.h"
#include "support/ReliabilityTestSupport.h"

#include <QDir>
#include <QProcess>

#include <sys/stat.h>

using namespace kavlento;
using namespace kavlento::testing;
using fs::journal::Move;
using RootWorkingFolder = InstalledProgram;

// In a program folder every user may write in, the user nobody leaves a
// working folder whose sound journal would put his file in place of root's,
// remove another and open a folder up to everyone. Root's status and nightly
// backup do none of it, name what they left alone and the folder at risk, and
// go on.
TEST_F(RootWorkingFolder, OfAnotherUserIsNeitherReplayedNorRemovedButNamed) {
    KAVLENTO_NEEDS_ROOT("plants files as another user");
    writeFile(programFolder + "/veri.txt", "kökün");
    writeFile(programFolder + "/silinecek.txt", "kökün");
    QDir().mkpath(programFolder + "/alt");
    ASSERT_EQ(::chmod(QFile::encodeName(programFolder).constData(), 01777), 0);
    const QString working = programFolder + "/.kavlento-geri-yukleme";
    writeFile(working + "/eski/veri.txt", "başkasının");
    const fs::OpenFolder planted = fs::OpenFolder::open(fs::toSystemPath(working), {});
    fs::journal::writeAreaList(planted, {});
    fs::journal::Writer journal(planted);
    journal.add({Move::Kind::OpenedUp, true, 0, 0777, "alt"});
    journal.add({Move::Kind::File, true, 0, 0, "veri.txt"});
    journal.add({Move::Kind::File, false, 0, 0, "silinecek.txt"});
    journal.commit();
    ASSERT_EQ(runTool("chown", {"-R", "65534:65534", working}).exitCode, 0);
    storeTarget(targetFolder);
    const QStringList written{"yedekleme.lst", "yedekleme.dat"};
    const Tree before = snapshot(programFolder, written);
    for (const QString command : {"--durum", "OtoRadizEv"}) {
        QProcess run;
        run.setProcessEnvironment(headlessEnvironment());
        run.start(program(), {"4702519836", command});
        ASSERT_TRUE(run.waitForFinished(60000));
        const QString said = QString::fromUtf8(run.readAllStandardError());
        EXPECT_TRUE(said.contains("Kavlento'nun olmayan bir çalışma klasörü var; dokunulmadı") &&
                    said.contains(working) &&
                    said.contains("program klasörüne başka kullanıcılar da yazabiliyor"))
            << said.toStdString();
        EXPECT_EQ(firstDifference(before, snapshot(programFolder, written)), "");
        EXPECT_TRUE(command == "--durum" || run.exitCode() == 0) << said.toStdString();
    }
    EXPECT_EQ(store::HistoryFile(programFolder).load()->size(), 1u);
}

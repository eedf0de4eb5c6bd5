// A restore removes only what a backup of the folder would have packed:
// Kavlento's own archives, wherever the target lies, and what no backup packs
// stay where they are; folders come back exactly as archived.
#include "support/ArchiveJobsTestBase.h"
#include "support/ReliabilityTestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// A restore as the program asks for it, with the target and the history.
void restoreInto(const QString& folder, const QString& archivePath, const QString& target,
                 const std::vector<std::string>& listed) {
    archive::JobControl control;
    archive::runExtract(archive::restoreCommand(archivePath, folder), control, 0,
                        {{"yedekleme.lst"}, fs::toSystemPath(target), listed});
}

#ifndef _WIN32
std::uint32_t modeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode;
}
#endif

} // namespace

using WhatStays = ArchiveJobsTest;

// Restoring the older of two backups, with the target inside the program
// folder or the program folder itself, keeps both archives and their dated
// folders; the user's own file beside them goes as any other.
TEST_F(WhatStays, KavlentosOwnArchivesInTheProgramFolderStayWhereverTheTargetLies) {
    for (const QString& place : {QStringLiteral("/yedekler"), QString()}) {
        SCOPED_TRACE(place.toStdString());
        const QString program = work.file("program" + QString(place).remove('/'));
        const QString into = program + place;
        QDir().mkpath(into);
        writeFile(program + "/veri.txt", "birinci");
        const QString first = compressFolder(program, into + "/06-12-2026", "6122026.1000.ksd");
        writeFile(program + "/veri.txt", "ikinci, daha yeni");
        writeFile(into + "/07-12-2026/not.txt", "kullanıcının notu");
        const QString second = compressFolder(program, into + "/07-12-2026", "7122026.1000.ksd", 0,
                                              {fs::toSystemPath(first)});
        const QByteArray firstBytes = readBytes(first);
        const QByteArray secondBytes = readBytes(second);

        // As the history holds them: with the system's separators.
        restoreInto(program, first, into,
                    {fs::toSystemPath(QDir::toNativeSeparators(first)),
                     fs::toSystemPath(QDir::toNativeSeparators(second))});
        EXPECT_EQ(readBytes(program + "/veri.txt"), "birinci");
        EXPECT_EQ(readBytes(first), firstBytes);
        EXPECT_EQ(readBytes(second), secondBytes);
        EXPECT_FALSE(QFileInfo::exists(into + "/07-12-2026/not.txt"));
    }
}

#ifndef _WIN32 // FIFOs, sockets and folder modes are Linux's
// Pipes and sockets were never packed, so no archive lacks them: they stay,
// in folders the archive has and in those it lacks. Where the archive brings
// an entry of the same name, it takes the name.
TEST_F(WhatStays, PipesAndSocketsStayAndTheArchivesEntryTakesTheirName) {
    writeFile(source + "/veri.txt", "veri");
    writeFile(source + "/alt/a.txt", "a");
    const QString archivePath = compress(source);
    const auto fifo = [&](const QString& path) {
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    };
    fifo(source + "/alt/boru");
    writeFile(source + "/sonradan/not.txt", "yedekten sonra");
    fifo(source + "/sonradan/boru");
    QFile::remove(source + "/veri.txt");
    fifo(source + "/veri.txt");
    const int s = listenAt(source + "/alt/soket");

    extract(archivePath, source);
    ::close(s);
    EXPECT_TRUE(S_ISFIFO(modeOf(source + "/alt/boru")));
    EXPECT_TRUE(S_ISSOCK(modeOf(source + "/alt/soket")));
    EXPECT_TRUE(S_ISFIFO(modeOf(source + "/sonradan/boru")));
    EXPECT_FALSE(QFileInfo::exists(source + "/sonradan/not.txt"));
    EXPECT_EQ(readBytes(source + "/veri.txt"), "veri");
}

// A folder opened up since the backup, or given another time, is as it was
// archived again; so is a shared folder whose sticky bit went.
TEST_F(WhatStays, FoldersTakeTheArchivesModeAndTimeAsFilesDo) {
    writeFile(source + "/gizli/a.txt", "a");
    writeFile(source + "/ortak/b.txt", "b");
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/gizli").constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/ortak").constData(), 01777), 0);
    const QString archivePath = compress(source);
    const Tree archived = snapshot(source, {}, true);
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/gizli").constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/ortak").constData(), 0777), 0);
    writeFile(source + "/gizli/sonradan.txt", "yedekten sonra");

    extract(archivePath, source);
    EXPECT_EQ(firstDifference(archived, snapshot(source, {}, true)), "");
}

// As an ordinary user: a read-only folder of his own that the archive lacks
// is opened up and goes, at the first attempt.
TEST_F(WhatStays, AUsersOwnReadOnlyFolderTheArchiveLacksGoes) {
    writeFile(source + "/veri.txt", "veri");
    const QString archivePath = compress(source);
    writeFile(source + "/kilitli/ic/x.txt", "yedekten sonra");
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/kilitli/ic").constData(), 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/kilitli").constData(), 0555), 0);
    ASSERT_TRUE(runUnprivileged({source, target}, [&] { extract(archivePath, source); }));
    EXPECT_FALSE(QFileInfo::exists(source + "/kilitli"));
    EXPECT_FALSE(QFileInfo::exists(source + "/.kavlento-geri-yukleme"));
    EXPECT_EQ(readBytes(source + "/veri.txt"), "veri");
}
#endif

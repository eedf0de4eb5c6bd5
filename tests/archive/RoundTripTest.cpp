#include "archive/ArchiveReaders.h"
#include "archive/ExtractionRules.h"
#include "support/ArchiveJobsTestBase.h"

#ifndef _WIN32
#include "support/MountedFileSystem.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kavlento;
using namespace kavlento::testing;

namespace {
std::vector<std::string> entryNames(const QString& archivePath) {
    const auto checked = archive::openCheckedArchive(fs::toSystemPath(archivePath));
    const zip::ZipReader& reader = *checked;
    std::vector<std::string> names;
    for (const zip::ZipEntry& entry : reader.entries()) {
        names.emplace_back(entry.path);
    }
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

#ifndef _WIN32
fs::PathInfo met(fs::PathKind kind, std::uint32_t mode, std::uint32_t group) {
    fs::PathInfo info;
    info.kind = kind;
    info.mode = mode;
    info.group = group;
    return info;
}
#endif
} // namespace

using RoundTrip = ArchiveJobsTest;

TEST_F(RoundTrip, IntoAnEmptyFolderTheTreeComesBackExactly) {
    makeSampleTree(source);
    const QString archivePath = compress(source);
    EXPECT_EQ(archivePath, target + "/1.ksd");
    extract(archivePath, restored);
    EXPECT_EQ(firstDifference(snapshot(source), snapshot(restored)), "");
}

TEST_F(RoundTrip, OverOlderCopiesTheFolderBecomesExactlyTheArchivesTree) {
    makeSampleTree(source);
    const QString archivePath = compress(source);

    writeFile(restored + "/veri.db", "eski veri", 0644, 1000000000);
    writeFile(restored + "/Şirket Raporları/Ğİı çalışma.txt", "eski rapor", 0600, 1000000000);
    if (linksCanBeMadeIn(restored)) {
        makeLink(restored + "/son-rapor", "başka yere");
    }
    writeFile(restored + "/yalnız burada.txt", "kalmalı", 0644, 1000000000);
    writeFile(restored + "/Şirket Raporları/ek.txt", "bu da kalmalı", 0644, 1000000000);
    writeFile(restored + "/sonradan/derin/not.txt", "yedekten sonra");

    extract(archivePath, restored);
    EXPECT_EQ(firstDifference(snapshot(source), snapshot(restored)), "");
    EXPECT_FALSE(QFileInfo::exists(restored + "/.kavlento-geri-yukleme"));
}

TEST_F(RoundTrip, OneThreadOrManyGiveTheSameContent) {
    makeSampleTree(source);
    const QString one = compress(source, "tek.ksd", 1);
    const QString many = compress(source, "cok.ksd", 4);
    EXPECT_EQ(readWithLibzip(one, "6150937284"), readWithLibzip(many, "6150937284"));
}

// A name taken by the time the archive is complete, by an archive or by
// anything else, stays as it is: the new archive takes the next free name.
TEST_F(RoundTrip, AnArchiveOfTheSameNameIsNeverChanged) {
    writeFile(source + "/a.txt", "a");
    const QByteArray archive = readBytes(compress(source, "0.ksd"));
    writeBytes(target + "/1.ksd", archive);
    writeBytes(target + "/1-2.ksd", "arşiv değil");
    EXPECT_EQ(compress(source), target + "/1-3.ksd");
    EXPECT_EQ(readBytes(target + "/1.ksd"), archive);
    EXPECT_EQ(readBytes(target + "/1-2.ksd"), "arşiv değil");
    EXPECT_EQ(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"0.ksd", "1-2.ksd", "1-3.ksd", "1.ksd"}));
}

// Earlier archives that lie in the folder are left out, by identity and only
// when they are archives of ours; everything else is packed, the folder the
// archive goes to included.
TEST_F(RoundTrip, OnlyEarlierArchivesOfOursAreLeftOut) {
    writeFile(source + "/veri.txt", "veri");
    writeFile(source + "/yedekler/notlar.txt", "not");
    writeFile(source + "/yedekler/06-12-26/sahte.ksd", "arşiv değil");
    const QString earlier = compressFolder(source, source + "/yedekler/06-12-26", "eski.ksd");
    target = source + "/yedekler/07-12-26";
    QDir().mkpath(target);
    // Named another way, and with a doubled slash: the same file all the same.
#ifdef _WIN32
    const QString way = QDir::toNativeSeparators(source + "/YEDEKLER"); // Windows' names match
#else
    const QString way = work.file("kisayol");
    makeLink(way, source + "/yedekler");
#endif
    const auto names =
        entryNames(compress(source, "1.ksd", 0,
                            {fs::toSystemPath(way + "//06-12-26/eski.ksd"),
                             fs::toSystemPath(source + "/yedekler/06-12-26/sahte.ksd")}));
    EXPECT_TRUE(contains(names, "veri.txt"));
    EXPECT_TRUE(contains(names, "yedekler/notlar.txt"));
    EXPECT_TRUE(contains(names, "yedekler/06-12-26/sahte.ksd"));
    EXPECT_TRUE(contains(names, "yedekler/07-12-26"));
    EXPECT_FALSE(contains(names, "yedekler/06-12-26/eski.ksd"));
    EXPECT_TRUE(QFileInfo::exists(earlier));
}

// With the target the program folder itself, only what Kavlento puts there is
// Kavlento's: its working folder at the top, unfinished files and archives in
// dated folders. A user's look-alikes elsewhere are packed and come back.
TEST_F(RoundTrip, OnlyKavlentosOwnFilesWhereItPutsThemAreLeftOut) {
    writeFile(source + "/veri.txt", "veri");
    writeFile(source + "/.kavlento-geri-yukleme/eski/x", "çalışma klasörü");
    writeFile(source + "/x/.kavlento-geri-yukleme/not.txt", "kullanıcının");
    writeFile(source + "/alt/.kavlento-notlar.yaziliyor", "kullanıcının");
    writeFile(source + "/06-12-2026/.kavlento-vm-1-2.yaziliyor", "yarım");
    writeFile(work.file("baska/a.txt"), "başka klasör");
    compressFolder(work.file("baska"), source + "/06-12-2026", "6122026.1000.ksd");
    compressFolder(work.file("baska"), source + "/gelen", "7122026.1000.ksd");
    const QString archivePath = compressFolder(source, source + "/07-12-2026", "1.ksd");

    extract(archivePath, restored);
    const Tree packed = snapshot(restored);
    // The dated folder is made once the folder has been read.
    Tree expected = snapshot(source, {"07-12-2026"});
    for (const char* ours :
         {".kavlento-geri-yukleme", ".kavlento-geri-yukleme/eski", ".kavlento-geri-yukleme/eski/x",
          "06-12-2026/6122026.1000.ksd", "06-12-2026/.kavlento-vm-1-2.yaziliyor"}) {
        EXPECT_EQ(expected.erase(ours), 1u) << ours;
    }
    EXPECT_EQ(firstDifference(expected, packed), "");
}

#ifndef _WIN32 // modes, groups, owners, mounts and FIFOs are Linux's
// A shared folder's sticky bit comes back with it.
TEST_F(RoundTrip, AFoldersStickyBitComesBack) {
    writeFile(source + "/ortak/not.txt", "not");
    ASSERT_EQ(::chmod(QFile::encodeName(source + "/ortak").constData(), 01777), 0);
    extract(compress(source), restored);
    EXPECT_EQ(snapshot(restored).at("ortak").permissions, 01777u);
}

TEST(ArchiveReaders, OnlyWhoeverCouldReadEverythingMayReadTheArchive) {
    // The way to the folder, the folder, a file: modes, groups; the archive's group, its mode.
    const std::uint32_t cases[][8] = {
        {0755, 0, 0755, 0, 0640, 7, 7, 0640}, // a file of the archive's group
        {0755, 0, 0755, 0, 0640, 7, 8, 0600}, // of another group
        {0755, 0, 0750, 8, 0640, 7, 7, 0600}, // two groups
        {0755, 0, 0751, 7, 0644, 0, 7, 0640}, // a folder others may pass but not list
        {0711, 0, 0755, 0, 0644, 0, 7, 0644}, // a way others may pass but not list
        {0755, 0, 0755, 0, 0604, 7, 7, 0600}, // a file its own group may not read
    };
    for (const auto& [way, wayGroup, folder, folderGroup, file, fileGroup, group, mode] : cases) {
        archive::ArchiveReaders readers;
        readers.weighAncestor(met(fs::PathKind::Folder, way, wayGroup));
        readers.weighPacked(met(fs::PathKind::Folder, folder, folderGroup));
        readers.weighPacked(met(fs::PathKind::File, file, fileGroup));
        readers.weighPacked(met(fs::PathKind::Link, 0, 0)); // links are not weighed
        EXPECT_EQ(readers.modeFor(group), mode) << std::oct << way << ' ' << folder << ' ' << file;
    }
}

// Nobody who could not read every file of the program folder may read its archives.
TEST_F(RoundTrip, AnArchiveIsReadableOnlyByWhoeverMayReadAllItHolds) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    writeFile(source + "/veri.db", "kayıtlar");
    // The modes of the way to the folder, the folder, its file, and the archive.
    const mode_t cases[][4] = {
        {0755, 0755, 0644, 0644}, {0755, 0755, 0600, 0600}, {0700, 0755, 0644, 0600}};
    for (const auto& [way, folder, file, archive] : cases) {
        ASSERT_EQ(::chmod(QFile::encodeName(work.path()).constData(), way), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(source).constData(), folder), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(source + "/veri.db").constData(), file), 0);
        EXPECT_EQ(fs::lookUp(fs::toSystemPath(compress(source))).mode, archive & ~mask)
            << std::oct << way << ' ' << folder << ' ' << file;
    }
}

using RootRoomForABackup = ArchiveJobsTest;

// A backup that clearly cannot fit is refused before anything is made; a shrunk folder fits.
TEST_F(RootRoomForABackup, ABackupThatCannotFitLeavesTheTargetAsItWas) {
    KAVLENTO_NEEDS_ROOT("mounts a small tmpfs as the target");
    const MountedFileSystem disk(FileSystemKind::Tmpfs, target, 4);
    const QString previous = work.file("01-01-2027/1.ksd"); // where an earlier target was
    writeFile(previous, QByteArray(6 << 20, 'x'));
    const Tree before = snapshot(target);
    const auto backUp = [&] {
        return compressFolder(source, target + "/02-01-2027", "2.ksd", 0,
                              {fs::toSystemPath(previous)});
    };
    writeFile(source + "/veri.db", QByteArray(8 << 20, 'x'));
    const Failure failure = failureOf(backUp);
    EXPECT_EQ(failure.code(), FailureCode::DiskTooFull);
    const QString said = QStringLiteral("(%1) yer yetmiyor: 4.0 MB boş, bu klasörün son %2");
    EXPECT_TRUE(failure.description().contains(said.arg(target, "yedeği 6.0 MB tuttu;")))
        << failure.what();
    EXPECT_EQ(firstDifference(before, snapshot(target)), "");
    writeFile(source + "/veri.db", "az");
    EXPECT_EQ(backUp(), target + "/02-01-2027/2.ksd");
}

TEST_F(RoundTrip, PipesAndSocketsAreLeftOutAndLinksAreNeverFollowed) {
    writeFile(source + "/veri.txt", "veri");
    ASSERT_EQ(::mkfifo(QFile::encodeName(source + "/boru").constData(), 0644), 0);
    const int s = listenAt(source + "/soket");
    writeFile(work.file("dışarıda/gizli.txt"), "dışarıdaki veri");
    makeLink(source + "/dışarı", work.file("dışarıda"));

    const auto names = entryNames(compress(source));
    ::close(s);
    EXPECT_EQ(names, (std::vector<std::string>{"dışarı", "veri.txt"}));
}

using SlowRoundTrip = ArchiveJobsTest;

TEST_F(SlowRoundTrip, ManyEntriesUseZip64Records) {
    // More entries than the classic end record can count; folders keep it quick.
    for (int i = 0; i < 66000; ++i) {
        ASSERT_EQ(::mkdir(QFile::encodeName(source + "/k" + QString::number(i)).constData(), 0755),
                  0);
    }
    writeFile(source + "/son.txt", "son");
    const QString archivePath = compress(source);
    EXPECT_EQ(entryNames(archivePath).size(), 66001u);
    const ToolResult test = runTool("7zz", {"t", "-p6150937284", archivePath});
    EXPECT_EQ(test.exitCode, 0) << test.output.toStdString();
    extract(archivePath, restored);
    EXPECT_EQ(firstDifference(snapshot(source), snapshot(restored)), "");
}

#endif

TEST_F(RoundTrip, NamesWithoutTheUtf8FlagAreReadAsUtf8OrElseAsCodePage437) {
    // Info-ZIP on Linux stores UTF-8 without the flag; old DOS and Windows
    // archivers stored code page 437.
    for (const auto& [stored, expected] : std::vector<std::pair<QByteArray, std::string>>{
             {"\xc5\x9f.txt", "ş.txt"}, {"\x80\xa7.txt", "Çº.txt"}}) {
        const QString path = work.file("eski.zip");
        writeRawZip(path, {{"ab.txt", "içerik", 0}}); // made on DOS
        writeBytes(path, readBytes(path).replace("ab.txt", stored));
        EXPECT_EQ(entryNames(path), std::vector<std::string>{expected});
    }
}

TEST_F(RoundTrip, AFileWhereTheFolderHasAFolderChangesNothing) {
    writeFile(source + "/veri", "dosya");
    writeFile(source + "/b.txt", "b");
    const QString archivePath = compress(source);
    writeFile(restored + "/veri/icinde.txt", "klasördeki dosya");
    writeFile(restored + "/b.txt", "eski b");
    const Tree before = snapshot(restored);
    const Failure failure = failureOf([&] { extract(archivePath, restored); });
    EXPECT_EQ(failure.code(), FailureCode::PathFileAccess);
    EXPECT_EQ(firstDifference(before, snapshot(restored)), "");
}

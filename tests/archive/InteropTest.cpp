#include "support/ArchiveJobsTestBase.h"

#include <QDateTime>

using namespace kavlento;
using namespace kavlento::testing;

using Interop = ArchiveJobsTest;

TEST_F(Interop, SevenZipOpensOurArchiveAndReportsAes256) {
    makeSampleTree(source);
    // Times before 1970 and after 2038 reach 7-Zip as they are.
    writeFile(source + "/1960.txt", "eski", 0644, -300000000);
    writeFile(source + "/2103.txt", "yeni", 0644, 4200000000);
    const QString archivePath = compress(source);

    const ToolResult test = runTool("7zz", {"t", "-p6150937284", archivePath});
    ASSERT_EQ(test.exitCode, 0) << test.output.toStdString();
    const ToolResult list = runTool("7zz", {"l", "-slt", "-p6150937284", archivePath});
    ASSERT_EQ(list.exitCode, 0);
    EXPECT_TRUE(list.output.contains("Method = AES-256 Deflate"));
    for (const qint64 seconds : {-300000000LL, 4200000000LL}) {
        // 7-Zip lists local times.
        const QString local = QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(
            QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_TRUE(list.output.contains("Modified = " + local)) << local.toStdString();
    }
    EXPECT_FALSE(list.output.contains("ZipCrypto"));

    const ToolResult wrong = runTool("7zz", {"t", "-pyanlis", archivePath});
    EXPECT_NE(wrong.exitCode, 0);

    const ToolResult extract = runTool("7zz", {"x", "-p6150937284", "-o" + restored, archivePath});
    ASSERT_EQ(extract.exitCode, 0) << extract.output.toStdString();
    EXPECT_EQ(firstDifference(snapshot(source), snapshot(restored)), "");
}

TEST_F(Interop, LibzipReadsOurArchiveWithItsOwnDecryption) {
    makeSampleTree(source);
    const auto files = readWithLibzip(compress(source), "6150937284");
    EXPECT_EQ(files.at("veri.db"), readBytes(source + "/veri.db"));
    EXPECT_EQ(files.at("resimler/foto.jpg"), readBytes(source + "/resimler/foto.jpg"));
    EXPECT_EQ(files.at("Şirket Raporları/Ğİı çalışma.txt"), "rapor içeriği\n");
    EXPECT_EQ(files.at("son-rapor"), "Şirket Raporları/Ğİı çalışma.txt"); // a link's target
}

TEST_F(Interop, WeRestoreSevenZipAesArchives) {
    makeSampleTree(source);
    const QString archivePath = work.file("7zip.zip");
    const ToolResult made = runTool(
        "7zz", {"a", "-tzip", "-mem=AES256", "-p6150937284", "-snl", archivePath, "."}, source);
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    extract(archivePath, restored);
    const Tree expected = snapshot(source);
    const Tree actual = snapshot(restored);
    EXPECT_EQ(actual.at("veri.db").content, expected.at("veri.db").content);
    EXPECT_EQ(actual.at("resimler/foto.jpg").content, expected.at("resimler/foto.jpg").content);
    EXPECT_EQ(actual.at("son-rapor").type, 'l');
    EXPECT_EQ(actual.at("bin/calistir.sh").permissions, 0755u);
    EXPECT_EQ(actual.at("veri.db").modified, expected.at("veri.db").modified);
    EXPECT_EQ(actual.size(), expected.size());
}

TEST_F(Interop, WeRestoreInfoZipArchivesWithTraditionalEncryption) {
    makeSampleTree(source);
    const QString archivePath = work.file("infozip.zip");
    const ToolResult made =
        runTool("zip", {"-r", "-y", "-q", "-P", "6150937284", archivePath, "."}, source);
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    extract(archivePath, restored);
    EXPECT_EQ(firstDifference(snapshot(source), snapshot(restored)), "");

    QDir().mkpath(work.file("yanlis"));
    const Failure failure = failureOf([&] { extract(archivePath, work.file("yanlis"), "yanlis"); });
    EXPECT_TRUE(failure.code() == FailureCode::WrongPassword ||
                failure.code() == FailureCode::InvalidArchive);
}

TEST_F(Interop, WeRestoreArchivesWithoutEncryptionAndLibzipAesArchives) {
    writeRawZip(work.file("acik.zip"), {{"klasör/", {}, 040755, true}, {"klasör/a.txt", "açık"}},
                RawEncryption::None);
    extract(work.file("acik.zip"), restored, QString());
    EXPECT_EQ(readBytes(restored + "/klasör/a.txt"), "açık");

    writeRawZip(work.file("aes.zip"), {{"b.txt", QByteArray("libzip aes").repeated(1000)}},
                RawEncryption::Aes256);
    extract(work.file("aes.zip"), restored);
    EXPECT_EQ(readBytes(restored + "/b.txt"), QByteArray("libzip aes").repeated(1000));
}

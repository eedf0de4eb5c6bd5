#include "archive/ArchiveJobsTestBase.h"
#include "archive/ZipReader.h"

#include <QFile>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

class HostileArchive : public ArchiveJobsTest {
protected:
    Tree before;
    Tree workBefore;

    void SetUp() override {
        ArchiveJobsTest::SetUp();
        writeFile(restored + "/veri.db", "canlı veri", 0644, 1500000000);
        writeFile(restored + "/alt/rapor.txt", "rapor", 0644, 1500000000);
        before = snapshot(restored);
    }

    // The restore fails with `expected`, and nothing changed inside or outside.
    void expectRefused(const QString& archivePath, FailureCode expected,
                       const QString& password = archive::kArchivePassword) {
        const Tree around = snapshot(work.path(), {"geri"});
        const Failure failure = failureOf([&] { extract(archivePath, restored, password); });
        EXPECT_EQ(failure.code(), expected) << failure.description().toStdString();
        EXPECT_FALSE(failure.description().isEmpty());
        EXPECT_EQ(firstDifference(before, snapshot(restored)), "");
        EXPECT_EQ(firstDifference(around, snapshot(work.path(), {"geri"})), "");
    }

    QString raw(const std::vector<RawEntry>& entries) {
        const QString path = work.file("saldiri.zip");
        QFile::remove(path);
        writeRawZip(path, entries, RawEncryption::Aes256);
        return path;
    }
};

QByteArray withByteFlipped(QByteArray bytes, qsizetype at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
    return bytes;
}

} // namespace

TEST_F(HostileArchive, EntriesLeadingOutsideAreRefusedWithNothingChanged) {
    for (const char* name : {"../kacak.txt", "alt/../../kacak.txt", "/tmp/kavlento-kacak.txt",
                             "C:/kacak.txt", "alt\\..\\..\\kacak.txt"}) {
        SCOPED_TRACE(name);
        expectRefused(raw({{"zararsiz.txt", "ilk"}, {name, "kaçak"}}), FailureCode::UnsafeArchive);
    }
    EXPECT_FALSE(QFileInfo::exists("/tmp/kavlento-kacak.txt"));
}

TEST_F(HostileArchive, LinksLeadingOutsideAreRefused) {
    const std::uint32_t link = 0120777;
    expectRefused(raw({{"bag", "../../etc", link}}), FailureCode::UnsafeArchive);
    expectRefused(raw({{"bag", "/etc/passwd", link}}), FailureCode::UnsafeArchive);
    expectRefused(raw({{"alt2/bag", "../../dışarı", link}}), FailureCode::UnsafeArchive);
    // Through another link of the archive: "l" is the folder itself, "l/.." its parent.
    expectRefused(raw({{"l", ".", link}, {"x", "l/../dışarı", link}}), FailureCode::UnsafeArchive);
    // A file below a link would be written wherever the link points.
    expectRefused(raw({{"d", "alt", link}, {"d/dosya", "içerik"}}), FailureCode::UnsafeArchive);
}

TEST_F(HostileArchive, LinksThatStayInsideAreRestored) {
    const std::uint32_t link = 0120777;
    extract(raw({{"alt/bag", "../veri.db", link}, {"bag2", "alt/rapor.txt", link}}), restored);
    EXPECT_EQ(QFile::symLinkTarget(restored + "/alt/bag"), restored + "/veri.db");
    EXPECT_EQ(readBytes(restored + "/bag2"), "rapor");
}

TEST_F(HostileArchive, TwoEntriesForOnePathAreRefused) {
    expectRefused(raw({{"a.txt", "bir"}, {"./a.txt", "iki"}}), FailureCode::InvalidArchive);
}

TEST_F(HostileArchive, AWrongPasswordIsReported) {
    writeFile(source + "/gizli.txt", "gizli");
    expectRefused(compress(source), FailureCode::WrongPassword, "yanlis");
}

TEST_F(HostileArchive, TruncatedAndCorruptedArchivesAreRefused) {
    makeSampleTree(source);
    const QByteArray good = readBytes(compress(source));
    const QString damaged = work.file("bozuk.ksd");
    // Cut in the data, in the central directory, in the end record.
    for (const qsizetype length : {good.size() / 3, good.size() - 300, good.size() - 10}) {
        SCOPED_TRACE(length);
        writeBytes(damaged, good.left(length));
        expectRefused(damaged, FailureCode::InvalidArchive);
    }
    // A flipped byte inside the large file's encrypted data fails its HMAC.
    writeBytes(damaged, withByteFlipped(good, good.size() / 2));
    expectRefused(damaged, FailureCode::InvalidArchive);
}

TEST_F(HostileArchive, AnEntryLargerThanItsHeaderSaysIsStopped) {
    // Headers that claim 5 bytes for 3000: both size fields are patched.
    const QString path = work.file("yalanci.zip");
    writeRawZip(path, {{"yalan.txt", QByteArray(3000, 'x')}}, RawEncryption::None);
    QByteArray bytes = readBytes(path);
    const QByteArray real = QByteArray::fromHex("b80b0000"); // 3000, little-endian
    for (qsizetype at = bytes.indexOf(real); at >= 0; at = bytes.indexOf(real, at + 4)) {
        bytes.replace(at, 4, QByteArray::fromHex("05000000"));
    }
    writeBytes(path, bytes);
    expectRefused(path, FailureCode::InvalidArchive, QString());
}

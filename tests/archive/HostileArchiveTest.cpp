#include "support/ArchiveJobsTestBase.h"
#include "zip/ZipReader.h"

#include <QFile>

#include <zlib.h>

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
                             ".kavlento-geri-yukleme/yeni/x"}) {
        SCOPED_TRACE(name);
        expectRefused(raw({{"zararsiz.txt", "ilk"}, {name, "kaçak"}}), FailureCode::UnsafeArchive);
    }
    // Windows archivers separate folders with '\\'.
    expectRefused(raw({{"zararsiz.txt", "ilk"}, {"alt\\..\\..\\kacak.txt", "kaçak", 0}}),
                  FailureCode::UnsafeArchive);
    EXPECT_FALSE(QFileInfo::exists("/tmp/kavlento-kacak.txt"));
}

TEST_F(HostileArchive, LinksAreRestoredAsLinksAndNothingIsWrittenThroughThem) {
    const std::uint32_t link = 0120777;
    // Links are data: wherever they point, they come back as links.
    const std::vector<std::pair<std::string, std::string>> links = {
        {"bag", "../../etc"},         {"mutlak", "/etc/passwd"},
        {"alt2/bag", "../../dışarı"}, {"l", "."},
        {"x", "l/../dışarı"},         {"alt/bag", "../veri.db"},
        {"ters", "..\\dışarı\\x"},    {"surucu", "C:\\Windows"},
        {"kopuk", "yok/hiç"}};
    std::vector<RawEntry> entries;
    for (const auto& [name, target] : links) {
        entries.push_back({name, QByteArray::fromStdString(target), link});
    }
    const QString archivePath = raw(entries);
    if (!linksCanBeMadeIn(restored)) {
        expectRefused(archivePath, FailureCode::PermissionDenied);
        GTEST_SKIP() << "this system makes no links here, and said so before any change";
    }
    const Tree around = snapshot(work.path(), {"geri"});
    extract(archivePath, restored);
    for (const auto& [name, target] : links) {
        const QFileInfo restoredLink(restored + "/" + QString::fromStdString(name));
        EXPECT_TRUE(restoredLink.isSymLink()) << name;
        EXPECT_EQ(snapshot(restored).at(name).content, QByteArray::fromStdString(target)) << name;
    }
    EXPECT_EQ(firstDifference(around, snapshot(work.path(), {"geri"})), "");

    // A file below a link would be written wherever the link points.
    const QString outside = work.file("dışarısı");
    QDir().mkpath(outside);
    before = snapshot(restored);
    expectRefused(raw({{"d", "alt", link}, {"d/dosya", "içerik"}}), FailureCode::UnsafeArchive);
    makeLink(restored + "/yol", outside);
    before = snapshot(restored);
    expectRefused(raw({{"yol/dosya", "içerik"}}), FailureCode::PathFileAccess);
    EXPECT_TRUE(QDir(outside).isEmpty());
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

namespace {

void put16(QByteArray& out, std::uint16_t v) {
    out.append(static_cast<char>(v & 0xff)).append(static_cast<char>(v >> 8));
}
void put32(QByteArray& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xffff));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

// A stored, unencrypted archive written byte by byte, whose central directory
// lists `names`, every one pointing at the one local entry at offset 0.
QByteArray overlappingArchive(const QByteArray& content, const std::vector<QByteArray>& names) {
    const auto crc = static_cast<std::uint32_t>(crc32(
        0, reinterpret_cast<const Bytef*>(content.constData()), static_cast<uInt>(content.size())));
    QByteArray zip;
    put32(zip, 0x04034b50);
    put16(zip, 10);
    put16(zip, 0);
    put16(zip, 0);
    put32(zip, 0);
    put32(zip, crc);
    put32(zip, static_cast<std::uint32_t>(content.size()));
    put32(zip, static_cast<std::uint32_t>(content.size()));
    put16(zip, static_cast<std::uint16_t>(names.front().size()));
    put16(zip, 0);
    zip += names.front() + content;
    const auto centralStart = static_cast<std::uint32_t>(zip.size());
    for (const QByteArray& name : names) {
        put32(zip, 0x02014b50);
        put16(zip, 0x031e);
        put16(zip, 10);
        put16(zip, 0);
        put16(zip, 0);
        put32(zip, 0);
        put32(zip, crc);
        put32(zip, static_cast<std::uint32_t>(content.size()));
        put32(zip, static_cast<std::uint32_t>(content.size()));
        put16(zip, static_cast<std::uint16_t>(name.size()));
        put16(zip, 0);
        put16(zip, 0);
        put16(zip, 0);
        put16(zip, 0);
        put32(zip, 0100644u << 16);
        put32(zip, 0); // every entry's data is the same bytes
        zip += name;
    }
    const auto centralSize = static_cast<std::uint32_t>(zip.size()) - centralStart;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<std::uint16_t>(names.size()));
    put16(zip, static_cast<std::uint16_t>(names.size()));
    put32(zip, centralSize);
    put32(zip, centralStart);
    put16(zip, 0);
    return zip;
}

} // namespace

TEST_F(HostileArchive, EntriesThatShareTheirDataAreRefused) {
    const QString path = work.file("ortak.zip");
    writeBytes(path, overlappingArchive("paylaşılan veri", {"a.txt", "b.txt", "c.txt"}));
    expectRefused(path, FailureCode::InvalidArchive, QString());
    // The same bytes with one name is a good archive: the writer of the test is right.
    writeBytes(path, overlappingArchive("paylaşılan veri", {"a.txt"}));
    extract(path, restored, QString());
    EXPECT_EQ(readBytes(restored + "/a.txt"), "paylaşılan veri");
}

TEST_F(HostileArchive, TruncationsAnywhereAreRefused) {
    makeSampleTree(source);
    const QByteArray good = readBytes(compress(source));
    const QString damaged = work.file("kesik.ksd");
    std::vector<qsizetype> lengths = {
        0, 1, 4, 29, 30, 60, good.size() - 22, good.size() - 21, good.size() - 2, good.size() - 1};
    for (int part = 1; part < 48; ++part) {
        lengths.push_back(good.size() * part / 48);
    }
    for (const qsizetype length : lengths) {
        SCOPED_TRACE(length);
        writeBytes(damaged, good.left(length));
        expectRefused(damaged, FailureCode::InvalidArchive);
    }
}

using SlowHostileArchive = HostileArchive;

TEST_F(SlowHostileArchive, AByteChangedAnywhereIsRefusedOrChangesNothingInTheContent) {
    // Every region: local headers, encrypted data, central directory, end records.
    writeFile(source + "/a.txt", pseudoText(3000, 1));
    writeFile(source + "/alt/b.txt", pseudoText(5000, 2));
    makeLink(source + "/bag", "a.txt");
    const QByteArray good = readBytes(compress(source));
    const QString changed = work.file("degisik.ksd");
    const Tree original = snapshot(source);
    int refused = 0;
    int harmless = 0;
    for (qsizetype at = 0; at < good.size(); at += 7) {
        QByteArray bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        writeBytes(changed, bytes);
        QDir(restored).removeRecursively();
        QDir().mkpath(restored);
        try {
            extract(changed, restored);
            // A field no reader relies on (a time in a header, say) may change;
            // then the content must still come back exactly.
            const Tree got = snapshot(restored);
            for (const auto& [path, entry] : original) {
                ASSERT_EQ(got.count(path), 1u) << "offset " << at << ": " << path;
                EXPECT_EQ(got.at(path).content, entry.content) << "offset " << at << ": " << path;
            }
            ++harmless;
        } catch (const Failure& failure) {
            EXPECT_NE(failure.code(), FailureCode::Unexpected) << "offset " << at;
            EXPECT_TRUE(snapshot(restored).empty()) << "offset " << at;
            ++refused;
        }
    }
    std::printf("[ measured ] %d changed archives refused, %d harmless\n", refused, harmless);
    EXPECT_GT(refused, harmless);
}

namespace {

// A consistent archive whose one entry is called `name` in both headers: the
// test writes it as "ADX.txt" and replaces those bytes everywhere.
QByteArray archiveNamed(const QString& path, const QByteArray& name, const QByteArray& content) {
    writeRawZip(path, {{"ADX.txt", content}}, RawEncryption::None);
    return readBytes(path).replace("ADX.txt", name);
}

} // namespace

TEST_F(HostileArchive, ANameWithAZeroByteIsRefused) {
    // The system would cut the name at the zero and write a file never checked.
    const QString path = work.file("sifir.zip");
    writeBytes(path, archiveNamed(path, QByteArray("ab\0.txt", 7), "içerik"));
    expectRefused(path, FailureCode::UnsafeArchive, QString());
}

// What no restore could bring back as it was is refused, naming the entry,
// never changed on the way: a link target holding a zero byte (the system
// would cut it there), a file named "." (it would be dropped).
TEST_F(HostileArchive, EntriesThatCannotComeBackAsTheyAreAreRefusedNamingThem) {
    // Where no link can be made, any link is refused before it is read.
    const FailureCode badLink =
        linksCanBeMadeIn(restored) ? FailureCode::UnsafeArchive : FailureCode::PermissionDenied;
    const std::pair<RawEntry, FailureCode> cases[] = {
        {{"bag", QByteArray("a.txt\0/etc/shadow", 17), 0120777}, badLink},
        {{".", "nokta"}, FailureCode::InvalidArchive},
        {{"alt/.", "nokta"}, FailureCode::InvalidArchive},
    };
    for (const auto& [entry, code] : cases) {
        SCOPED_TRACE(entry.name);
        expectRefused(raw({{"zararsiz.txt", "ilk"}, entry}), code);
    }
}

TEST_F(HostileArchive, ALocalHeaderThatDisagreesWithTheDirectoryIsRefused) {
    const QString path = work.file("celiskili.zip");
    writeRawZip(path, {{"ADX.txt", "içerik"}}, RawEncryption::None);
    QByteArray bytes = readBytes(path);
    // Only the first name, the local header's, changes.
    bytes.replace(bytes.indexOf("ADX.txt"), 7, "BDX.txt");
    writeBytes(path, bytes);
    expectRefused(path, FailureCode::InvalidArchive, QString());
}

TEST_F(HostileArchive, ACountLargerThanTheDirectoryIsRefused) {
    const QString path = work.file("sayi.zip");
    QByteArray bytes = archiveNamed(path, "a.txt", "içerik");
    const qsizetype end = bytes.lastIndexOf(QByteArray::fromHex("504b0506"));
    bytes[end + 8] = bytes[end + 10] = static_cast<char>(0xff); // 255 entries, 1 stored
    writeBytes(path, bytes);
    expectRefused(path, FailureCode::InvalidArchive, QString());
}

TEST_F(HostileArchive, AFolderInTheArchivesPlaceIsRefused) {
    const QString folder = work.file("klasor.ksd");
    QDir().mkpath(folder);
    expectRefused(folder, FailureCode::FileNotFound);
}

TEST_F(HostileArchive, APipeInTheArchivesPlaceIsRefusedWithoutWaiting) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no named pipes in its file systems";
#else
    // Outside the work folder, which the check of "nothing changed" reads.
    const TempFolder elsewhere;
    const QString pipe = elsewhere.file("boru.ksd");
    makePipe(pipe);
    const Failure failure = failureOf([&] { extract(pipe, restored); }); // no writer ever comes
    EXPECT_EQ(failure.code(), FailureCode::FileNotFound);
    EXPECT_EQ(firstDifference(before, snapshot(restored)), "");
#endif
}

TEST_F(HostileArchive, ATimeFieldWhoseSizesWrapAroundIsReadToItsEnd) {
    // An NTFS time attribute claiming 0xFFFC bytes: a walk that wrapped at
    // 16 bits would come back to where it started and never end.
    writeFile(source + "/a.txt", "içerik", 0644, 1500000000);
    QByteArray bytes = readBytes(compress(source));
    const QByteArray attribute = QByteArray::fromHex("01001800");
    const QByteArray wrapping = QByteArray::fromHex("0100fcff");
    ASSERT_GT(bytes.count(attribute), 0);
    bytes.replace(attribute, wrapping);
    const QString path = work.file("ntfs.ksd");
    writeBytes(path, bytes);
    extract(path, restored);
    EXPECT_EQ(readBytes(restored + "/a.txt"), "içerik");
}

// A CRC of 0 is checked like any other: only an AE-2 entry leaves its CRC out
// (its HMAC covers the data).
TEST_F(HostileArchive, AZeroCrcIsCheckedUnlessTheEntryIsAe2) {
    writeFile(source + "/a.txt", "içerik");
    QByteArray bytes = readBytes(compress(source));
    const qsizetype central = bytes.indexOf("PK\1\2");
    bytes.replace(central + 16, 4, QByteArray(4, '\0'));
    const QString path = work.file("crc.ksd");
    writeBytes(path, bytes);
    expectRefused(path, FailureCode::InvalidArchive);
    bytes[bytes.indexOf(QByteArray("\1\x99\7\0", 4), central) + 4] = 2; // AE-1 becomes AE-2
    writeBytes(path, bytes);
    extract(path, restored);
    EXPECT_EQ(readBytes(restored + "/a.txt"), "içerik");
}

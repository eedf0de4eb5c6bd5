#include "zip/ZipDirectory.h"
#include "base/Failure.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

// What an entry is comes from the Unix mode a Unix archiver stores (set-user
// and set-group bits aside), else from the DOS folder attribute or the name.
// Every structure that lies is refused, saying which: each row changes the
// first record of a kind (local header, central record, end record) at an
// offset, and gives what is listed then, each entry as "kind path mode", or
// the reason.
TEST(ZipDirectory, ReadsWhatEachEntryIsAndRefusesEveryStructureThatLies) {
    TempFolder folder;
    const QString archive = folder.file("a.zip");
    writeRawZip(archive, {{"a", "x", 0100640},
                          {"s", "x", 0104755},
                          {"l", "a", 0120777},
                          {"n", {}, 040700},
                          {"w", "x", 0},
                          {"W/", {}, 0, true}});
    const QByteArray good = readBytes(archive);
    const std::tuple<const char*, int, const char*, const char*> rows[] = {
        {"", 0, "", "f a 640, f s 755, l l 777, d n 700, f w 644, d W/ 755, "},
        {"504b0506", 20, "0100", "son kayıt yok"}, // a comment that is not there
        {"504b0506", 8, "ffffffff", "girdi sayısı tutmuyor"},
        {"504b0506", 16, "01000000", "merkez dizininin yeri tutmuyor"},
        {"504b0102", 34, "0100", "birden çok parçalı arşiv"},
        {"504b0102", 20, "ffffffff", "ZIP64 alanı eksik"},
        {"504b0304", 30, "62", "yerel başlık merkez dizinle uyuşmuyor"},       // the name
        {"504b0304", 14, "01000000", "yerel başlık merkez dizinle uyuşmuyor"}, // the CRC
    };
    for (const auto& [record, at, bytes, expected] : rows) {
        writeBytes(archive,
                   QByteArray(good).replace(good.indexOf(QByteArray::fromHex(record)) + at,
                                            qstrlen(bytes) / 2, QByteArray::fromHex(bytes)));
        QString listed;
        try {
            const zip::ZipDirectory directory(*fs::openForReading(fs::toSystemPath(archive)),
                                              "a.zip", [](std::string name) { return name; });
            for (const zip::ZipEntry& e : directory.entries()) {
                listed += QStringLiteral("%1 %2 %3, ")
                              .arg(QChar("fdl"[static_cast<int>(e.kind)])) // file, folder, link
                              .arg(QString::fromStdString(std::string(e.path)))
                              .arg(e.mode, 0, 8);
            }
        } catch (const Failure& failure) {
            listed = failure.description();
        }
        EXPECT_TRUE(listed.contains(expected)) << listed.toStdString();
    }
}

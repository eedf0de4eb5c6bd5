// Files that change, vanish or are replaced while a backup reads them, and the
// check that reads every written archive back.
#include "archive/ArchiveCheck.h"
#include "archive/Packer.h"
#include "fs/FolderScanner.h"
#include "support/ArchiveJobsTestBase.h"
#include "zip/ZipWriter.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <thread>
#include <unistd.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

constexpr int kBlock = 1 << 20;

// A file of `blocks` blocks that all carry `version` in their first bytes,
// with text between, so that deflate has work to do.
QByteArray versionOf(int version, int blocks) {
    QByteArray bytes;
    for (int b = 0; b < blocks; ++b) {
        QByteArray block = pseudoText(kBlock, static_cast<std::uint32_t>(b + 1));
        block.replace(0, 12, QByteArray::number(version).rightJustified(12, '0'));
        bytes += block;
    }
    return bytes;
}

// The versions the blocks of a restored file carry.
std::set<QByteArray> versionsIn(const QByteArray& bytes) {
    std::set<QByteArray> versions;
    for (qsizetype at = 0; at < bytes.size(); at += kBlock) {
        versions.insert(bytes.mid(at, 12));
    }
    return versions;
}

// Runs `change` over and over on another thread while alive.
class Meddler {
public:
    template <typename Change> explicit Meddler(Change change) {
        thread_ = std::thread([this, change] {
            for (int round = 1; !stop_; ++round) {
                change(round);
                rounds_ = round;
            }
        });
    }
    ~Meddler() { finish(); }
    int finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return rounds_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> rounds_{0};
    std::thread thread_;
};

class SlowPacking : public ArchiveJobsTest {
protected:
    QString file = source + "/veri.db";

    // Packs `scanned` into a fresh archive; returns what was packed.
    std::vector<archive::PackedEntry> packInto(const std::string& archivePath,
                                               const fs::ScannedTree& scanned) {
        const fs::UniqueFd file = fs::createNew(archivePath, 0644);
        zip::ZipWriter writer(file, archivePath);
        writer.setOrigin({});
        archive::JobControl control;
        const fs::OpenFolder root = fs::OpenFolder::open(fs::toSystemPath(source), {});
        auto packed = archive::pack(scanned.entries, root, {"6150937284", 6, 2}, writer, control);
        writer.finish();
        return packed;
    }

    void check(const std::string& archivePath, const std::vector<archive::PackedEntry>& packed) {
        const std::optional<fs::UniqueFd> fd = fs::openForReading(archivePath);
        ASSERT_TRUE(fd.has_value());
        archive::JobControl control;
        archive::checkWrittenArchive(*fd, archivePath, packed, {}, control);
    }
};

} // namespace

TEST_F(SlowPacking, AFileReplacedWhileItIsReadGoesInAsOneWholeVersion) {
    // A host saves by writing a new file and renaming it over the old one.
    writeBytes(file, versionOf(0, 16));
    Meddler saver([&](int round) {
        writeBytes(file + ".yeni", versionOf(round, 16));
        ::rename(QFile::encodeName(file + ".yeni").constData(),
                 QFile::encodeName(file).constData());
    });
    for (int backup = 0; backup < 3; ++backup) {
        const QString archivePath = compress(source, QStringLiteral("%1.ksd").arg(backup));
        fs::removeTree(fs::toSystemPath(restored));
        QDir().mkpath(restored);
        extract(archivePath, restored);
        EXPECT_EQ(versionsIn(readBytes(restored + "/veri.db")).size(), 1u) << backup;
    }
    EXPECT_GT(saver.finish(), 1) << "the file was never replaced during a backup";
}

TEST_F(SlowPacking, AFileChangedInPlaceIsReadAgainOrFailsTheBackupWithItsName) {
    writeBytes(file, versionOf(0, 16));
    // Rewritten in place now and then: each backup either has one whole
    // version of it, or fails naming it.
    {
        Meddler writer([&](int round) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.write(versionOf(round, 16));
            f.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        });
        for (int backup = 0; backup < 3; ++backup) {
            try {
                const QString archivePath = compress(source, QStringLiteral("%1.ksd").arg(backup));
                fs::removeTree(fs::toSystemPath(restored));
                QDir().mkpath(restored);
                extract(archivePath, restored);
                EXPECT_EQ(versionsIn(readBytes(restored + "/veri.db")).size(), 1u) << backup;
            } catch (const Failure& failure) {
                EXPECT_TRUE(failure.description().contains("veri.db")) << failure.what();
                EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/%1.ksd").arg(backup)));
            }
        }
        EXPECT_GT(writer.finish(), 1) << "the file was never rewritten during a backup";
    }
    // Growing without pause, it never has one version to read.
    Meddler appender([&](int) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("+");
        f.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    const Failure failure = failureOf([&] { compress(source, "son.ksd"); });
    EXPECT_EQ(failure.code(), FailureCode::PathFileAccess) << failure.what();
    EXPECT_TRUE(failure.description().contains("veri.db"));
    EXPECT_FALSE(QFile::exists(target + "/son.ksd"));
}

TEST_F(SlowPacking, WhatIsGoneSinceTheFolderWasListedIsLeftOutAndTheRestIsChecked) {
    writeFile(source + "/kalici.txt", "kalıcı");
    writeFile(source + "/gecici.tmp", "birazdan yok");
    writeFile(source + "/alt/veri.txt", "veri");
    writeFile(source + "/donusen", "birazdan bağlantı");
    makeLink(source + "/bag", "kalici.txt");
    const fs::ScannedTree scanned =
        fs::scanFolder(fs::OpenFolder::open(fs::toSystemPath(source), {}), {});
    QFile::remove(source + "/gecici.tmp");
    QFile::remove(source + "/bag");
    QFile::remove(source + "/donusen");
    makeLink(source + "/donusen", "kalici.txt"); // no longer the file that was listed
    const std::string archivePath = fs::toSystemPath(target + "/1.ksd");
    const auto packed = packInto(archivePath, scanned);
    std::vector<std::string> names;
    for (const archive::PackedEntry& entry : packed) {
        names.emplace_back(entry.entry.path);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alt", "alt/veri.txt", "kalici.txt"}));
    check(archivePath, packed);
}

// A sub-folder swapped for a link to a folder with the same names after the
// listing: what the link leads to is never read, the files are simply gone.
TEST_F(SlowPacking, AFolderSwappedForALinkAfterTheListingIsNeverReadThrough) {
    writeFile(source + "/alt/gizli.txt", "kendi");
    makeLink(source + "/alt/bag", "gizli.txt");
    writeFile(work.file("yalniz-root/gizli.txt"), "başkasının");
    makeLink(work.file("yalniz-root/bag"), "/etc/shadow");
    const fs::ScannedTree scanned =
        fs::scanFolder(fs::OpenFolder::open(fs::toSystemPath(source), {}), {});
    ASSERT_TRUE(QDir().rename(source + "/alt", source + "/alt-eski"));
    makeLink(source + "/alt", work.file("yalniz-root"));
    const std::string archivePath = fs::toSystemPath(target + "/1.ksd");
    std::vector<std::string> names;
    for (const archive::PackedEntry& entry : packInto(archivePath, scanned)) {
        names.emplace_back(entry.entry.path);
    }
    EXPECT_EQ(names, std::vector<std::string>{"alt"});
}

TEST_F(SlowPacking, TheCheckFindsADamagedOrIncompleteArchive) {
    makeSampleTree(source);
    const fs::ScannedTree scanned =
        fs::scanFolder(fs::OpenFolder::open(fs::toSystemPath(source), {}), {});
    const std::string archivePath = fs::toSystemPath(target + "/1.ksd");
    const auto packed = packInto(archivePath, scanned);
    check(archivePath, packed);

    // An entry that went missing from what was written.
    auto fewer = packed;
    fewer.pop_back();
    EXPECT_THROW(check(archivePath, fewer), Failure);
    // A byte changed anywhere in the stored data of one file.
    const QByteArray good = readBytes(fs::fromSystemPath(archivePath));
    const qsizetype name = good.indexOf("resimler/foto.jpg");
    ASSERT_GE(name, 0);
    const qsizetype at = name + 200;
    QByteArray damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ 1);
    writeBytes(fs::fromSystemPath(archivePath), damaged);
    try {
        check(archivePath, packed);
        ADD_FAILURE() << "a damaged archive passed the check";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains("yedek alınmadı")) << failure.what();
    }
}

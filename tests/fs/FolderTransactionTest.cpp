#include "fs/FolderTransaction.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "fs/RestoreRecovery.h"
#include "support/ArchiveTestSupport.h"
#include "support/ReliabilityTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

QByteArray journalRecord(char kind, bool existed, const QByteArray& path) {
    QByteArray record;
    record.append(kind);
    record.append(existed ? '1' : '0');
    record.append(QByteArray(4, '\0')); // in the destination's own working folder
    const auto length = static_cast<std::uint32_t>(path.size());
    for (int i = 0; i < 4; ++i) {
        record.append(static_cast<char>((length >> (8 * i)) & 0xff));
    }
    return record + path;
}

} // namespace

class Transaction : public ::testing::Test {
protected:
    TempFolder work;
    QString restored = work.file("geri");

    void SetUp() override { QDir().mkpath(restored); }
};

TEST_F(Transaction, AnInterruptedMoveIsPutBackAtTheNextStart) {
    // The state a crash leaves: "a" moved aside and replaced, "alt/b" placed
    // (it did not exist before) and "alt" given its saved read-only mode, "c"
    // not yet reached.
    const QString working = restored + "/.kavlento-geri-yukleme";
    writeFile(restored + "/a.txt", "yeni a");
    writeFile(working + "/eski/a.txt", "eski a", 0600, 1400000000);
    writeFile(restored + "/alt/b.txt", "yeni b");
    writeFile(working + "/yeni/c.txt", "yeni c");
    writeFile(restored + "/c.txt", "eski c", 0644, 1400000000);
    writeFile(restored + "/kalir.txt", "dokunulmaz", 0644, 1400000000);
    writeBytes(working + "/gunluk",
               "KJ2" + journalRecord('D', false, "alt") + journalRecord('F', true, "a.txt") +
                   journalRecord('F', false, "alt/b.txt") + journalRecord('F', true, "c.txt"));
    QFile::setPermissions(restored + "/alt", QFile::ReadOwner | QFile::ExeOwner);

    ASSERT_TRUE(runUnprivileged({restored},
                                [&] { fs::RestoreRecovery::recover(fs::toSystemPath(restored)); }));

    EXPECT_EQ(readBytes(restored + "/a.txt"), "eski a");
    EXPECT_EQ(snapshot(restored).at("a.txt").permissions, 0600u);
    EXPECT_FALSE(QFileInfo::exists(restored + "/alt"));
    EXPECT_EQ(readBytes(restored + "/c.txt"), "eski c");
    EXPECT_EQ(readBytes(restored + "/kalir.txt"), "dokunulmaz");
    EXPECT_FALSE(QFileInfo::exists(working));
}

// Kavlento's working folder holds its list of areas from the start, or only
// empty folders when cut off before it; a user's folder of that name is left.
TEST_F(Transaction, AWorkingFolderWithoutAJournalIsSimplyRemovedAndAUsersStays) {
    writeFile(restored + "/a.txt", "canlı");
    writeFile(restored + "/.kavlento-geri-yukleme/alanlar", "");
    writeFile(restored + "/.kavlento-geri-yukleme/yeni/a.txt", "yarım kalmış");
    fs::RestoreRecovery::recover(fs::toSystemPath(restored));
    EXPECT_EQ(readBytes(restored + "/a.txt"), "canlı");
    EXPECT_FALSE(QFileInfo::exists(restored + "/.kavlento-geri-yukleme"));

    QDir().mkpath(restored + "/.kavlento-geri-yukleme/yeni");
    fs::RestoreRecovery::recover(fs::toSystemPath(restored));
    EXPECT_FALSE(QFileInfo::exists(restored + "/.kavlento-geri-yukleme"));

    writeFile(restored + "/.kavlento-geri-yukleme/notlar.txt", "kullanıcının");
    fs::RestoreRecovery::recover(fs::toSystemPath(restored));
    EXPECT_EQ(readBytes(restored + "/.kavlento-geri-yukleme/notlar.txt"), "kullanıcının");
}

TEST_F(Transaction, SizesNoDiskCanHoldAreRefusedBeforeAnythingIsWritten) {
    // Declared sizes whose sum wraps around in 64 bits, or one beyond any disk.
    const std::uint64_t half = std::uint64_t{1} << 63;
    for (const std::vector<std::uint64_t>& sizes :
         {std::vector<std::uint64_t>{half, half, 100}, {UINT64_MAX}, {UINT64_MAX - 16, 64}}) {
        std::vector<TreeEntry> items;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            TreeEntry item;
            item.path = i == 0 ? "a" : i == 1 ? "b" : "c";
            item.size = sizes[i];
            items.push_back(item);
        }
        try {
            fs::FolderTransaction transaction(fs::toSystemPath(restored), items);
            ADD_FAILURE() << "accepted " << sizes.size() << " entries";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), FailureCode::DiskFull);
        }
        EXPECT_TRUE(QDir(restored).isEmpty());
    }
}

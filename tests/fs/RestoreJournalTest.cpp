#include "fs/RestoreJournal.h"
#include "base/Failure.h"
#include "fs/FolderTransaction.h"
#include "fs/RestoreRecovery.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QtEndian>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;
using fs::journal::Move;

namespace {

QByteArray number(quint64 value, int size = 4) {
    value = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value), size);
}

// A record of today's journal or, without a mode, of KJ3.
QByteArray record(char kind, char existed, quint32 area, const QByteArray& path,
                  std::optional<quint32> mode = 0) {
    return kind + (existed + number(area)) + (mode ? number(*mode) : "") + number(path.size()) +
           path;
}

// A journal of `records`, closed with `count` and its checksum as Kavlento closes one.
QByteArray sealed(const QByteArray& records, quint64 count) {
    const QByteArray bytes = "KJ4" + records + number(count, 8);
    quint64 sum = 14695981039346656037u;
    for (const char c : bytes) {
        sum = (sum ^ static_cast<unsigned char>(c)) * 1099511628211u;
    }
    return bytes + number(sum, 8);
}

class Journal : public ::testing::Test {
protected:
    TempFolder work;
    fs::OpenFolder folder = fs::OpenFolder::open(fs::toSystemPath(work.path()), {});

    // Whether `bytes` as the journal (or the area list) are refused whole as
    // damaged, naming the file and the folder the old files wait in.
    bool refused(const QByteArray& bytes, const char* name = "gunluk") {
        work.write(name, bytes);
        try {
            name == std::string_view("gunluk") ? (void)fs::journal::read(folder, 3)
                                               : (void)fs::journal::readAreaList(folder);
        } catch (const fs::journal::Damaged& failure) {
            return failure.description().contains(work.file(name)) &&
                   failure.description().contains(work.file("eski"));
        }
        return false;
    }
};

} // namespace

TEST_F(Journal, EveryKindOfMoveComesBackAsWrittenAndAnEarlierJournalIsStillRead) {
    const auto same = [](const Move& a, const Move& b) {
        return std::tie(a.kind, a.existed, a.area, a.mode, a.path) ==
               std::tie(b.kind, b.existed, b.area, b.mode, b.path);
    };
    std::vector<Move> moves;
    fs::journal::Writer writer(folder);
    for (std::uint32_t i = 0; i < 3000; ++i) { // more than one of the pieces it is written in
        moves.push_back({static_cast<Move::Kind>("FDXW"[i % 4]), i % 3 == 0, i % 3, i % 07777,
                         "klasör " + std::to_string(i) + "/" + std::string(i % 50, 'x') + "ğ"});
        writer.add(moves.back());
    }
    writer.commit();
    std::vector<Move> back = fs::journal::read(folder, 3);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), moves.begin(), moves.end(), same));
    work.write("gunluk", "KJ3" + record('W', '1', 0555, "salt", {}) + record('X', '1', 2, "a", {}));
    back = fs::journal::read(folder, 3);
    moves = {{Move::Kind::OpenedUp, true, 0, 0555, "salt"}, {Move::Kind::Extra, true, 2, 0, "a"}};
    EXPECT_TRUE(std::equal(back.begin(), back.end(), moves.begin(), moves.end(), same));
}

// Each refused whole, naming the file: a count one short or over, a foreign
// mark, records no restore writes (an area beyond the list, a path leading out,
// not relative or with an empty name, an unknown kind, neither existed nor not,
// more than permissions), an earlier journal cut short or beyond the list; the
// journal and the area list cut at every length, or with one byte changed.
TEST_F(Journal, AJournalOrAreaListCutShortDamagedForeignOrUnsoundIsRefusedWhole) {
    const QByteArray moves = record('F', '1', 2, "a/b.txt") + record('W', '1', 0, "a", 0755);
    const QByteArray whole = sealed(moves, 2);
    std::vector<QByteArray> cases = {sealed(moves, 1), sealed(moves, 3), "KJ9" + whole.mid(3),
                                     "KJ3" + record('F', '1', 0, "a.txt", {}).chopped(2),
                                     "KJ3" + record('D', '0', 3, "a", {})};
    for (const QByteArray& unsound :
         {record('F', '1', 3, "a"), record('X', '1', 0, "a/../../etc"),
          record('F', '0', 0, "/etc/passwd"), record('F', '0', 0, "a//b"), record('Z', '1', 0, "a"),
          record('F', '2', 0, "a"), record('W', '1', 0, "a", 0100755)}) {
        cases.push_back(sealed(unsound, 1));
    }
    for (const QByteArray& bytes : cases) {
        EXPECT_TRUE(refused(bytes)) << bytes.toHex().toStdString();
    }
    fs::journal::writeAreaList(folder, {"ram", "belgeler/bağlı"});
    const QByteArray list = work.read("alanlar");
    EXPECT_FALSE(refused(whole) || refused(list, "alanlar") ||
                 refused(number(3) + "ram", "alanlar"));
    EXPECT_TRUE(refused(number(9) + "ram", "alanlar") && refused(number(2) + "..", "alanlar"));
    for (const auto& [name, bytes] : {std::pair{"gunluk", whole}, {"alanlar", list}}) {
        for (qsizetype at = 1; at < bytes.size(); ++at) {
            QByteArray changed = bytes;
            changed[at] = static_cast<char>(bytes[at] ^ 0x10);
            EXPECT_TRUE(refused(bytes.left(at), name) && refused(changed, name)) << name << at;
        }
    }
    // A list that cannot be read is ours only where it is all its working
    // folder holds: cut off as it was written, before anything else was made.
    // Recovery then has nothing to undo, and only removes it.
    QFile::remove(work.file("gunluk"));
    EXPECT_EQ(fs::journal::standingOf(folder), fs::journal::Standing::Ours);
    const TempFolder program;
    writeFile(program.file(".kavlento-geri-yukleme/alanlar"), list.left(5));
    EXPECT_TRUE(fs::RestoreRecovery::recover(fs::toSystemPath(program.path())).empty());
    EXPECT_FALSE(program.exists(".kavlento-geri-yukleme"));
    QDir().mkpath(work.file("eski/alt"));
    EXPECT_EQ(fs::journal::standingOf(folder), fs::journal::Standing::Foreign);
}

// A sound journal that puts the old a.txt back, with a second area on "alt":
// while any part of a working folder is one others may write in, recovery
// neither replays nor removes anything, names it, and a restore refuses to
// begin; once closed again, the restore is undone.
TEST(UntrustedWorkingFolder, IsNeitherReplayedNorRemovedAndARestoreRefusesToBegin) {
    const QString main = ".kavlento-geri-yukleme", other = "alt/" + main;
    for (const auto& [opened, named] : {std::pair{main, main},
                                        {main + "/eski", main},
                                        {main + "/gunluk", main},
                                        {main + "/alanlar", main},
                                        {other, other},
                                        {other + "/yeni", other + "/yeni"}}) {
        const TempFolder work;
        const std::string destination = fs::toSystemPath(work.path());
        writeFile(work.file("a.txt"), "yeni a");
        writeFile(work.file(main + "/eski/a.txt"), "eski a");
        for (const QString& folder : {main + "/yeni", other + "/eski", other + "/yeni"}) {
            QDir().mkpath(work.file(folder));
        }
        const fs::OpenFolder working = fs::OpenFolder::open(fs::toSystemPath(work.file(main)), {});
        fs::journal::writeAreaList(working, {"alt"});
        fs::journal::writeAreaList(fs::OpenFolder::open(fs::toSystemPath(work.file(other)), {}),
                                   {});
        fs::journal::Writer journal(working);
        journal.add({Move::Kind::File, true, 0, 0, "a.txt"});
        journal.commit();
        const QByteArray path = QFile::encodeName(work.file(opened));
        const mode_t closed = QFileInfo(work.file(opened)).isDir() ? 0700 : 0600;
        for (const mode_t open : {closed | 020, closed | 002}) {
            ASSERT_EQ(::chmod(path.constData(), open), 0);
            EXPECT_EQ(fs::RestoreRecovery::recover(destination),
                      std::vector<std::string>{fs::toSystemPath(work.file(named))});
            EXPECT_TRUE(readBytes(work.file("a.txt")) == "yeni a" && work.exists(main + "/gunluk"));
            try {
                fs::FolderTransaction(destination, {});
                ADD_FAILURE() << "a restore began beside " << path.constData();
            } catch (const Failure& failure) {
                EXPECT_TRUE(failure.description().contains("Kavlento'nun olmayan"))
                    << path.constData();
            }
        }
        ASSERT_EQ(::chmod(path.constData(), closed), 0);
        EXPECT_TRUE(fs::RestoreRecovery::recover(destination).empty());
        EXPECT_TRUE(readBytes(work.file("a.txt")) == "eski a" && !work.exists(main))
            << path.constData();
    }
}

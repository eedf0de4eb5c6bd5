#include "store/HistoryFile.h"
#include "fs/SmallFile.h"
#include "support/HistoryRecords.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace kavlento::store;
using kavlento::testing::recordsOf;
using kavlento::testing::TempFolder;

namespace {

HistoryRecord record(const char* date, const char* time, const QString& path) {
    return {QString::fromUtf8(date), QString::fromUtf8(time), path};
}

const HistoryRecord kFirst =
    record("06.12.2026", "08:24:34", "D:\\YEDEK\\06.12.2026\\6122026.82434.ksd");
const HistoryRecord kSecond =
    record("06.12.2026", "09:05:03", "D:\\YEDEK\\06.12.2026\\6122026.953.ksd");
const HistoryRecord kThird =
    record("07.12.2026", "10:00:00", "D:\\YEDEK\\07.12.2026\\7122026.1000.ksd");

const QByteArray kFirstLine =
    "\"06.12.2026\",\"08:24:34\",\"D:\\YEDEK\\06.12.2026\\6122026.82434.ksd\"\r\n";
const QByteArray kSecondLine =
    "\"06.12.2026\",\"09:05:03\",\"D:\\YEDEK\\06.12.2026\\6122026.953.ksd\"\r\n";
const QByteArray kThirdLine =
    "\"07.12.2026\",\"10:00:00\",\"D:\\YEDEK\\07.12.2026\\7122026.1000.ksd\"\r\n";

class HistoryFileTest : public ::testing::Test {
protected:
    TempFolder folder;
    HistoryFile history{folder.path()};

    void appendAll() {
        history.append(kFirst);
        history.append(kSecond);
        history.append(kThird);
    }
};

} // namespace

TEST_F(HistoryFileTest, AppendWritesExactLinesOldestFirst) {
    history.append(kFirst);
    EXPECT_EQ(folder.read("yedekleme.lst"), kFirstLine);
    history.append(kSecond);
    history.append(kThird);
    EXPECT_EQ(folder.read("yedekleme.lst"), kFirstLine + kSecondLine + kThirdLine);
    EXPECT_EQ(recordsOf(history.load().value()), (QList<HistoryRecord>{kFirst, kSecond, kThird}));
}

TEST_F(HistoryFileTest, RemovingKeepsTheOthersInOrderByteForByte) {
    appendAll();
    EXPECT_TRUE(history.removeArchive(kFirst.archivePath));
    EXPECT_EQ(folder.read("yedekleme.lst"), kSecondLine + kThirdLine);

    history.append(kFirst);
    EXPECT_TRUE(history.removeArchive(kThird.archivePath)); // a middle one
    EXPECT_EQ(folder.read("yedekleme.lst"), kSecondLine + kFirstLine);
}

TEST_F(HistoryFileTest, RemovingTheOnlyRecordLeavesAnEmptyFile) {
    history.append(kSecond);
    EXPECT_TRUE(history.removeArchive(kSecond.archivePath));
    EXPECT_TRUE(folder.exists("yedekleme.lst"));
    EXPECT_EQ(folder.read("yedekleme.lst"), QByteArray());
    EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{});
    EXPECT_FALSE(folder.exists("yedek.yedek"));
}

TEST_F(HistoryFileTest, EveryRecordOfTheArchiveGoesAndItsFileStays) {
    folder.write("arsiv.ksd", "archive bytes");
    const QString archive = folder.file("arsiv.ksd");
    history.append(record("1", "a", archive));
    history.append(kSecond);
    history.append(record("2", "b", archive));
    EXPECT_TRUE(history.removeArchive(archive));
    EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{kSecond});
    EXPECT_EQ(folder.read("arsiv.ksd"), QByteArray("archive bytes"));
}

TEST_F(HistoryFileTest, PathsThatDifferOnlyInLetterCaseNameOneArchive) {
    const HistoryRecord lower = record("1", "a", "/yedek/şirket/a.ksd");
    const HistoryRecord upper = record("1", "a", "/YEDEK/ŞİRKET/A.KSD");
    const HistoryRecord other = record("1", "a", "/yedek/b.ksd");
    for (const HistoryRecord& selected : {lower, upper}) {
        history.append(lower);
        history.append(other);
        history.append(upper);
        history.removeArchive(selected.archivePath);
        EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{other});
        history.removeArchive(other.archivePath);
    }
}

TEST_F(HistoryFileTest, CommasAndTurkishLettersSurviveAppendLoadAndRemoval) {
    const HistoryRecord turkish =
        record("06.12.2026", "08:24:34", QStringLiteral("/media/İŞĞ,ı yedek/06.12.2026/1.ksd"));
    history.append(turkish);
    history.append(kSecond);
    EXPECT_EQ(
        folder.read("yedekleme.lst"),
        QByteArray(
            "\"06.12.2026\",\"08:24:34\",\"/media/\xDD\xDE\xD0,\xFD yedek/06.12.2026/1.ksd\"\r\n") +
            HistoryFile::format(kSecond));
    EXPECT_EQ(recordsOf(history.load().value()), (QList<HistoryRecord>{turkish, kSecond}));
    history.removeArchive(kSecond.archivePath);
    EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{turkish});
    history.removeArchive(turkish.archivePath);
    EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{});
}

TEST_F(HistoryFileTest, AbsentFileLoadsAsNothingAndRemovalCreatesNothing) {
    EXPECT_FALSE(history.load().has_value());
    EXPECT_FALSE(history.removeArchive(kFirst.archivePath));
    EXPECT_FALSE(folder.exists("yedekleme.lst"));
    EXPECT_FALSE(folder.exists("yedek.yedek"));

    // A link in its place is no history of this folder, wherever it leads.
    const TempFolder elsewhere;
    elsewhere.write("yedekleme.lst", kFirstLine);
    ASSERT_TRUE(QFile::link(elsewhere.file("yedekleme.lst"), folder.file("yedekleme.lst")));
    EXPECT_FALSE(history.load().has_value());
    EXPECT_FALSE(history.removeArchive(kFirst.archivePath));
    EXPECT_EQ(elsewhere.read("yedekleme.lst"), kFirstLine);
}

TEST_F(HistoryFileTest, ARecordCutShortAtTheEndIsIgnoredAndDroppedByTheNextRewrite) {
    folder.write("yedekleme.lst",
                 kFirstLine + kSecondLine + "\"07.12.2026\",\"10:00:00\",\"D:\\YE");
    EXPECT_EQ(recordsOf(history.load().value()), (QList<HistoryRecord>{kFirst, kSecond}));

    folder.write("yedekleme.lst", kFirstLine + "\"07.12.2026\",\"10:00");
    EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{kFirst});

    history.append(kThird); // starts on a line of its own
    EXPECT_EQ(recordsOf(history.load().value()), (QList<HistoryRecord>{kFirst, kThird}));
    history.removeArchive(kFirst.archivePath);
    EXPECT_EQ(folder.read("yedekleme.lst"), kThirdLine);
}

TEST_F(HistoryFileTest, AppendAfterAFileWithoutAFinalLineEndStartsANewLine) {
    folder.write("yedekleme.lst", kFirstLine.chopped(2));
    history.append(kSecond);
    EXPECT_EQ(folder.read("yedekleme.lst"), kFirstLine + kSecondLine);
    EXPECT_EQ(recordsOf(history.load().value()), (QList<HistoryRecord>{kFirst, kSecond}));
}

TEST_F(HistoryFileTest, ALeftoverTwinFromACrashIsSimplyReplaced) {
    appendAll();
    folder.write("yedek.yedek", "stale content of an interrupted removal");
    history.removeArchive(kSecond.archivePath);
    EXPECT_EQ(folder.read("yedekleme.lst"), kFirstLine + kThirdLine);
    EXPECT_FALSE(folder.exists("yedek.yedek"));

    // A link in its place is never written through.
    const TempFolder elsewhere;
    elsewhere.write("baska.txt", "başkasının");
    ASSERT_TRUE(QFile::link(elsewhere.file("baska.txt"), folder.file("yedek.yedek")));
    history.removeArchive(kThird.archivePath);
    EXPECT_EQ(folder.read("yedekleme.lst"), kFirstLine);
    EXPECT_EQ(elsewhere.read("baska.txt"), "başkasının");
}

TEST_F(HistoryFileTest, AnEmptyFileIsAnEmptyHistory) {
    folder.write("yedekleme.lst", "");
    EXPECT_EQ(recordsOf(history.load().value()), QList<HistoryRecord>{});
}

// The file read in pieces of any size: records, CR LF pairs and lines longer
// than a piece cut wherever they can be, and lines longer than the reader holds.
TEST_F(HistoryFileTest, PiecesCutAnywhereReadAsTheWholeFile) {
    const QByteArray pastHeld(HistoryReader::kLongestRecordLine, 'x');
    const QByteArray longPath(3000, 'p');
    const struct {
        const char* what;
        QByteArray bytes;
        QStringList records; // date|time|path
        std::vector<std::size_t> unread;
    } cases[] = {
        {"records one after another",
         kFirstLine + kSecondLine,
         {"06.12.2026|08:24:34|D:\\YEDEK\\06.12.2026\\6122026.82434.ksd",
          "06.12.2026|09:05:03|D:\\YEDEK\\06.12.2026\\6122026.953.ksd"},
         {}},
        {"CR, LF and CR LF ends, empty lines counted",
         "\"a\",\"b\",\"c\"\r\r\n \"d\" , e ,f \n\n\t\r\"g\",\"h\",\"i\"",
         {"a|b|c", "d|e|f", "g|h|i"},
         {}},
        {"a record cut short at the end",
         kFirstLine + "  \"07.12.2026\",\"10:0",
         {"06.12.2026|08:24:34|D:\\YEDEK\\06.12.2026\\6122026.82434.ksd"},
         {2}},
        {"a line longer than a piece",
         "x\r\n\"1\",\"2\",\"" + longPath + "\"\r\n",
         {"1|2|" + longPath},
         {1}},
        {"what follows the fields past what is held",
         "\"a\",\"b\",\"c\"" + pastHeld + "\r\n\"d\",\"e\",f," + pastHeld,
         {"a|b|c", "d|e|f"},
         {}},
        {"fields that go on past what is held",
         "\"a\",\"b\",\"c" + pastHeld + "\"\n\"a\",\"b\",c" + pastHeld + ",\n",
         {},
         {1, 2}},
    };
    for (const auto& c : cases) {
        folder.write("yedekleme.lst", c.bytes);
        for (const std::size_t piece : {1, 2, 3, 7, 4096, 1 << 20}) {
            HistoryReader reader;
            ASSERT_TRUE(kavlento::fs::readOwnFileInPieces(
                folder.file("yedekleme.lst"), piece, [&](QByteArrayView p) { reader.read(p); }));
            const History read = reader.finish();
            QStringList records;
            for (const HistoryRecord& r : recordsOf(read)) {
                records.append(r.date + '|' + r.time + '|' + r.archivePath);
            }
            std::vector<std::size_t> unread;
            for (const History::UnreadLine& line : read.unreadLines()) {
                unread.push_back(line.number);
            }
            EXPECT_EQ(records, c.records) << c.what << ", pieces of " << piece;
            EXPECT_EQ(unread, c.unread) << c.what << ", pieces of " << piece;
        }
    }
}

TEST(HistoryReading, AllUnreadLinesAreCountedButOnlyTheFirstAreKeptAndShort) {
    QByteArray bytes;
    for (int i = 0; i < 250; ++i) {
        bytes +=
            kFirstLine + QByteArray(i == 0 ? 1000 : 20, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    const History history = History::parse(bytes);
    EXPECT_EQ(history.size(), 250U);
    EXPECT_EQ(history.unreadCount(), 250U);
    const std::vector<History::UnreadLine> unread = history.unreadLines();
    ASSERT_EQ(unread.size(), History::kKeptUnreadLines);
    EXPECT_EQ(unread.front().text, QString(History::kKeptUnreadBytes, 'a') + QStringLiteral("…"));
    EXPECT_EQ(unread.back().number, 200U);
    EXPECT_EQ(unread.back().text, QString(20, 'v'));
}

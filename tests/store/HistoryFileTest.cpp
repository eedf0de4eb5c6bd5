#include "store/HistoryFile.h"
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

#include "app/ProgramFixture.h"
#include "support/ArchiveTestSupport.h"
#include "support/Controls.h"
#include "ui/StyledButton.h"

#include <QTest>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

const QByteArray kFirst = "\"06.12.2026\",\"08:24:34\",\"/yedek/06.12.2026/6122026.82434.ksd\"\r\n";
const QByteArray kSecond = "\"06.12.2026\",\"09:05:03\",\"/yedek/06.12.2026/6122026.953.ksd\"\r\n";
const QByteArray kThird = "\"07.12.2026\",\"10:00:00\",\"/yedek/07.12.2026/7122026.1000.ksd\"\r\n";

class History : public ProgramTest {
protected:
    void clickItem(int row) { clickHistoryRow(program->window(), row); }
    void clickRemove() {
        QTest::mouseClick(control<QPushButton>(program->window(), "Command3"), Qt::LeftButton);
    }
    bool entryButtonsEnabled() {
        return control<QPushButton>(program->window(), "Command3")->isEnabled() &&
               control<QPushButton>(program->window(), "Command4")->isEnabled();
    }
};

} // namespace

TEST_F(History, TheListShowsTheRecordsInFileOrderInThreeColumns) {
    writeBytes(programFile("yedekleme.lst"), kFirst + kSecond + kThird);
    startInteractive();
    const std::vector<QStringList> rows = historyRows(program->window());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "08:24:34");
    EXPECT_EQ(rows[1][2], "/yedek/06.12.2026/6122026.953.ksd");
    EXPECT_EQ(rows[2][0], "07.12.2026");
    EXPECT_TRUE(entryButtonsEnabled()); // before any click
}

TEST_F(History, ConfirmedRemovalRewritesTheFileReloadsAndDisablesTheButtons) {
    writeBytes(programFile("yedekleme.lst"), kFirst + kSecond + kThird);
    writeBytes(folder.file("6122026.953.ksd"), "archive");
    startInteractive();
    clickItem(1);
    dialogs.answers = {true};
    clickRemove();

    ASSERT_EQ(dialogs.of("ask").size(), 1u);
    EXPECT_EQ(dialogs.of("ask")[0].text, "Seçmiş Olduğunuz Yedek Birimi Silinsin mi?");
    EXPECT_EQ(dialogs.of("ask")[0].title, "UYARI");
    EXPECT_EQ(dialogs.of("ask")[0].icon, MessageIcon::Question);
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")), kFirst + kThird);
    EXPECT_EQ(program->window().historyCount(), 2);
    EXPECT_FALSE(control<QPushButton>(program->window(), "Command3")->isEnabled());
    EXPECT_FALSE(control<QPushButton>(program->window(), "Command4")->isEnabled());
    EXPECT_FALSE(end.status.has_value());

    clickItem(0); // a click enables them again
    EXPECT_TRUE(entryButtonsEnabled());
}

TEST_F(History, AnsweringNoChangesNothing) {
    writeBytes(programFile("yedekleme.lst"), kFirst + kSecond);
    startInteractive();
    clickItem(0);
    dialogs.answers = {false};
    clickRemove();
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")), kFirst + kSecond);
    EXPECT_EQ(program->window().historyCount(), 2);
    EXPECT_TRUE(entryButtonsEnabled());
}

TEST_F(History, WithAnEmptyListOrNoSelectionNothingIsAskedOrChanged) {
    startInteractive();
    clickRemove();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(QFileInfo::exists(programFile("yedekleme.lst")));

    writeBytes(programFile("yedekleme.lst"), kFirst);
    program->window().showHistory(store::History::parse(kFirst));
    clickRemove(); // items, none selected: the user is told to choose one
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.of("inform")[0].text, "LÜTFEN ÖNCE LİSTEDEN BİR YEDEK SEÇİN.");
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")), kFirst);
    EXPECT_TRUE(entryButtonsEnabled());
}

TEST_F(History, RemovingTheOnlyRecordLeavesAnEmptyFileAndAnEmptyList) {
    writeBytes(programFile("yedekleme.lst"), kSecond);
    startInteractive();
    clickItem(0);
    dialogs.answers = {true};
    clickRemove();
    EXPECT_EQ(readBytes(programFile("yedekleme.lst")), QByteArray());
    EXPECT_EQ(program->window().historyCount(), 0);
    EXPECT_FALSE(entryButtonsEnabled());
}

TEST_F(History, RemovalWithTheFileGoneCreatesNothingAndStillDisables) {
    writeBytes(programFile("yedekleme.lst"), kFirst + kSecond);
    startInteractive();
    QFile::remove(programFile("yedekleme.lst"));
    clickItem(1);
    dialogs.answers = {true};
    clickRemove();
    EXPECT_FALSE(QFileInfo::exists(programFile("yedekleme.lst")));
    EXPECT_FALSE(QFileInfo::exists(programFile("yedek.yedek")));
    EXPECT_EQ(program->window().historyCount(), 2);
    EXPECT_FALSE(entryButtonsEnabled());
}

TEST_F(History, ARecordCutShortDoesNotStopTheStart) {
    writeBytes(programFile("yedekleme.lst"), kFirst + kSecond + "\"07.12.2026\",\"10:0");
    startInteractive();
    EXPECT_FALSE(end.status.has_value());
    EXPECT_EQ(program->window().historyCount(), 2);
}

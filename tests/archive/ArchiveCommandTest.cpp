#include "archive/ArchiveCommand.h"
#include "base/Failure.h"

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::archive;

namespace {

const QString kBackupExample = QStringLiteral(
    "<password=6150937284><recurse-on-subfolders><include-system-and-hidden-files>"
    "<zip-compression-mode=add-to-zipfile><compression-level=6>"
    "<directory-with-the-files-to-compress=/PROGRAM><destination-directory=/YEDEK/06.12.2026>"
    "<destination-zipfile=6122026.953.ksd><files-selection=*.*>");

const QString kRestoreExample = QStringLiteral(
    "<zipfile=/YEDEK/06.12.2026/6122026.82434.ksd><files-selection=*.*>"
    "<password=6150937284><destination-path=/PROGRAM/><file-extraction-mode=overwrite>");

void expectRefused(const QString& command, bool compress) {
    try {
        if (compress) {
            parseCompressCommand(command);
        } else {
            parseExtractCommand(command);
        }
        ADD_FAILURE() << "accepted: " << command.toStdString();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::InvalidCommand) << command.toStdString();
        EXPECT_FALSE(failure.description().isEmpty());
    }
}

} // namespace

TEST(ArchiveCommand, BuildersGiveTheExactCommandsOfABackupAndARestore) {
    EXPECT_EQ(buildCompressCommand("/PROGRAM", "/YEDEK/06.12.2026", "6122026.953.ksd"),
              kBackupExample);
    EXPECT_EQ(buildExtractCommand("/YEDEK/06.12.2026/6122026.82434.ksd", "/PROGRAM"),
              kRestoreExample);
}

TEST(ArchiveCommand, AFolderAtTheRootGetsADoubledSeparator) {
    EXPECT_TRUE(buildExtractCommand("/a.ksd", "/").contains("<destination-path=//>"));
    EXPECT_EQ(parseExtractCommand(buildExtractCommand("/a.ksd", "/")).destinationFolder, "/");
}

TEST(ArchiveCommand, EveryKeyOfABackupIsRead) {
    const CompressCommand c = parseCompressCommand(kBackupExample);
    EXPECT_EQ(c.password, "6150937284");
    EXPECT_TRUE(c.recurse);
    EXPECT_TRUE(c.includeHidden);
    EXPECT_EQ(c.level, 6);
    EXPECT_EQ(c.sourceFolder, "/PROGRAM");
    EXPECT_EQ(c.destinationFolder, "/YEDEK/06.12.2026");
    EXPECT_EQ(c.archiveFileName, "6122026.953.ksd");

    const CompressCommand minimal = parseCompressCommand(
        "<password=x><directory-with-the-files-to-compress=/a><destination-directory=/b>"
        "<destination-zipfile=c.ksd><compression-level=0>");
    EXPECT_FALSE(minimal.recurse);
    EXPECT_FALSE(minimal.includeHidden);
    EXPECT_EQ(minimal.level, 0);
}

TEST(ArchiveCommand, EveryKeyOfARestoreIsRead) {
    const ExtractCommand e = parseExtractCommand(kRestoreExample);
    EXPECT_EQ(e.archivePath, "/YEDEK/06.12.2026/6122026.82434.ksd");
    EXPECT_EQ(e.password, "6150937284");
    EXPECT_EQ(e.destinationFolder, "/PROGRAM");
    EXPECT_EQ(parseExtractCommand("<zipfile=/a.ksd><destination-path=/p/>"
                                  "<file-extraction-mode=overwrite>")
                  .password,
              QString());
}

TEST(ArchiveCommand, MalformedCommandsAreRefusedNotGuessed) {
    expectRefused("", true);
    expectRefused(" " + kBackupExample, true);                   // text outside items
    expectRefused(kBackupExample + "x", true);                   // trailing text
    expectRefused(kBackupExample.chopped(1), true);              // unclosed item
    expectRefused(kBackupExample + "<password=1>", true);        // repeated key
    expectRefused(kBackupExample + "<zipfile=/a.ksd>", true);    // a restore's key
    expectRefused(kBackupExample + "<delete-everything>", true); // unknown key
    expectRefused(
        QString(kBackupExample).replace("<recurse-on-subfolders>", "<recurse-on-subfolders=1>"),
        true);
    expectRefused(
        QString(kBackupExample).replace("<compression-level=6>", "<compression-level=12>"), true);
    expectRefused(QString(kBackupExample).replace("<compression-level=6>", "<compression-level>"),
                  true);
    expectRefused(
        QString(kBackupExample).replace("<files-selection=*.*>", "<files-selection=*.db>"), true);
    expectRefused(QString(kBackupExample).replace("6122026.953.ksd", "../x.ksd"), true);
    expectRefused(QString(kBackupExample).replace("<password=6150937284>", ""), true);
    expectRefused(QString(kBackupExample).replace("/PROGRAM", ""), true);
    expectRefused(QString(kBackupExample).replace("add-to-zipfile", "replace"), true);
    expectRefused(QString(kRestoreExample).replace("<file-extraction-mode=overwrite>", ""), false);
    expectRefused(QString(kRestoreExample).replace("overwrite", "skip"), false);
    expectRefused(
        QString(kRestoreExample).replace("<zipfile=/YEDEK/06.12.2026/6122026.82434.ksd>", ""),
        false);
    expectRefused("<zipfile=/a.ksd><<destination-path=/p/><file-extraction-mode=overwrite>", false);
    expectRefused("<=x><zipfile=/a.ksd><destination-path=/p/><file-extraction-mode=overwrite>",
                  false);
}

TEST(ArchiveCommand, APathTheGrammarCannotCarryIsRefusedByTheBuilders) {
    EXPECT_FALSE(fitsCommandValue("/yedek/a>b"));
    EXPECT_TRUE(fitsCommandValue("/yedek/a<b, c=d"));
    EXPECT_THROW(buildCompressCommand("/prog", "/yedek/a>b/07-12-26", "1.ksd"), Failure);
    EXPECT_THROW(buildExtractCommand("/yedek/a>b/1.ksd", "/prog"), Failure);
    // '<', '=' and ',' inside a value are carried as they are
    const QString command = buildCompressCommand("/p<r=o,g", "/y", "1.ksd");
    EXPECT_EQ(parseCompressCommand(command).sourceFolder, "/p<r=o,g");
}

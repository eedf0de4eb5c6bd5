#include "store/TargetSetting.h"
#include "support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace kavlento::store;
using kavlento::testing::TempFolder;

namespace {
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
} // namespace

TEST(TargetSetting, StoredBytesAreExactlyTheKnownExamples) {
    TempFolder folder;
    const TargetSetting setting(folder.path());

    setting.save(QStringLiteral("E:\\YEDEKLER"));
    EXPECT_EQ(folder.read("yedekleme.dat"), hex("22453A5C59454445 4B4C4552220D0A"));

    setting.save(QString());
    EXPECT_EQ(folder.read("yedekleme.dat"), hex("22220D0A"));

    setting.save(QStringLiteral("D:\\ARŞİV, ESKİ"));
    EXPECT_EQ(folder.read("yedekleme.dat"), hex("22443A5C4152DEDD562C2045534BDD220D0A"));
}

TEST(TargetSetting, TextsSurviveASaveAndALoad) {
    TempFolder folder;
    const TargetSetting setting(folder.path());
    for (const QString& target :
         {QStringLiteral("D:\\ARŞİV, ESKİ"), QStringLiteral("  /yedek/iki boşluk  "),
          QStringLiteral("/media/Ğül,Işık/ç"), QString()}) {
        setting.save(target);
        EXPECT_EQ(setting.load(), std::optional<QString>(target));
    }
}

TEST(TargetSetting, AbsentFileReadsAsNothingAndIsNotCreated) {
    TempFolder folder;
    const TargetSetting setting(folder.path());
    EXPECT_EQ(setting.load(), std::nullopt);
    EXPECT_FALSE(folder.exists("yedekleme.dat"));

    QDir(folder.path()).mkdir("yedekleme.dat"); // a folder of that name counts as absent
    EXPECT_EQ(setting.load(), std::nullopt);
}

TEST(TargetSetting, OnlyTheFirstFieldCounts) {
    EXPECT_EQ(TargetSetting::decode("\"/a\",\"/b\"\r\n\"/c\"\r\n"), QStringLiteral("/a"));
    EXPECT_EQ(TargetSetting::decode("\"/a, b\""), QStringLiteral("/a, b"));
}

TEST(TargetSetting, ContentTheWriterNeverProducesHasADefinedReading) {
    EXPECT_EQ(TargetSetting::decode(""), QString());               // empty file: no target
    EXPECT_EQ(TargetSetting::decode("\r\n\"/a\"\r\n"), QString()); // first line empty
    EXPECT_EQ(TargetSetting::decode("/yedek/a,b\r\n"), QStringLiteral("/yedek/a"));
    EXPECT_EQ(TargetSetting::decode("  /yedek/a  \r\n"), QStringLiteral("/yedek/a"));
    EXPECT_EQ(TargetSetting::decode("\"/yedek/cut"), QStringLiteral("/yedek/cut"));
}

TEST(TargetSetting, SavingLeavesNoTemporaryFileBehind) {
    TempFolder folder;
    const TargetSetting setting(folder.path());
    folder.write("yedekleme.dat.tmp", "left by a crash");
    setting.save(QStringLiteral("/yedek"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"yedekleme.dat"});
}

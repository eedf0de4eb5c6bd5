#include "fs/NewFile.h"
#include "base/Failure.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

// Whoever may write where a new file goes can put a link in its folder's
// place, before or while it is written: the file never goes through it.
TEST(NewFile, NeverGoesThroughALinkInItsFoldersPlace) {
    const TempFolder folder;
    const QString dated = folder.file("gun");
    const QString elsewhere = folder.file("baska");
    QDir().mkpath(dated);
    QDir().mkpath(elsewhere);
    makeLink(folder.file("bag"), elsewhere);
    const fs::OpenFolder top = fs::OpenFolder::open(folder.path().toStdString(), {});
    EXPECT_THROW(top.ownFolder("bag", 0755, {}), Failure);

    fs::NewFile file(top.ownFolder("gun", 0755, {}), "a.ksd", 0600, "deneme");
    EXPECT_EQ(fs::lookUp(file.file(), "a.ksd").mode, 0600u); // nobody else reads it, ever
    fs::writeAllAt(file.file(), 0, "veri", 4, "a.ksd");
    ASSERT_TRUE(QDir().rename(dated, folder.file("gun-eski")));
    makeLink(dated, elsewhere);
    ASSERT_TRUE(file.publishAs("a.ksd"));
    EXPECT_EQ(readBytes(folder.file("gun-eski/a.ksd")), "veri");
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

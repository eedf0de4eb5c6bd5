#include "fs/FolderScanner.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

std::map<std::string, EntryKind> listed(const fs::ScannedTree& tree) {
    std::map<std::string, EntryKind> kinds;
    for (const TreeEntry& entry : tree.entries) {
        kinds.emplace(entry.path, entry.kind);
    }
    return kinds;
}

} // namespace

// The folder's owner swaps sub-folders for links to a folder only someone
// else may read, before the scan looks at one and after it has opened
// another: the scan lists what lies in the folder, never what a link leads to,
// and reaches paths longer than the system's limit for one path.
TEST(FolderScanner, ListsOnlyTheFoldersOwnEntriesWhateverIsSwappedIn) {
    const TempFolder work;
    const QString root = work.file("program");
    writeFile(root + "/a.txt", "a");
    writeFile(root + "/b/kendi.txt", "b");
    writeFile(root + "/c/kendi.txt", "c");
    writeFile(work.file("gizli/kendi.txt"), "başkasının");
    // Longer than one path may be: made one name at a time. (Wine turns every
    // name into one Linux path, which holds at most 4096 bytes.)
    const bool deepPaths = !runningUnderWine();
    std::string deep = "derin";
    for (int level = 0; level < 20; ++level) {
        deep += "/" + std::string(220, static_cast<char>('a' + level));
    }
    const std::string longest = deep + "/son.txt";
    if (deepPaths) {
        const fs::OpenFolder top = fs::OpenFolder::open(root.toStdString(), {});
        top.makeFolders(deep, {});
        top.createFile(longest, 0644);
    }
    const auto swap = [&](const QString& name) {
        ASSERT_TRUE(QDir().rename(root + "/" + name, work.file(name + "-eski")));
        makeLink(root + "/" + name, work.file("gizli"));
    };

    const bool links = linksCanBeMadeIn(root);
    fs::ScanOptions options;
    options.leaveOut = [&](const fs::FoundEntry& entry) {
        if (!links) {
            return false;
        }
        if (entry.relative == "a.txt") {
            swap("b"); // before the scan reaches it
        } else if (entry.relative == "c") {
            swap("c"); // once it is open
        }
        return false;
    };
    const auto kinds =
        listed(fs::scanFolder(fs::OpenFolder::open(root.toStdString(), {}), options));

    ASSERT_GT(longest.size(), 4096u);
    EXPECT_EQ(kinds.count(longest), deepPaths ? 1u : 0u);
    if (!links) {
        GTEST_SKIP() << "this system makes no links here, so none can be swapped in";
    }
    EXPECT_EQ(kinds.at("b"), EntryKind::Link);
    EXPECT_EQ(kinds.count("b/kendi.txt"), 0u);
    EXPECT_EQ(kinds.at("c"), EntryKind::Folder);
    EXPECT_EQ(kinds.at("c/kendi.txt"), EntryKind::File); // the opened folder's own
}

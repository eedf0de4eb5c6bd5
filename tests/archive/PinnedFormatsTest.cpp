#include "fs/FolderTransaction.h"
#include "fs/RestoreRecovery.h"
#include "support/ArchiveJobsTestBase.h"

#include <QDir>

#include <algorithm>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

const QString kPinned = QStringLiteral(PINNED_FORMATS);

Tree pinnedTree(const QString& name) {
    return treeFromText(readBytes(kPinned + "/" + name + ".tree"));
}

} // namespace

// Archives kept as files, each beside the tree it held when it was kept: one
// this program wrote, 7-Zip's AES, Info-ZIP's traditional encryption, and one
// with ZIP64 fields. Each must restore so after any later change.
TEST(PinnedFormats, EveryArchiveKeptHereRestoresAsItDidWhenItWasKept) {
    for (const char* name : {"kavlento", "7zip-aes256", "infozip-traditional", "infozip-zip64"}) {
        SCOPED_TRACE(name);
        const TempFolder into;
        const QString file = kPinned + "/" + name + (QString(name) == "kavlento" ? ".ksd" : ".zip");
        const Tree kept = pinnedTree(name);
        const bool holdsLink = std::any_of(
            kept.begin(), kept.end(), [](const auto& entry) { return entry.second.type == 'l'; });
        if (holdsLink && !linksCanBeMadeIn(into.path())) {
            EXPECT_THROW(extractArchive(file, into.path()), Failure);
            EXPECT_EQ(firstDifference({}, snapshot(into.path())), "");
            continue;
        }
        extractArchive(file, into.path());
        EXPECT_EQ(firstDifference(kept, snapshot(into.path())), "");
    }
}

// A restore cut off midway, its journal kept as a file in this build's format
// and in an earlier build's: the next start puts the folder back as it was.
TEST(PinnedFormats, ARestoreJournalKeptHereIsUndoneAtTheNextStart) {
    for (const auto& [journal, working] :
         {std::pair{"gunluk-kj4", "yarim-calisma-kj4"}, {"gunluk", "yarim-calisma"}}) {
        SCOPED_TRACE(journal);
        const TempFolder folder;
        plantTree(folder.path(), pinnedTree("yarim"));
        const QString into = folder.file(".kavlento-geri-yukleme");
        plantTree(into, pinnedTree(working));
        ASSERT_TRUE(QFile::copy(kPinned + "/" + journal, into + "/gunluk"));
        fs::RestoreRecovery::recover(fs::toSystemPath(folder.path()));
        EXPECT_EQ(firstDifference(pinnedTree("yarim-sonra"), snapshot(folder.path())), "");
    }
}

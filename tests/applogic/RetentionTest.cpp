#include "app/Retention.h"
#include "archive/CheckedArchives.h"
#include "store/HistoryFile.h"
#include "support/ArchiveJobsTestBase.h"
#include "support/ArchiveTestSupport.h"
#include "support/HistoryRecords.h"
#ifndef _WIN32
#include "support/OwnLocale.h"
#endif
#include "support/TempFolder.h"

#include <QDir>
#include <QDirIterator>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// Only the lines a run leaves for the log.
class NotedDialogs final : public app::UserDialogs {
public:
    QStringList notes;
    void note(const QString& line) override { notes.append(line); }
    void inform(const QString&, const QString&, app::MessageIcon) override {}
    bool askYesNo(const QString&, const QString&, app::MessageIcon, app::DefaultAnswer) override {
        return false;
    }
    void reportFailure(int, const QString&) override {}
    QString pickArchiveFile(const QString&) override { return {}; }
    QString pickFolder(const QString&, const QString&) override { return {}; }
    void showProgress() override {}
    void showStep(const app::ProgressStep&) override {}
    void hideProgress() override {}
};

// What lies in the target before a retention: "dated/name" and what it is.
enum class Kind {
    Ours,
    Damaged,
    OtherFolders,
    Unmarked,
    NoArchive,
    OtherMachines,  // this folder's path and host name, on a clone
    InAnOpenFolder, // ours, in a dated folder anyone may write in
    MovedFolders,   // this machine's, from a folder that is gone
};
struct Planted {
    const char* path;
    Kind kind;
    std::int64_t moment = 0;
};

class Retention : public ::testing::Test {
protected:
    TempFolder work;
    QString program = work.file("program");
    QString other = work.file("baska");
    QString target = work.file("hedef");
    NotedDialogs dialogs;

    void SetUp() override {
        writeFile(program + "/veri.txt", "veri");
        writeFile(other + "/veri.txt", "başka");
        QDir().mkpath(target);
    }

    void plant(const Planted& file) {
        const QString path = target + "/" + file.path;
        const QString folder = QFileInfo(path).path();
        const QString name = QFileInfo(path).fileName();
        QDir().mkpath(folder);
        switch (file.kind) {
        case Kind::Ours:
        case Kind::Damaged:
            compressFolder(program, folder, name, 0, {}, file.moment);
            break;
        case Kind::OtherFolders:
            compressFolder(other, folder, name, 0, {}, file.moment);
            break;
        case Kind::OtherMachines:
            compressFolder(program, folder, name, 0, {}, file.moment);
            replaceOnce(path, QByteArray::fromStdString(fs::machineIdentity()),
                        QByteArray(32, 'c'));
            break;
        case Kind::InAnOpenFolder:
            compressFolder(program, folder, name, 0, {}, file.moment);
            letOthersWrite(folder);
            break;
        case Kind::MovedFolders: {
            const QString moved = work.file("tasindi");
            writeFile(moved + "/veri.txt", "veri");
            compressFolder(moved, folder, name, 0, {}, file.moment);
            QDir(moved).removeRecursively();
            break;
        }
        case Kind::Unmarked:
            writeRawZip(path, {{"veri.txt", "eski biçim"}}, RawEncryption::Aes256);
            break;
        case Kind::NoArchive:
            writeFile(path, "bir arşiv değil");
            break;
        }
        if (file.kind == Kind::Damaged) {
            damage(path);
        }
    }

    // Flips a byte of the first entry's encrypted data, past its salt and
    // password check, which its HMAC covers.
    static void damage(const QString& path) {
        QByteArray bytes = readBytes(path);
        const auto at = [&](int i) { return static_cast<unsigned char>(bytes[i]); };
        const int data = 30 + (at(26) | at(27) << 8) + (at(28) | at(29) << 8) + 18;
        bytes[data] = static_cast<char>(bytes[data] ^ 1);
        writeBytes(path, bytes);
    }

    static void replaceOnce(const QString& path, const QByteArray& from, const QByteArray& to) {
        QByteArray bytes = readBytes(path);
        const qsizetype at = bytes.indexOf(from);
        ASSERT_GE(at, 0);
        writeBytes(path, bytes.replace(at, from.size(), to));
    }

    // The archives, below the target, that the notes holding `what` name.
    QStringList namedBy(const QString& what) const {
        QStringList paths;
        for (const QString& note : dialogs.notes.filter(what)) {
            const QString path = note.mid(note.indexOf(target)).section(' ', 0, 0);
            paths.append(QDir(target).relativeFilePath(path));
        }
        return paths;
    }

    QStringList left() const {
        QStringList files;
        for (QDirIterator it(target, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            files.append(QDir(target).relativeFilePath(it.next()));
        }
        files.sort();
        return files;
    }
};

struct Case {
    const char* what;
    std::vector<Planted> planted;
    int keep;
    QStringList left;
    QString justTaken{};   // below the target
    QStringList ahead{};   // named as from ahead of the clock
    QStringList foreign{}; // named as where another user could have put them
    int elsewhere = 0;     // counted in a line as from the folder's earlier place
};
constexpr std::int64_t kNow = 1000;

} // namespace

// Retention deletes only archives of this folder, in the target's dated
// folders, beyond the newest `keep` that read whole; a damaged one stays and
// is not counted; whatever does not say it is this folder's stays. The one
// just taken counts first whatever its moment; one from ahead of the clock is
// named, and neither counted nor deleted.
TEST_F(Retention, DeletesOnlyThisFoldersArchivesBeyondTheNewestSoundOnes) {
    const Case cases[] = {
        {"the newest two of four",
         {{"14-06-2031/1.1.ksd", Kind::Ours, 100},
          {"15-06-2031/1.2.ksd", Kind::Ours, 200},
          {"15-06-2031/1.3.ksd", Kind::Ours, 300},
          {"16-06-2031/1.4.ksd", Kind::Ours, 400}},
         2,
         {"15-06-2031/1.3.ksd", "16-06-2031/1.4.ksd"}},
        {"a damaged newest is kept and not counted",
         {{"14-06-2031/1.1.ksd", Kind::Ours, 100},
          {"15-06-2031/1.2.ksd", Kind::Ours, 200},
          {"16-06-2031/1.3.ksd", Kind::Damaged, 300}},
         1,
         {"15-06-2031/1.2.ksd", "16-06-2031/1.3.ksd"}},
        {"a damaged older one is not deleted either, when read",
         {{"14-06-2031/1.1.ksd", Kind::Damaged, 100}, {"15-06-2031/1.2.ksd", Kind::Ours, 200}},
         2,
         {"14-06-2031/1.1.ksd", "15-06-2031/1.2.ksd"}},
        {"other folders', unmarked and no archives stay, and do not count",
         {{"13-06-2031/1.0.ksd", Kind::Ours, 50},
          {"14-06-2031/2.1.ksd", Kind::OtherFolders, 900},
          {"14-06-2031/3.1.ksd", Kind::Unmarked},
          {"14-06-2031/4.1.ksd", Kind::NoArchive},
          {"15-06-2031/1.2.ksd", Kind::Ours, 200}},
         1,
         {"14-06-2031/2.1.ksd", "14-06-2031/3.1.ksd", "14-06-2031/4.1.ksd", "15-06-2031/1.2.ksd"}},
        {"nothing outside dated folders",
         {{"Belgeler/1.1.ksd", Kind::Ours, 100},
          {"1.2.ksd", Kind::Ours, 150},
          {"15-06-2031/1.3.ksd", Kind::Ours, 200}},
         1,
         {"1.2.ksd", "15-06-2031/1.3.ksd", "Belgeler/1.1.ksd"}},
        {"the one just taken, oldest by a clock set back, keeping one",
         {{"14-06-2031/1.1.ksd", Kind::Ours, 100}, {"01-01-2020/1.2.ksd", Kind::Ours, 50}},
         1,
         {"01-01-2020/1.2.ksd"},
         "01-01-2020/1.2.ksd"},
        {"keeping two, past one from ahead of the clock beyond a correction",
         {{"14-06-2031/1.1.ksd", Kind::Ours, 100},
          {"15-06-2031/1.2.ksd", Kind::Ours, kNow + 300},
          {"01-01-2030/1.3.ksd", Kind::Ours, kNow + 900},
          {"01-01-2020/1.4.ksd", Kind::Ours, 50}},
         2,
         {"01-01-2020/1.4.ksd", "01-01-2030/1.3.ksd", "15-06-2031/1.2.ksd"},
         "01-01-2020/1.4.ksd",
         {"01-01-2030/1.3.ksd"}},
        {"a clone's, of the same path and host name, is not this folder's",
         {{"14-06-2031/1.1.ksd", Kind::Ours, 100},
          {"15-06-2031/1.2.ksd", Kind::OtherMachines, 200}},
         1,
         {"14-06-2031/1.1.ksd", "15-06-2031/1.2.ksd"}},
        {"copies where another user could have put them neither count nor go",
         {{"14-06-2031/1.1.ksd", Kind::Ours, 100},
          {"15-06-2031/1.2.ksd", Kind::Ours, 200},
          {"16-06-2031/1.3.ksd", Kind::InAnOpenFolder, 300}},
         1,
         {"15-06-2031/1.2.ksd", "16-06-2031/1.3.ksd"},
         {},
         {},
         {"16-06-2031/1.3.ksd"}},
        {"a moved folder's stay, said in a line",
         {{"14-06-2031/1.1.ksd", Kind::MovedFolders, 100},
          {"15-06-2031/1.2.ksd", Kind::MovedFolders, 150},
          {"16-06-2031/1.3.ksd", Kind::Ours, 200}},
         1,
         {"14-06-2031/1.1.ksd", "15-06-2031/1.2.ksd", "16-06-2031/1.3.ksd"},
         {},
         {},
         {},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        for (const Planted& file : c.planted) {
            plant(file);
        }
        const store::HistoryFile history(program);
        dialogs.notes.clear();
        const QString taken = c.justTaken.isEmpty() ? QString() : target + "/" + c.justTaken;
        app::Retention(history, dialogs, program).keepNewest(c.keep, target, taken, kNow);
        EXPECT_EQ(left(), c.left);
        EXPECT_EQ(namedBy("saati ileride görünen yedek: "), c.ahead);
        EXPECT_EQ(namedBy("başka bir kullanıcının"), c.foreign);
        const QStringList elsewhere = dialogs.notes.filter("eski yerinden");
        EXPECT_EQ(elsewhere.isEmpty() ? 0 : elsewhere.front().section(' ', 0, 0).toInt(),
                  c.elsewhere);
    }
}

// The history stays true: the records of deleted archives go, and so do those
// whose archive is gone from a dated folder that is there; records of
// archives that are there, or on a disk that is not, stay.
TEST_F(Retention, TheHistoryKeepsOnlyRecordsThatLeadToArchives) {
    plant({"14-06-2031/1.1.ksd", Kind::Ours, 100});
    plant({"15-06-2031/1.2.ksd", Kind::Ours, 200});
    const store::HistoryFile history(program);
    const QStringList paths{target + "/14-06-2031/1.1.ksd", target + "/15-06-2031/1.2.ksd",
                            target + "/15-06-2031/silinmis.ksd", "/takili-degil/1-1-2031/a.ksd"};
    for (const QString& path : paths) {
        history.append({"15-06-2031", "09:00:00", path});
    }
    app::Retention(history, dialogs, program).keepNewest(1, target, paths[1], kNow);
    QStringList kept;
    for (const store::HistoryRecord& record : recordsOf(*history.load())) {
        kept.append(record.archivePath);
    }
    EXPECT_EQ(kept, (QStringList{paths[1], paths[3]}));
    EXPECT_FALSE(QFileInfo::exists(target + "/14-06-2031")); // emptied, so gone
    EXPECT_TRUE(dialogs.notes.contains("eski yedek silindi: " + paths[0]));
    EXPECT_TRUE(
        dialogs.notes.contains("yedek dosyası yok, kaydı geçmişten çıkarıldı: " + paths[2]));
}

// An archive read whole once is not read again while it is the very file that
// was read, unchanged; one changed since is, and a list that another user
// could have written is not believed.
TEST_F(Retention, AnArchiveFoundSoundIsReadAgainOnlyWhenItChanged) {
    plant({"14-06-2031/1.1.ksd", Kind::Ours, 100});
    plant({"15-06-2031/1.2.ksd", Kind::Ours, 200});
    const QString older = target + "/14-06-2031/1.1.ksd";
    const store::HistoryFile history(program);
    const auto keepNewest = [&](int count) {
        dialogs.notes.clear();
        return app::Retention(history, dialogs, program).keepNewest(count, target, {}, kNow);
    };
    EXPECT_TRUE(keepNewest(2));
    EXPECT_EQ(readBytes(program + "/.kavlento-denetlenen").count('\n'), 3);

    damage(older); // in place: its change time moves
    EXPECT_FALSE(keepNewest(1));
    EXPECT_EQ(dialogs.notes.filter("BOZUK yedek").size(), 1);
    EXPECT_EQ(left().size(), 2);

    // A list vouching for the damaged archive as it is now spares its reading:
    // believed, it lets the archive go; written by anyone, it is not believed.
    const auto vouch = [&](bool othersMayWrite) {
        const fs::PathInfo now = fs::lookUp(older.toStdString());
        archive::CheckedArchives list(program.toStdString());
        list.add(now);
        list.save({now});
        if (othersMayWrite) {
            letOthersWrite(program + "/.kavlento-denetlenen");
        }
    };
    vouch(true);
    EXPECT_FALSE(keepNewest(1));
    EXPECT_EQ(left().size(), 2);
    vouch(false);
    EXPECT_TRUE(keepNewest(1));
    EXPECT_EQ(left(), QStringList{"15-06-2031/1.2.ksd"});
}

#ifndef _WIN32 // a locale of its own, made with localedef
// Where the short date has letters, the dated folders the program names are
// still its own: the older archive of two goes.
TEST_F(Retention, DatedFoldersOfARegionWhoseDatesHaveLettersAreWeighed) {
    const OwnLocale norwegian(work.file("yereller"), "nb_NO");
    ASSERT_TRUE(norwegian.made()) << "localedef (Debian package locales) could not make it";
    plant({"14. des. 2031/14122031.900.ksd", Kind::Ours, 100});
    plant({"15. des. 2031/15122031.900.ksd", Kind::Ours, 200});
    EXPECT_TRUE(app::Retention(store::HistoryFile(program), dialogs, program)
                    .keepNewest(1, target, {}, kNow));
    EXPECT_EQ(left(), QStringList{"15. des. 2031/15122031.900.ksd"});
}
#endif

#pragma once

#include "app/UserDialogs.h"
#include "fs/File.h"
#include "fs/OpenFolder.h"
#include "store/HistoryFile.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace kavlento::app {

// --sakla N: after a new backup has completed and passed its check, the
// archives this program wrote into dated folders of the current target beyond
// the newest N are deleted, with their records and the dated folders they
// leave empty. An archive counts only when the history lists it, its file
// lies, once every link and ".." of the record is resolved, in a folder
// directly inside the target, and it opens as one of Kavlento's archives; it
// counts once however many records name it. Nothing else is ever deleted.
class Retention {
public:
    Retention(const store::HistoryFile& history, UserDialogs& dialogs)
        : history_(history), dialogs_(dialogs) {}

    void keepNewest(int count, const QString& target);

private:
    // One archive of the target, and every record that names it.
    struct Archive {
        std::string datedFolder; // its folder's name in the target
        std::string fileName;
        fs::PathInfo file;
        QStringList records;
    };

    // The archives of the target the history lists, newest first.
    std::vector<Archive> listedArchives(const fs::OpenFolder& target) const;
    // Where a record's archive lies, when that is a file in a folder directly
    // inside the target, and named as archives are.
    static std::optional<Archive> locate(const fs::OpenFolder& target, const QString& record);
    // Whether the archive is one of Kavlento's; says why when it is not.
    bool isOurs(const fs::OpenFolder& target, const Archive& archive, const QString& shown) const;
    // Deletes the archive; false, deleting nothing, when another file has
    // taken its name since it was recognised.
    bool remove(const fs::OpenFolder& target, const Archive& archive) const;
    // Removes the records of deleted archives, and the dated folders they left empty.
    void forget(const fs::OpenFolder& target, const std::vector<Archive>& deleted) const;

    const store::HistoryFile& history_;
    UserDialogs& dialogs_;
};

} // namespace kavlento::app
